// Which view shows the dialogs: the Qt view when the host process runs a Qt
// Widgets application, the headless backend otherwise.
//
// The library links nothing of Qt.  It looks for Qt's application object by
// symbol in the process and, when one exists, loads the view module built
// beside it (TalvineQtView.so) and plugs that module's backend into the
// application object.  Anything missing leaves the headless backend in place.
#pragma once

namespace talvine::tk {
class Application;
}

namespace talvine::plugin {

// Whether a Qt application object exists in this process.
bool qtApplicationRunning();

// Runs once per application object, before its first command: picks the
// view of `app`.  Setting TALVINE_VIEW=headless in the environment keeps the
// headless backend.
void chooseView(tk::Application& app);

// The file name of the view module, looked up beside the module that holds
// this code.
inline constexpr const char* kQtViewModule = "TalvineQtView.so";
// The view module's one entry: makes a backend for the application object
// (a tk::Application*), or returns null when the process runs no Qt Widgets
// application.  The caller owns the tk::Backend it returns.
inline constexpr const char* kQtViewEntry = "talvine_qt_view_create";
using QtViewCreate = void* (*)(void* application);

} // namespace talvine::plugin
