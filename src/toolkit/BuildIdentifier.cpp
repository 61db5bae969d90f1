#include "toolkit/BuildIdentifier.h"

#include "toolkit/BuildToolchain.h"
#include "toolkit/Toolkit.h"

namespace talvine::tk {

const char* buildIdentifier() {
    return TALVINE_VIEW_TOOLCHAIN ", toolkit " TALVINE_TOOLKIT_INTERFACE;
}

} // namespace talvine::tk
