// The tilt dialog driven as a host and a user would: XchgData for the
// opening and the picked points, the automation API for clicks, keys and
// the passing of time.
#include "core/Host.h"
#include "core/ParamCoul.h"
#include "dialogs/Dialogs.h"
#include "dialogs/ModifAngle.h"
#include "engines/ModifAngle.h"
#include "plugin/Library.h"
#include "support/TestHost.h"
#include "toolkit/Automation.h"

#include <gtest/gtest.h>

#include <tuple>

namespace talvine {
namespace {

using test::bytesOf;
using test::Call;
using test::Recorder;

constexpr int32_t kContext = 303;
constexpr int32_t kW = 300, kH = 200;

bool gShownDuringCallback = false;
void noteVisibility(const Call&) {
    gShownDuringCallback = dialogs::dialog<dialogs::TInclineHorz>()->visible();
}

class TiltDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(startLibrary());
        AdrRetour(&Recorder::callback, kContext);
        dlg = dialogs::dialog<dialogs::TInclineHorz>();
        ASSERT_NE(dlg, nullptr);
        ui = std::make_unique<tk::Automation>(talvine::application());
        ui->clearBoxes();
        Recorder::clear();
        Recorder::setHook(nullptr);
    }
    void TearDown() override {
        if (dlg->visible()) ui->click("InclineHorz.Annuler");
        Recorder::setHook(nullptr);
    }

    void open(const PtsImg& picture, int32_t w = kW, int32_t h = kH) {
        XchgData(3, 0, 0, 0, 0, w, h, 0, 0, picture.handle(), nullptr, 0, 0);
    }
    void report(Point p, const PtsImg& buffer) {
        XchgData(3, 0, 0, p.x, p.y, kW, kH, 1, 0, nullptr, buffer.handle(), 0, 0);
    }
    // Clicks a pick box, lets it blink a while, then the host reports a point.
    void pick(const char* box, Point p, const PtsImg& buffer) {
        ui->click(std::string("InclineHorz.") + box);
        ui->advance(300);
        report(p, buffer);
    }
    static Call image(bool modifiee, bool fin) {
        return {kContext, {kW, kH}, {0, 0}, rtImage, 0, modifiee, fin, 0};
    }
    PtsImg rotated(const PtsImg& src, Point p1, Point p2, engines::Sampling s) {
        PtsImg out(kW * kH);
        engines::reference::tilt(src.data(), out.data(), kW, kH,
                                 {p1, *engines::tiltAngle(p1, p2), s});
        return out;
    }

    dialogs::TInclineHorz* dlg = nullptr;
    std::unique_ptr<tk::Automation> ui;
};

TEST_F(TiltDialog, OpeningAsksForPointsBeforeShowingAndStartsClean) {
    const PtsImg picture = test::coordinatePicture(kW, kH);
    Recorder::setHook(&noteVisibility);
    gShownDuringCallback = true;
    open(picture);
    ASSERT_EQ(Recorder::calls().size(), 1u);
    EXPECT_EQ(Recorder::calls()[0], (Call{kContext, {kW, kH}, {0, 0}, rtSaisie, 0, 0, 0, 0}));
    EXPECT_FALSE(gShownDuringCallback);
    EXPECT_TRUE(dlg->visible());
    EXPECT_TRUE(ui->checked("InclineHorz.Basique"));
    for (const char* box : {"InclineHorz.PtRot1", "InclineHorz.PtRot2"}) {
        EXPECT_FALSE(ui->checked(box)) << box;
        EXPECT_TRUE(ui->visible(box)) << box;
    }
    EXPECT_FALSE(dlg->Timer.running());
    EXPECT_TRUE(dlg->stayOnTop());
}

TEST_F(TiltDialog, TwoPickedPointsDrawTheLevelledPreviewIntoTheHostBuffer) {
    const PtsImg picture = test::coordinatePicture(kW, kH);
    const PtsImg original = picture.clone();
    open(picture);
    Recorder::clear();
    pick("PtRot1", {100, 100}, picture);
    EXPECT_TRUE(Recorder::calls().empty()) << "no preview with one point";
    EXPECT_EQ(dlg->Point1, (Point{100, 100}));
    pick("PtRot2", {200, 110}, picture);
    ASSERT_EQ(Recorder::calls().size(), 1u);
    EXPECT_EQ(Recorder::calls()[0], image(false, false));
    EXPECT_EQ(bytesOf(picture),
              bytesOf(rotated(original, {100, 100}, {200, 110}, engines::Sampling::Nearest)));
    const TPtImg& p = picture[100 * kW + 200];
    EXPECT_EQ(p.octets[0], 199);
    EXPECT_EQ(p.octets[1], 109);
    EXPECT_EQ(ui->cursor(), Cursor::Default);
}

TEST_F(TiltDialog, AWaitingBoxBlinksUncheckedUntilItsPointArrives) {
    const PtsImg picture = test::coordinatePicture(kW, kH);
    open(picture);
    ui->click("InclineHorz.PtRot1");
    EXPECT_TRUE(ui->checked("InclineHorz.PtRot1")) << "the user's click checks it";
    ui->advance(200);
    EXPECT_FALSE(ui->checked("InclineHorz.PtRot1")) << "the first tick unchecks it";
    EXPECT_FALSE(ui->visible("InclineHorz.PtRot1"));
    EXPECT_EQ(dlg->CaseEnCours, &dlg->PtRot1) << "the tick's own click was swallowed";
    ui->advance(200);
    EXPECT_TRUE(ui->visible("InclineHorz.PtRot1"));
    ui->advance(200);
    EXPECT_FALSE(ui->visible("InclineHorz.PtRot1"));
    report({5, 6}, picture);
    EXPECT_TRUE(ui->checked("InclineHorz.PtRot1"));
    EXPECT_TRUE(ui->visible("InclineHorz.PtRot1"));
    EXPECT_EQ(dlg->CaseEnCours, nullptr);
    ui->advance(1000);
    EXPECT_TRUE(ui->visible("InclineHorz.PtRot1")) << "steady once picked";
    EXPECT_FALSE(dlg->Timer.running());
}

TEST_F(TiltDialog, ClickingTheOtherBoxMovesTheWaitingRole) {
    const PtsImg picture = test::coordinatePicture(kW, kH);
    open(picture);
    dlg->Point1 = {-1, -1};
    ui->click("InclineHorz.PtRot1");
    ui->advance(200); // PtRot1 hidden by the blink
    ui->click("InclineHorz.PtRot2");
    ui->advance(200);
    EXPECT_TRUE(ui->visible("InclineHorz.PtRot1")) << "the box waiting before is shown again";
    report({40, 50}, picture);
    EXPECT_EQ(dlg->Point2, (Point{40, 50}));
    EXPECT_EQ(dlg->Point1, (Point{-1, -1}));
    EXPECT_FALSE(ui->checked("InclineHorz.PtRot1"));
    EXPECT_TRUE(ui->checked("InclineHorz.PtRot2"));
}

TEST_F(TiltDialog, PointsInOneColumnWarnWithoutPreviewAndCanBeRepicked) {
    const PtsImg picture = test::coordinatePicture(kW, kH);
    const PtsImg original = picture.clone();
    open(picture);
    bool onTopDuringBox = true;
    ui->headless().listen([&](const tk::Box&) { onTopDuringBox = dlg->stayOnTop(); });
    Recorder::clear();
    pick("PtRot1", {50, 20}, picture);
    pick("PtRot2", {50, 180}, picture);
    ui->headless().listen(nullptr);
    ASSERT_EQ(ui->boxes().size(), 1u);
    EXPECT_EQ(ui->boxes()[0], (tk::Box{tk::BoxKind::Warning, "Avertissement", dialogs::kEcartNul}));
    EXPECT_FALSE(onTopDuringBox);
    EXPECT_TRUE(dlg->stayOnTop());
    EXPECT_TRUE(Recorder::calls().empty());
    EXPECT_EQ(bytesOf(picture), bytesOf(original));
    EXPECT_TRUE(ui->checked("InclineHorz.PtRot1"));
    EXPECT_TRUE(ui->checked("InclineHorz.PtRot2"));

    // Clicking a checked box unchecks it and makes it wait again.
    pick("PtRot2", {150, 30}, picture);
    ASSERT_EQ(Recorder::calls().size(), 1u);
    EXPECT_EQ(Recorder::calls()[0], image(false, false));
    EXPECT_EQ(bytesOf(picture),
              bytesOf(rotated(original, {50, 20}, {150, 30}, engines::Sampling::Nearest)));
}

TEST_F(TiltDialog, TheSamplingChoiceTakesEffectWithTheNextPoint) {
    const PtsImg picture = test::coordinatePicture(kW, kH);
    const PtsImg original = picture.clone();
    open(picture);
    pick("PtRot1", {100, 100}, picture);
    pick("PtRot2", {200, 130}, picture);
    Recorder::clear();
    const auto preview = bytesOf(picture);
    ui->click("InclineHorz.InterBiLin");
    EXPECT_TRUE(Recorder::calls().empty());
    EXPECT_EQ(bytesOf(picture), preview);

    // A point while no box waits stores nothing but redraws into its buffer.
    const PtsImg next = test::randomPicture(kW, kH, 6);
    report({7, 7}, next);
    EXPECT_EQ(dlg->Point1, (Point{100, 100}));
    EXPECT_EQ(dlg->Point2, (Point{200, 130}));
    ASSERT_EQ(Recorder::calls().size(), 1u);
    EXPECT_EQ(bytesOf(next),
              bytesOf(rotated(original, {100, 100}, {200, 130}, engines::Sampling::Bilinear)));
    EXPECT_EQ(bytesOf(picture), preview) << "the previous buffer is no longer written";
}

TEST_F(TiltDialog, ReInitRestoresThePictureAndThePickingState) {
    const PtsImg picture = test::coordinatePicture(kW, kH);
    const PtsImg original = picture.clone();
    open(picture);
    ui->click("InclineHorz.InterBiLin");
    pick("PtRot1", {100, 100}, picture);
    pick("PtRot2", {200, 110}, picture);
    Recorder::clear();
    ui->click("InclineHorz.ReInit");
    EXPECT_EQ(bytesOf(picture), bytesOf(original));
    ASSERT_EQ(Recorder::calls().size(), 1u);
    EXPECT_EQ(Recorder::calls()[0], image(false, false));
    EXPECT_FALSE(ui->checked("InclineHorz.PtRot1"));
    EXPECT_FALSE(ui->checked("InclineHorz.PtRot2"));
    EXPECT_TRUE(ui->checked("InclineHorz.Basique"));
    EXPECT_EQ(dlg->CaseEnCours, nullptr);
}

TEST_F(TiltDialog, ApplyAndCancelEndWithOneFinalCallback) {
    struct Case {
        const char* name;
        bool preview;
        void (*end)(tk::Automation&);
        bool modifiee;
    };
    const Case cases[] = {
        {"apply at once", false, [](tk::Automation& a) { a.click("InclineHorz.Appliquer"); }, true},
        {"Enter applies", true, [](tk::Automation& a) { a.press(tk::KeyCode::Enter); }, true},
        {"cancel after a preview", true, [](tk::Automation& a) { a.click("InclineHorz.Annuler"); },
         false},
        {"Escape cancels", true, [](tk::Automation& a) { a.press(tk::KeyCode::Escape); }, false},
    };
    for (const Case& c : cases) {
        const PtsImg picture = test::coordinatePicture(kW, kH);
        const PtsImg original = picture.clone();
        open(picture);
        if (c.preview) {
            pick("PtRot1", {100, 100}, picture);
            pick("PtRot2", {200, 110}, picture);
        }
        const auto before = bytesOf(picture);
        Recorder::clear();
        c.end(*ui);
        EXPECT_FALSE(dlg->visible()) << c.name;
        ASSERT_EQ(Recorder::calls().size(), 1u) << c.name;
        EXPECT_EQ(Recorder::calls()[0], image(c.modifiee, true)) << c.name;
        EXPECT_EQ(bytesOf(picture), before) << c.name << ": the buffer is never restored";
        EXPECT_EQ(dlg->PtsInit.size(), 0) << c.name;
        if (!c.preview) {
            EXPECT_EQ(bytesOf(picture), bytesOf(original)) << c.name;
        }
    }
}

TEST_F(TiltDialog, ReopeningForgetsThePickedBoxes) {
    const PtsImg picture = test::coordinatePicture(kW, kH);
    open(picture);
    pick("PtRot1", {100, 100}, picture);
    pick("PtRot2", {200, 110}, picture);
    ui->click("InclineHorz.Appliquer");
    const PtsImg second = test::coordinatePicture(kW, kH);
    const auto untouched = bytesOf(second);
    open(second);
    EXPECT_FALSE(ui->checked("InclineHorz.PtRot1"));
    EXPECT_FALSE(ui->checked("InclineHorz.PtRot2"));
    Recorder::clear();
    report({10, 10}, second);
    EXPECT_TRUE(Recorder::calls().empty()) << "no box waits, so nothing is drawn";
    EXPECT_EQ(dlg->Point1, (Point{100, 100}));
    EXPECT_EQ(bytesOf(second), untouched);
}

TEST_F(TiltDialog, OpeningWhileShownTakesThePictureButKeepsThePicking) {
    const PtsImg first = test::coordinatePicture(kW, kH);
    open(first);
    pick("PtRot1", {100, 100}, first);
    const PtsImg second = test::randomPicture(kW, kH, 12);
    const PtsImg secondCopy = second.clone();
    Recorder::clear();
    open(second);
    ASSERT_EQ(Recorder::calls().size(), 1u);
    EXPECT_EQ(Recorder::calls()[0].nature, rtSaisie);
    EXPECT_TRUE(ui->checked("InclineHorz.PtRot1")) << "FormShow did not run again";
    pick("PtRot2", {200, 110}, second);
    EXPECT_EQ(bytesOf(second),
              bytesOf(rotated(secondCopy, {100, 100}, {200, 110}, engines::Sampling::Nearest)));
}

TEST_F(TiltDialog, AngleRotShowsALevelLineOnPaleYellow) {
    const tk::Picture& p = dlg->AngleRot.picture();
    ASSERT_EQ(p.width, 168);
    ASSERT_EQ(p.height, 112);
    auto rgb = [&](int x, int y) {
        const uint8_t* px = &p.rgb[(size_t(y) * 168 + size_t(x)) * 3];
        return std::make_tuple(px[0], px[1], px[2]);
    };
    const auto yellow = std::make_tuple(uint8_t{255}, uint8_t{255}, uint8_t{192});
    const auto black = std::make_tuple(uint8_t{0}, uint8_t{0}, uint8_t{0});
    EXPECT_EQ(rgb(0, 0), yellow);
    EXPECT_EQ(rgb(167, 111), yellow);
    for (int x : {14, 77, 140})
        for (int y : {54, 55, 56})
            EXPECT_EQ(rgb(x, y), black) << x << "," << y;
    EXPECT_EQ(rgb(13, 55), yellow);
    EXPECT_EQ(rgb(77, 53), yellow);
    EXPECT_EQ(rgb(77, 57), yellow);
}

// A report whose buffer is missing or too short for the picture would be
// written past its end: it is ignored entirely.
TEST_F(TiltDialog, AReportWithoutARoomyBufferIsIgnored) {
    const PtsImg picture = test::coordinatePicture(kW, kH);
    open(picture);
    pick("PtRot1", {100, 100}, picture);
    ui->click("InclineHorz.PtRot2");
    ui->advance(300);
    Recorder::clear();
    const PtsImg shortBuffer = test::randomPicture(kW, kH - 1, 3);
    const auto shortBytes = bytesOf(shortBuffer);
    report({200, 110}, shortBuffer);
    XchgData(3, 0, 0, 200, 110, kW, kH, 1, 0, nullptr, nullptr, 0, 0);
    EXPECT_TRUE(Recorder::calls().empty());
    EXPECT_EQ(bytesOf(shortBuffer), shortBytes);
    EXPECT_FALSE(ui->checked("InclineHorz.PtRot2"));
    EXPECT_EQ(dlg->CaseEnCours, &dlg->PtRot2) << "still waiting for a point";
    EXPECT_EQ(dlg->PtsTravail.handle(), picture.handle());
    report({200, 110}, picture);
    EXPECT_EQ(Recorder::calls().size(), 1u);
}

// After the close the copy is gone; a late report must not turn it.
TEST_F(TiltDialog, AReportAfterTheCloseIsIgnored) {
    const PtsImg picture = test::coordinatePicture(kW, kH);
    open(picture);
    pick("PtRot1", {100, 100}, picture);
    pick("PtRot2", {200, 110}, picture);
    ui->click("InclineHorz.Appliquer");
    Recorder::clear();
    const auto kept = bytesOf(picture);
    report({10, 10}, picture);
    EXPECT_TRUE(Recorder::calls().empty());
    EXPECT_EQ(bytesOf(picture), kept);
}

} // namespace
} // namespace talvine
