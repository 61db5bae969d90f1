// The view module's entry, looked up by the library when the process runs a
// Qt Widgets application.
#include "toolkit/BuildIdentifier.h"
#include "views/qt/QtView.h"

#include <QApplication>

// The build identifier the library checks before it calls anything else here.
extern "C" __attribute__((visibility("default"))) const char* talvine_qt_view_build() {
    return talvine::tk::buildIdentifier();
}

extern "C" __attribute__((visibility("default"))) void* talvine_qt_view_create(void* application) {
    if (!application || !qobject_cast<QApplication*>(QCoreApplication::instance())) return nullptr;
    try {
        auto* view =
            new talvine::views::QtView(*static_cast<talvine::tk::Application*>(application));
        return static_cast<talvine::tk::Backend*>(view);
    } catch (...) {
        return nullptr;
    }
}
