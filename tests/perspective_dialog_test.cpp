// The perspective dialog driven as a host and a user would: XchgData for the
// opening and the picked corners, the automation API for the rest.
#include "core/Host.h"
#include "core/ParamCoul.h"
#include "dialogs/Dialogs.h"
#include "dialogs/Perspective.h"
#include "engines/Perspective.h"
#include "plugin/Library.h"
#include "support/TestHost.h"
#include "toolkit/Automation.h"

#include <gtest/gtest.h>

namespace talvine {
namespace {

using test::bytesOf;
using test::Call;
using test::Recorder;

constexpr int32_t kContext = 909;
constexpr int32_t kW = 100, kH = 100;
const engines::Corners kTrapeze{{20, 0}, {80, 0}, {100, 100}, {0, 100}};

bool gShownDuringCallback = false;
void noteVisibility(const Call&) {
    gShownDuringCallback = dialogs::dialog<dialogs::TCorrPerspect>()->visible();
}

class PerspectiveDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(startLibrary());
        AdrRetour(&Recorder::callback, kContext);
        dlg = dialogs::dialog<dialogs::TCorrPerspect>();
        ASSERT_NE(dlg, nullptr);
        ui = std::make_unique<tk::Automation>(talvine::application());
        Recorder::clear();
        Recorder::setHook(nullptr);
    }
    void TearDown() override {
        if (dlg->visible()) ui->click("CorrPerspect.Annuler");
    }

    void open(const PtsImg& picture) {
        XchgData(9, 0, 0, 0, 0, kW, kH, 0, 0, picture.handle(), nullptr, 0, 0);
    }
    void report(Point p, const PtsImg& buffer) {
        XchgData(9, 0, 0, p.x, p.y, kW, kH, 1, 0, nullptr, buffer.handle(), 0, 0);
    }
    void pick(const char* box, Point p, const PtsImg& buffer) {
        ui->click(std::string("CorrPerspect.") + box);
        ui->advance(300);
        report(p, buffer);
    }
    void pickAll(const engines::Corners& c, const PtsImg& buffer) {
        pick("PosHG", c.hg, buffer);
        pick("PosHD", c.hd, buffer);
        pick("PosBD", c.bd, buffer);
        pick("PosBG", c.bg, buffer);
    }
    static Call image(bool modifiee, bool fin) {
        return {kContext, {kW, kH}, {0, 0}, rtImage, 0, modifiee, fin, 0};
    }
    static std::vector<uint8_t> mapped(const PtsImg& src, const PtsImg& stale,
                                       const engines::Corners& c, int v, engines::Sampling s) {
        PtsImg out = stale.clone();
        engines::reference::correctPerspective(src.data(), out.data(), kW, kH, {c, v, s});
        return bytesOf(out);
    }
    int checkedBoxes() const {
        int n = 0;
        for (const char* b : {"PosHG", "PosHD", "PosBD", "PosBG"})
            n += ui->checked(std::string("CorrPerspect.") + b);
        return n;
    }

    dialogs::TCorrPerspect* dlg = nullptr;
    std::unique_ptr<tk::Automation> ui;
};

TEST_F(PerspectiveDialog, OpeningAsksForPointsThenShowsTheDefaults) {
    const PtsImg picture = test::coordinatePicture(kW, kH);
    Recorder::setHook(&noteVisibility);
    gShownDuringCallback = true;
    open(picture);
    Recorder::setHook(nullptr);
    ASSERT_EQ(Recorder::calls().size(), 1u);
    EXPECT_EQ(Recorder::calls()[0], (Call{kContext, {kW, kH}, {0, 0}, rtSaisie, 0, 0, 0, 0}));
    EXPECT_FALSE(gShownDuringCallback);
    EXPECT_TRUE(dlg->visible());
    EXPECT_TRUE(dlg->stayOnTop());
    EXPECT_EQ(checkedBoxes(), 0);
    for (const char* b : {"PosHG", "PosHD", "PosBD", "PosBG"})
        EXPECT_TRUE(ui->visible(std::string("CorrPerspect.") + b)) << b;
    EXPECT_EQ(ui->text("CorrPerspect.TxCrVert"), "50 %");
    EXPECT_EQ(ui->position("CorrPerspect.CorrVert"), 5);
    EXPECT_TRUE(ui->checked("CorrPerspect.Basique"));
}

// The vertical correction slider as the form lays it out: eleven positions,
// a tick at each, and a thumb shorter than a trackbar's usual one.
TEST_F(PerspectiveDialog, VerticalCorrectionSliderHasElevenTickedPositionsAndAShortThumb) {
    EXPECT_EQ(dlg->CorrVert.min(), 0);
    EXPECT_EQ(dlg->CorrVert.max(), 10);
    EXPECT_EQ(dlg->CorrVert.frequency(), 1);
    EXPECT_EQ(dlg->CorrVert.thumbLength(), 15);
}

TEST_F(PerspectiveDialog, TheFourthCornerDrawsThePreview) {
    const PtsImg picture = test::coordinatePicture(kW, kH);
    const PtsImg original = picture.clone();
    open(picture);
    Recorder::clear();
    pick("PosHG", kTrapeze.hg, picture);
    pick("PosHD", kTrapeze.hd, picture);
    pick("PosBD", kTrapeze.bd, picture);
    EXPECT_TRUE(Recorder::calls().empty()) << "three corners compute nothing";
    pick("PosBG", kTrapeze.bg, picture);
    ASSERT_EQ(Recorder::calls().size(), 1u);
    EXPECT_EQ(Recorder::calls()[0], image(true, false));
    EXPECT_EQ(bytesOf(picture),
              mapped(original, original, kTrapeze, 5, engines::Sampling::Nearest));
    // At v = 5 the top-left pixel comes from (15, 20).
    EXPECT_EQ(picture[0].octets[0], 15);
    EXPECT_EQ(picture[0].octets[1], 20);
    EXPECT_EQ(dlg->Trapeze[0].x, 20);
    EXPECT_EQ(ui->cursor(), Cursor::Default);
}

TEST_F(PerspectiveDialog, ClickingAnotherBoxBeforeAPointMovesTheWaitingRole) {
    const PtsImg picture = test::coordinatePicture(kW, kH);
    open(picture);
    dlg->CoinHG = {-7, -7};
    ui->click("CorrPerspect.PosHG");
    ui->advance(200);
    EXPECT_FALSE(ui->visible("CorrPerspect.PosHG"));
    ui->click("CorrPerspect.PosBD");
    ui->advance(200);
    EXPECT_TRUE(ui->visible("CorrPerspect.PosHG")) << "shown again, no longer blinking";
    report({90, 95}, picture);
    EXPECT_EQ(dlg->CoinBD, (Point{90, 95}));
    EXPECT_EQ(dlg->CoinHG, (Point{-7, -7}));
    EXPECT_FALSE(ui->checked("CorrPerspect.PosHG"));
    EXPECT_TRUE(ui->checked("CorrPerspect.PosBD"));
}

TEST_F(PerspectiveDialog, ClickingTheWaitingBoxAgainLeavesItUnchecked) {
    const PtsImg picture = test::coordinatePicture(kW, kH);
    open(picture);
    ui->click("CorrPerspect.PosHD");
    ui->advance(400); // unchecked at the first tick, shown again at the second
    ui->click("CorrPerspect.PosHD");
    EXPECT_TRUE(ui->checked("CorrPerspect.PosHD"));
    ui->advance(200);
    EXPECT_FALSE(ui->checked("CorrPerspect.PosHD"));
    EXPECT_EQ(dlg->CaseEnCours, &dlg->PosHD);
}

TEST_F(PerspectiveDialog, RepickingACheckedCornerSuspendsThePreviewUntilItsPoint) {
    const PtsImg picture = test::coordinatePicture(kW, kH);
    const PtsImg original = picture.clone();
    open(picture);
    pickAll(kTrapeze, picture);
    ui->click("CorrPerspect.PosHD"); // checked: the click unchecks it
    EXPECT_FALSE(ui->checked("CorrPerspect.PosHD"));
    EXPECT_EQ(checkedBoxes(), 3);
    Recorder::clear();
    ui->click("CorrPerspect.PosHG"); // now PosHG waits instead
    ui->advance(300);
    report({22, 0}, picture); // PosHG again; PosHD still unchecked
    EXPECT_TRUE(Recorder::calls().empty());
    pick("PosHD", {78, 0}, picture);
    ASSERT_EQ(Recorder::calls().size(), 1u);
    const engines::Corners moved{{22, 0}, {78, 0}, {100, 100}, {0, 100}};
    EXPECT_EQ(bytesOf(picture), mapped(original, picture, moved, 5, engines::Sampling::Nearest));
}

TEST_F(PerspectiveDialog, SettingsTakeEffectWithTheNextPoint) {
    const PtsImg picture = test::coordinatePicture(kW, kH);
    const PtsImg original = picture.clone();
    open(picture);
    pickAll(kTrapeze, picture);
    const auto preview = bytesOf(picture);
    Recorder::clear();
    ui->click("CorrPerspect.InterQuad");
    ui->dragSlider("CorrPerspect.CorrVert", 10);
    EXPECT_EQ(ui->text("CorrPerspect.TxCrVert"), "100 %");
    EXPECT_TRUE(Recorder::calls().empty());
    EXPECT_EQ(bytesOf(picture), preview);

    const PtsImg next = test::randomPicture(kW, kH, 21);
    const PtsImg stale = next.clone();
    report({3, 3}, next); // no box waits: no corner changes, the preview is redrawn
    ASSERT_EQ(Recorder::calls().size(), 1u);
    EXPECT_EQ(Recorder::calls()[0], image(true, false));
    EXPECT_EQ(bytesOf(next), mapped(original, stale, kTrapeze, 10, engines::Sampling::Bilinear));
    EXPECT_EQ(dlg->CoinHG, kTrapeze.hg);

    ui->dragSlider("CorrPerspect.CorrVert", 0);
    EXPECT_EQ(ui->text("CorrPerspect.TxCrVert"), "0 %");
}

TEST_F(PerspectiveDialog, ReInitRestoresThePictureAndUnchecksButKeepsTheCorners) {
    const PtsImg picture = test::coordinatePicture(kW, kH);
    const PtsImg original = picture.clone();
    open(picture);
    pickAll(kTrapeze, picture);
    ui->dragSlider("CorrPerspect.CorrVert", 8);
    Recorder::clear();
    ui->click("CorrPerspect.ReInit");
    EXPECT_EQ(bytesOf(picture), bytesOf(original));
    ASSERT_EQ(Recorder::calls().size(), 1u);
    EXPECT_EQ(Recorder::calls()[0], image(false, false));
    EXPECT_EQ(checkedBoxes(), 0);
    EXPECT_EQ(ui->position("CorrPerspect.CorrVert"), 5);
    EXPECT_EQ(dlg->CoinBD, kTrapeze.bd);
}

TEST_F(PerspectiveDialog, ApplyAndCancelEndWithOneFinalCallback) {
    for (bool apply : {true, false}) {
        const PtsImg picture = test::coordinatePicture(kW, kH);
        open(picture);
        pickAll(kTrapeze, picture);
        const auto preview = bytesOf(picture);
        Recorder::clear();
        ui->click(apply ? "CorrPerspect.Appliquer" : "CorrPerspect.Annuler");
        EXPECT_FALSE(dlg->visible());
        ASSERT_EQ(Recorder::calls().size(), 1u);
        EXPECT_EQ(Recorder::calls()[0], image(apply, true));
        EXPECT_EQ(bytesOf(picture), preview) << "the buffer keeps the last preview";
        EXPECT_EQ(dlg->PtsInit.size(), 0);
    }
}

TEST_F(PerspectiveDialog, ReopeningWaitsForABoxBeforeTakingCorners) {
    const PtsImg picture = test::coordinatePicture(kW, kH);
    open(picture);
    pickAll(kTrapeze, picture);
    ui->click("CorrPerspect.PosBG"); // left waiting at the close
    ui->click("CorrPerspect.Appliquer");
    const PtsImg second = test::coordinatePicture(kW, kH);
    open(second);
    EXPECT_EQ(dlg->CaseEnCours, nullptr);
    EXPECT_FALSE(dlg->Timer.running());
    EXPECT_EQ(checkedBoxes(), 0);
    Recorder::clear();
    report({1, 2}, second);
    EXPECT_TRUE(Recorder::calls().empty());
    EXPECT_EQ(dlg->CoinBG, kTrapeze.bg);
}

TEST_F(PerspectiveDialog, DegenerateCornersGiveNoPreviewAndNoCallback) {
    const engines::Corners cases[] = {
        {{20, 0}, {80, 0}, {50, 100}, {50, 90}},    // equal bottom x
        {{40, 0}, {40, 0}, {100, 100}, {0, 100}},   // a top of zero width
        {{10, 0}, {110, 0}, {100, 100}, {0, 100}},  // parallel sides
        {{-50, 0}, {150, 0}, {100, 100}, {0, 100}}, // at v = 10: a negative root
    };
    for (const engines::Corners& c : cases) {
        const PtsImg picture = test::coordinatePicture(kW, kH);
        const auto before = bytesOf(picture);
        open(picture);
        ui->dragSlider("CorrPerspect.CorrVert", 10);
        Recorder::clear();
        pickAll(c, picture);
        EXPECT_TRUE(Recorder::calls().empty());
        EXPECT_EQ(bytesOf(picture), before);
        EXPECT_FALSE(host::ImgModifiee);
        ui->click("CorrPerspect.Annuler");
    }
}

TEST_F(PerspectiveDialog, ReportsWithoutARoomyBufferOrAfterTheCloseAreIgnored) {
    const PtsImg picture = test::coordinatePicture(kW, kH);
    open(picture);
    ui->click("CorrPerspect.PosHG");
    ui->advance(300);
    Recorder::clear();
    const PtsImg tooShort = test::randomPicture(kW - 1, kH, 1);
    const auto shortBytes = bytesOf(tooShort);
    report({5, 5}, tooShort);
    XchgData(9, 0, 0, 5, 5, kW, kH, 1, 0, nullptr, nullptr, 0, 0);
    EXPECT_FALSE(ui->checked("CorrPerspect.PosHG"));
    EXPECT_EQ(dlg->CaseEnCours, &dlg->PosHG);
    EXPECT_EQ(dlg->PtsTravail.handle(), picture.handle());
    EXPECT_EQ(bytesOf(tooShort), shortBytes);

    report({20, 0}, picture);
    pick("PosHD", kTrapeze.hd, picture);
    pick("PosBD", kTrapeze.bd, picture);
    pick("PosBG", kTrapeze.bg, picture);
    ui->click("CorrPerspect.Appliquer");
    Recorder::clear();
    const auto kept = bytesOf(picture);
    report({1, 1}, picture);
    EXPECT_TRUE(Recorder::calls().empty());
    EXPECT_EQ(bytesOf(picture), kept);
}

} // namespace
} // namespace talvine
