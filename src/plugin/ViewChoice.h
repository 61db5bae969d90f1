// Which view shows the dialogs: the Qt view when the host process runs a Qt
// Widgets application, the headless backend otherwise.
//
// The library links nothing of Qt.  It looks for Qt's application object by
// symbol in the process and, when one exists, loads the view module built
// beside it (TalvineQtView.so) and plugs that module's backend into the
// application object.  Anything missing leaves the headless backend in place.
//
// The view module is no C boundary: it carries its own copy of the toolkit's
// code and works on the library's C++ objects (the tk::Application, its
// forms and controls, the tk::Backend and tk::Observer it implements), so the
// two modules must agree on the layout and virtual functions of those
// classes and on the standard library types inside them.  They do when they
// come from the same toolkit interface (TALVINE_TOOLKIT_INTERFACE), the same
// project version and the same compiler and version, in the same C++
// standard: the toolkit's build identifier (toolkit/BuildIdentifier.h) says
// exactly that, each module carries its own, and a view whose identifier
// differs (or that has none) is refused before anything of it runs: a line
// on stderr, and the dialogs stay headless.
#pragma once

#include <string>

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
// Its build identifier, which must be this module's tk::buildIdentifier().
inline constexpr const char* kQtViewBuild = "talvine_qt_view_build";
using QtViewBuild = const char* (*)();

// Loads the view module at `path`, checks its build identifier and plugs the
// backend it makes into `app`.  False, with `app` left as it was, when the
// module cannot be loaded, is refused (the line on stderr), lacks its entry
// or makes no backend; a refused module is unloaded again.
bool plugView(const std::string& path, tk::Application& app);

} // namespace talvine::plugin
