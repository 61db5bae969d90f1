#include "plugin/Library.h"

#include "core/Host.h"
#include "dialogs/Dialogs.h"
#include "platform/PartageMem.h"
#include "plugin/Params.h"
#include "toolkit/Application.h"

namespace talvine {
namespace {
enum class State { NotStarted, Running, Stopped, Failed };
State gState = State::NotStarted;
// Plain pointer: the module's unload hook runs after static destructors.
tk::Application* gApplication = nullptr;
} // namespace

// The sequence, each step once:
//   1. the C++ runtime (before this runs);
//   2. the shared memory manager, before anything else of ours allocates
//      (when it fails, nothing else starts and the entry points do nothing);
//   3. the form toolkit's application object, which owns the dialogs;
//   4. the modules: slider, distortion, perspective, quarter turns, dialog
//      utilities, crop, resize, tilt;
//   5. the command table.
// Shut-down runs the same steps backwards.
bool startLibrary() {
    if (gState == State::Running) return true;
    if (gState == State::Failed) return false;
    if (!platform::startPartageMem()) {
        gState = State::Failed;
        return false;
    }
    gApplication = new tk::Application();
    dialogs::startDialogs(*gApplication);
    params::buildCommandTable();
    gState = State::Running;
    return true;
}

void stopLibrary() {
    if (gState != State::Running) return;
    params::releaseCommandTable();
    dialogs::stopDialogs();
    delete gApplication; // and the dialogs it owns
    gApplication = nullptr;
    platform::stopPartageMem();
    // Started again, the library is as a freshly loaded module: no callback.
    host::registerCallback(nullptr, 0);
    host::ImgModifiee.newCall();
    gState = State::Stopped;
}

bool libraryRunning() {
    return gState == State::Running;
}

tk::Application& application() {
    if (!gApplication)
        throw tk::ToolkitError("there is no application object: the library is not started");
    return *gApplication;
}

bool hasApplication() {
    return gApplication != nullptr;
}

} // namespace talvine
