// The library's choice of view in a process without a Qt application: the
// headless backend stays, even when Qt's libraries are loaded.
#include "plugin/ViewChoice.h"
#include "toolkit/Application.h"
#include "toolkit/Headless.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

namespace talvine {
namespace {

TEST(ViewChoice, KeepsTheHeadlessBackendWithoutQt) {
    EXPECT_FALSE(plugin::qtApplicationRunning());
    tk::Application app;
    plugin::chooseView(app);
    EXPECT_NE(app.headless(), nullptr);
    plugin::chooseView(app); // once per application object: nothing more happens
    EXPECT_NE(app.headless(), nullptr);
}

TEST(ViewChoice, QtLoadedWithoutAnApplicationObjectIsNotAQtApplication) {
    void* core = dlopen("libQt6Core.so.6", RTLD_NOW | RTLD_GLOBAL);
    if (!core) GTEST_SKIP() << "Qt 6 is not installed";
    EXPECT_FALSE(plugin::qtApplicationRunning());
    tk::Application app;
    plugin::chooseView(app);
    EXPECT_NE(app.headless(), nullptr);
}

TEST(ViewChoice, SettingABackendReplacesTheHeadlessOneAndNullRestoresIt) {
    struct Quiet : tk::Backend {
        void showForm(tk::Form&) override {}
        void hideForm(tk::Form&) override {}
        void runModalStep(tk::Form&) override {}
        void startTimer(TimerId, int, std::function<void()>) override {}
        void stopTimer(TimerId) override {}
        void showBox(const tk::Box&) override {}
        void showCursor(Cursor c) override { shown = c; }
        Cursor shown = Cursor::Hourglass;
    };
    tk::Application app;
    auto backend = std::make_unique<Quiet>();
    Quiet* quiet = backend.get();
    app.setBackend(std::move(backend));
    EXPECT_EQ(app.headless(), nullptr);
    EXPECT_EQ(&app.backend(), quiet);
    EXPECT_EQ(quiet->shown, app.cursor()) << "the new view shows the current cursor";
    app.setBackend(nullptr);
    EXPECT_NE(app.headless(), nullptr);
}

TEST(ViewChoice, AReplacedViewStopsWatchingTheModel) {
    struct Watching : tk::Backend, tk::Observer {
        void showForm(tk::Form&) override {}
        void hideForm(tk::Form&) override {}
        void runModalStep(tk::Form&) override {}
        void startTimer(TimerId, int, std::function<void()>) override {}
        void stopTimer(TimerId) override {}
        void showBox(const tk::Box&) override {}
        void showCursor(Cursor) override {}
        void changed(tk::Control&, tk::Change) override {}
        void cursorChanged(Cursor) override { ++*seen; }
        int* seen = nullptr;
    };
    int seen = 0;
    tk::Application app;
    auto view = std::make_unique<Watching>();
    view->seen = &seen;
    app.addObserver(view.get());
    app.setBackend(std::move(view));
    app.setCursor(Cursor::Hourglass);
    EXPECT_EQ(seen, 1);
    app.setBackend(nullptr); // the view is gone: nothing may call it now
    app.setCursor(Cursor::Default);
    EXPECT_EQ(seen, 1);
}

} // namespace
} // namespace talvine
