#include "dialogs/Dialogs.h"

#include "dialogs/CorrDistor.h"
#include "dialogs/DecoupImg.h"
#include "dialogs/ModifAngle.h"
#include "dialogs/Perspective.h"
#include "dialogs/TailleImg.h"
#include "toolkit/Application.h"

namespace talvine::dialogs {
namespace {
// Plain pointers: nothing to destroy when the module unloads.
constinit Dialogs gDialogs{};

template <class D> void make(tk::Application& app, D*& dialog) {
    dialog = &app.createForm<D>();
}
} // namespace

void startDialogs(tk::Application& app) {
    std::apply([&app](auto*&... dialog) { (make(app, dialog), ...); }, gDialogs);
}

void stopDialogs() {
    gDialogs = {};
}

const Dialogs& dialogs() {
    return gDialogs;
}

} // namespace talvine::dialogs
