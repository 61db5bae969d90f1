// Which view shows the dialogs in Talvine.dll: the Win32 view when the
// host's thread shows a window (an editor calling from its user-interface
// thread), the headless backend otherwise (a console host that answers the
// dialogs through the automation API).  TALVINE_VIEW=win32 or
// TALVINE_VIEW=headless in the environment decides instead.  There is no
// view module to load: the Win32 view is part of the DLL.
#include "plugin/ViewChoice.h"

#include "toolkit/Application.h"
#include "views/win32/Win32View.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace talvine::plugin {
namespace {
// The application object the view was chosen for (plain data).
const void* gChosenFor = nullptr;

bool threadShowsWindow() {
    for (HWND hwnd : views::threadWindows())
        if (IsWindowVisible(hwnd)) return true;
    return false;
}
} // namespace

bool qtApplicationRunning() {
    return false;
}

void chooseView(tk::Application& app) {
    if (gChosenFor == &app) return;
    gChosenFor = &app;
    const char* forced = std::getenv("TALVINE_VIEW");
    if (forced && std::strcmp(forced, "headless") == 0) return;
    if (!(forced && std::strcmp(forced, "win32") == 0) && !threadShowsWindow()) return;
    app.setBackend(std::make_unique<views::Win32View>(app));
}

bool plugView(const std::string&, tk::Application&) {
    return false;
}

} // namespace talvine::plugin
