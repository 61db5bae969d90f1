// The library's choice of view in a process without a Qt application: the
// headless backend stays, even when Qt's libraries are loaded.
#include "plugin/ViewChoice.h"
#include "toolkit/Application.h"
#include "toolkit/BuildIdentifier.h"
#include "toolkit/Headless.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <string>

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

// How often a stand-in view module's entry ran, or -1 when it is not loaded.
int entryCalls(const char* path) {
    void* module = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (!module) return -1;
    const int* calls = static_cast<const int*>(dlsym(module, "talvine_testview_calls"));
    const int n = calls ? *calls : -1;
    dlclose(module);
    return n;
}

TEST(ViewChoice, AViewBuiltAnotherWayIsRefusedWithALineOnStderrAndUnloaded) {
    tk::Application app;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(plugin::plugView(TALVINE_TESTVIEW_OTHER_PATH, app));
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(app.headless(), nullptr);
    EXPECT_THAT(said, ::testing::HasSubstr(TALVINE_TESTVIEW_OTHER_PATH));
    EXPECT_THAT(said, ::testing::HasSubstr("\"Talvine 0.9, another compiler, toolkit 0\""));
    EXPECT_THAT(said, ::testing::HasSubstr(std::string("\"") + tk::buildIdentifier() + "\""));
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_EQ(entryCalls(TALVINE_TESTVIEW_OTHER_PATH), -1) << "its entry never ran, and it is gone";
}

TEST(ViewChoice, AViewOfTheSameBuildIsAskedForItsBackend) {
    tk::Application app;
    ::testing::internal::CaptureStderr();
    // The stand-in makes no backend: the headless one stays, and nothing is said.
    EXPECT_FALSE(plugin::plugView(TALVINE_TESTVIEW_SAME_PATH, app));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_NE(app.headless(), nullptr);
    EXPECT_EQ(entryCalls(TALVINE_TESTVIEW_SAME_PATH), 1) << "called once, and kept loaded";
}

TEST(ViewChoice, TheBuildIdentifierNamesTheVersionTheCompilerAndTheToolkit) {
    const std::string id = tk::buildIdentifier();
    EXPECT_THAT(id, ::testing::StartsWith("Talvine "));
    EXPECT_THAT(id, ::testing::HasSubstr(", C++20, toolkit " TALVINE_TOOLKIT_INTERFACE));
}

} // namespace
} // namespace talvine
