// On Windows the dialogs stay with the headless backend: there is no Qt
// view module to load.
#include "plugin/ViewChoice.h"

namespace talvine::plugin {

bool qtApplicationRunning() {
    return false;
}

void chooseView(tk::Application&) {}

bool plugView(const std::string&, tk::Application&) {
    return false;
}

} // namespace talvine::plugin
