// The dialog scripts the hosts without a screen share: the box watcher on an
// application of its own, and each script run on the library's dialogs
// through XchgData, as a host runs it.
#include "core/ParamCoul.h"
#include "dialogs/Scripts.h"
#include "plugin/Library.h"
#include "support/TestHost.h"
#include "talvine/talvine.h"
#include "toolkit/Automation.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace talvine {
namespace {

namespace scripts = dialogs::scripts;
using test::Call;
using test::Recorder;

// The box watcher ------------------------------------------------------------

TEST(BoxWatcher, KeepsTheFirstBoxShownWhileItWatches) {
    tk::Application app;
    tk::Automation ui(app);
    app.showMessage("shown before the watch");
    {
        scripts::BoxWatcher boxes(ui);
        EXPECT_FALSE(boxes.first());
        app.showWarning("first");
        app.showMessage("second");
        EXPECT_EQ(boxes.first(), "first");
    }
    scripts::BoxWatcher next(ui);
    EXPECT_FALSE(next.first());
    app.showWarning("third");
    EXPECT_EQ(next.first(), "third");
    // The backend's own record still holds every box.
    EXPECT_EQ(ui.boxes().size(), 4u);
}

TEST(BoxWatcher, LeavesAnotherBackendPluggedInMeanwhileAlone) {
    tk::Application app;
    tk::Automation ui(app);
    std::vector<std::string> heard;
    {
        scripts::BoxWatcher boxes(ui);
        app.setBackend(nullptr); // a fresh headless backend; the watched one is gone
        ui.headless().listen([&](const tk::Box& box) { heard.push_back(box.text); });
    }
    app.showMessage("after the watch");
    EXPECT_EQ(heard, std::vector<std::string>{"after the watch"});
}

// The scripts on the library's dialogs ---------------------------------------

constexpr int32_t kContext = 5150;

class Scripts : public ::testing::Test {
  protected:
    // The library, started once for the suite, calls the recorder back.
    static void SetUpTestSuite() {
        ASSERT_TRUE(startLibrary());
        AdrRetour(&Recorder::callback, kContext);
    }
    void SetUp() override {
        Recorder::clear();
        failuresBefore_ = ui().failures().size();
    }
    // Every step could be taken, and a modal script left nothing in the queue.
    void TearDown() override {
        EXPECT_EQ(ui().failures().size(), failuresBefore_) << ui().failures().back();
        EXPECT_EQ(ui().headless().pendingActions(), 0u);
    }
    static tk::Automation& ui() {
        static tk::Automation automation(talvine::application());
        return automation;
    }
    void open(int command, int32_t w, int32_t h) {
        XchgData(command, 0, 0, 0, 0, w, h, 0, 0, picture_.handle(), nullptr, 0, 0);
    }
    // The host's report of a picked point, each one kept.
    scripts::PointReport reports(int command, int32_t w, int32_t h) {
        return [this, command, w, h](Point p) {
            reported_.push_back(p);
            XchgData(command, 0, 0, p.x, p.y, w, h, 1, 0, nullptr, picture_.handle(), 0, 0);
        };
    }
    static std::vector<Call> finals() {
        std::vector<Call> out;
        for (const Call& c : Recorder::calls())
            if (c.nature == rtImage && c.fin) out.push_back(c);
        return out;
    }
    static size_t previews() {
        size_t n = 0;
        for (const Call& c : Recorder::calls())
            n += c.nature == rtImage && !c.fin;
        return n;
    }
    static Call final(int32_t w, int32_t h, bool applied, intptr_t param = 0) {
        return {kContext, {w, h}, {0, 0}, rtImage, param, applied, 1, 0};
    }

    PtsImg picture_ = test::randomPicture(64, 48, 7);
    std::vector<Point> reported_;
    size_t failuresBefore_ = 0;
};

TEST_F(Scripts, NameTheFiveDialogsAndCancelEach) {
    EXPECT_THROW(scripts::formName(TALVINE_CMD_MIROIR_HORZ), std::invalid_argument);
    EXPECT_THROW(scripts::formName(0), std::invalid_argument);
    for (int command : {TALVINE_CMD_INCLINAISON, TALVINE_CMD_ROGNER, TALVINE_CMD_PERSPECTIVE}) {
        SCOPED_TRACE(command);
        Recorder::clear();
        open(command, 64, 48);
        ASSERT_TRUE(scripts::isOpen(ui(), command));
        scripts::cancel(ui(), command);
        EXPECT_FALSE(scripts::isOpen(ui(), command));
        EXPECT_EQ(finals(), std::vector<Call>{final(64, 48, false)});
    }
    // The modal ones: the cancel queued runs in the dialog's loop.
    Recorder::clear();
    ui().queue([] { scripts::cancel(ui(), TALVINE_CMD_DISTORSION); });
    open(TALVINE_CMD_DISTORSION, 64, 48);
    EXPECT_EQ(finals(), std::vector<Call>{final(64, 48, false)});
    Recorder::clear();
    ui().queue([] { scripts::cancel(ui(), TALVINE_CMD_REDIMENSIONNER); });
    open(TALVINE_CMD_REDIMENSIONNER, 64, 48);
    EXPECT_TRUE(Recorder::calls().empty()); // a cancelled resize says nothing
}

TEST_F(Scripts, PicksReachTheHostInOrderAndEachDialogPreviewsThenApplies) {
    open(TALVINE_CMD_INCLINAISON, 64, 48);
    scripts::pickTilt(ui(), {{5, 30}, {60, 26}, true}, reports(TALVINE_CMD_INCLINAISON, 64, 48));
    EXPECT_EQ(reported_, (std::vector<Point>{{5, 30}, {60, 26}}));
    EXPECT_GE(previews(), 1u);
    scripts::apply(ui(), TALVINE_CMD_INCLINAISON);
    EXPECT_EQ(finals(), std::vector<Call>{final(64, 48, true)});

    Recorder::clear();
    reported_.clear();
    const std::vector<Point> corners = {{12, 2}, {50, 0}, {63, 47}, {0, 46}};
    open(TALVINE_CMD_PERSPECTIVE, 64, 48);
    scripts::pickPerspective(ui(), {{corners[0], corners[1], corners[2], corners[3]}, 3, false},
                             reports(TALVINE_CMD_PERSPECTIVE, 64, 48));
    EXPECT_EQ(reported_, corners);
    EXPECT_GE(previews(), 1u);
    scripts::apply(ui(), TALVINE_CMD_PERSPECTIVE);
    EXPECT_EQ(finals(), std::vector<Call>{final(64, 48, true)});
}

TEST_F(Scripts, TypedCropAppliesAndARefusedOneIsPutRightThenCancelled) {
    open(TALVINE_CMD_ROGNER, 64, 48);
    scripts::typeCrop(ui(), {{4, 6, 30, 20}, 3});
    scripts::apply(ui(), TALVINE_CMD_ROGNER);
    EXPECT_EQ(finals(), std::vector<Call>{final(30, 20, true)});

    Recorder::clear();
    open(TALVINE_CMD_ROGNER, 64, 48);
    scripts::BoxWatcher boxes(ui());
    scripts::typeCrop(ui(), {{65, 0, 20, 48}, 0}); // a margin past the picture
    scripts::apply(ui(), TALVINE_CMD_ROGNER);
    EXPECT_EQ(boxes.first(), "65 n'est pas dans l'intervalle requis 0 .. 64.");
    ASSERT_TRUE(scripts::isOpen(ui(), TALVINE_CMD_ROGNER)); // the field holds the close back
    EXPECT_TRUE(finals().empty());
    scripts::cancelCrop(ui());
    EXPECT_FALSE(scripts::isOpen(ui(), TALVINE_CMD_ROGNER));
    ASSERT_EQ(finals().size(), 1u);
    EXPECT_FALSE(finals()[0].modifiee);
}

TEST_F(Scripts, ModalScriptsRunInsideTheOpeningCall) {
    // The percentage pasted whole on a picture 2 pixels high (see paste).
    picture_ = test::randomPicture(3, 2, 11);
    scripts::queueResize(ui(), {scripts::SizeBy::Percent, 200, 0, true});
    open(TALVINE_CMD_REDIMENSIONNER, 3, 2);
    ASSERT_EQ(finals().size(), 1u);
    EXPECT_EQ(finals()[0].pt1, (Point{6, 4}));
    EXPECT_TRUE(finals()[0].modifiee);

    Recorder::clear();
    picture_ = test::randomPicture(64, 48, 7);
    scripts::queueResize(ui(), {scripts::SizeBy::Both, 10, 40, false});
    open(TALVINE_CMD_REDIMENSIONNER, 64, 48);
    ASSERT_EQ(finals().size(), 1u);
    EXPECT_EQ(finals()[0].pt1, (Point{10, 40})); // unlinked

    Recorder::clear();
    scripts::queueDistortion(ui(), {-40, 2, true});
    open(TALVINE_CMD_DISTORSION, 64, 48);
    EXPECT_EQ(finals(), std::vector<Call>{final(64, 48, true)});
}

} // namespace
} // namespace talvine
