// The module's main file: starts the library when the system loads the
// module and shuts it down when it is unloaded.  Only Talvine.so contains it;
// hosts that link the library's code directly call startLibrary themselves.
#include "plugin/Library.h"

namespace {

[[gnu::constructor]] void onLoad() { talvine::startLibrary(); }
[[gnu::destructor]] void onUnload() { talvine::stopLibrary(); }

} // namespace
