#include "plugin/ViewChoice.h"

#include "toolkit/Application.h"
#include "toolkit/BuildIdentifier.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <memory>
#include <string>

namespace talvine::plugin {
namespace {
// The application object the view was chosen for (plain data).
const void* gChosenFor = nullptr;

std::string besideThisModule(const char* file) {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&qtApplicationRunning), &info) || !info.dli_fname)
        return file;
    std::string path = info.dli_fname;
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(file) : path.substr(0, slash + 1) + file;
}
} // namespace

bool qtApplicationRunning() {
    // QCoreApplication::self, the instance pointer; present only when QtCore
    // is in the process, non-null only while an application object lives.
    void* self = dlsym(RTLD_DEFAULT, "_ZN16QCoreApplication4selfE");
    if (!self) return false;
    void* instance = nullptr;
    std::memcpy(&instance, self, sizeof instance);
    // A Widgets application: QApplication's code is loaded too.
    return instance && dlsym(RTLD_DEFAULT, "_ZN12QApplication4execEv");
}

void chooseView(tk::Application& app) {
    if (gChosenFor == &app) return;
    gChosenFor = &app;
    const char* forced = std::getenv("TALVINE_VIEW");
    if (forced && std::strcmp(forced, "headless") == 0) return;
    if (!qtApplicationRunning()) return;
    plugView(besideThisModule(kQtViewModule), app);
}

bool plugView(const std::string& path, tk::Application& app) {
    void* view = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!view) return false;
    auto build = reinterpret_cast<QtViewBuild>(dlsym(view, kQtViewBuild));
    const char* theirs = build ? build() : nullptr;
    if (!theirs || std::strcmp(theirs, tk::buildIdentifier()) != 0) {
        std::fprintf(stderr,
                     "Talvine: the view module %s was built as \"%s\", not as \"%s\": "
                     "the dialogs run without a view\n",
                     path.c_str(), theirs ? theirs : "(no build identifier)",
                     tk::buildIdentifier());
        dlclose(view);
        return false;
    }
    // Kept loaded for the rest of the process: the view's objects may
    // outlive any one start of the library.
    dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD | RTLD_NODELETE);
    auto create = reinterpret_cast<QtViewCreate>(dlsym(view, kQtViewEntry));
    if (!create) return false;
    void* backend = create(&app);
    if (!backend) return false;
    app.setBackend(std::unique_ptr<tk::Backend>(static_cast<tk::Backend*>(backend)));
    return true;
}

} // namespace talvine::plugin
