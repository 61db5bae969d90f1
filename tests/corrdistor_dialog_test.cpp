// The distortion dialog driven as a host and a user would: XchgData opens
// it modally, and the user's actions are queued for its loop beforehand.
#include "core/Host.h"
#include "core/ParamCoul.h"
#include "dialogs/CorrDistor.h"
#include "dialogs/Dialogs.h"
#include "engines/CorrDistor.h"
#include "plugin/Library.h"
#include "support/TestHost.h"
#include "toolkit/Automation.h"
#include "toolkit/Locale.h"

#include <gtest/gtest.h>

namespace talvine {
namespace {

using engines::DistortionLaw;
using engines::Sampling;
using test::bytesOf;
using test::Call;
using test::Recorder;

constexpr int32_t kContext = 808;
constexpr int32_t kW = 200, kH = 100;

class DistortionDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(startLibrary());
        AdrRetour(&Recorder::callback, kContext);
        dlg = dialogs::dialog<dialogs::TCorrDist>();
        ASSERT_NE(dlg, nullptr);
        ui = std::make_unique<tk::Automation>(talvine::application());
        ui->headless().clearActions();
        ui->headless().clearFailures();
        Recorder::clear();
    }
    void TearDown() override {
        EXPECT_TRUE(ui->failures().empty()) << ui->failures().front();
        EXPECT_FALSE(dlg->visible());
        tk::resetDecimalSeparator();
    }

    // Queues the actions, then opens the dialog; returns when it has closed.
    void run(const PtsImg& picture, std::vector<std::function<void(tk::Automation&)>> actions) {
        for (auto& a : actions)
            ui->queue([this, a] { a(*ui); });
        XchgData(8, 0, 0, 0, 0, kW, kH, 0, 0, picture.handle(), nullptr, 0, 0);
    }
    static Call image(bool modifiee, bool fin) {
        return {kContext, {kW, kH}, {0, 0}, rtImage, 0, modifiee, fin, 0};
    }
    static std::vector<uint8_t> corrected(const PtsImg& src, const PtsImg& stale, int32_t p,
                                          DistortionLaw law, Sampling s) {
        PtsImg out = stale.clone();
        engines::reference::correctDistortion(src.data(), out.data(), kW, kH, {p, law, s});
        return bytesOf(out);
    }

    dialogs::TCorrDist* dlg = nullptr;
    std::unique_ptr<tk::Automation> ui;
};

// A host with nobody to answer the dialog (the headless backend, nothing
// scripted): the dialog closes as "Annuler" would, with its final callback,
// and the host's standard streams stay quiet.
TEST_F(DistortionDialog, NobodyToAnswerClosesAsACancelWithItsFinalCallback) {
    const PtsImg picture = test::randomPicture(kW, kH, 8);
    const auto before = bytesOf(picture);
    for (int i = 0; i < 2; ++i) {
        Recorder::clear();
        ::testing::internal::CaptureStderr();
        ::testing::internal::CaptureStdout();
        run(picture, {});
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(Recorder::calls(), std::vector<Call>{image(false, true)});
        EXPECT_EQ(bytesOf(picture), before);
        EXPECT_FALSE(dlg->visible());
        ASSERT_EQ(ui->failures().size(), 1u);
        ui->headless().clearFailures();
    }
}

TEST_F(DistortionDialog, ASliderReleasePreviewsAndApplyKeepsIt) {
    const PtsImg picture = test::coordinatePicture(kW, kH);
    const PtsImg original = picture.clone();
    size_t callsBeforeRelease = 99;
    run(picture, {[&](tk::Automation&) { callsBeforeRelease = Recorder::calls().size(); },
                  [](tk::Automation& a) { a.dragSlider("CorrDist.TauxCorr", 100); },
                  [](tk::Automation& a) { a.click("CorrDist.Appliquer"); }});
    EXPECT_EQ(callsBeforeRelease, 0u) << "the opening sends nothing";
    ASSERT_EQ(Recorder::calls().size(), 2u);
    EXPECT_EQ(Recorder::calls()[0], image(true, false));
    EXPECT_EQ(Recorder::calls()[1], image(true, true));
    EXPECT_EQ(bytesOf(picture),
              corrected(original, original, 100, DistortionLaw::Linear, Sampling::Nearest));
    EXPECT_EQ(picture[50 * kW + 150].octets[0], 166); // (150, 50) from (166, 50)
    EXPECT_EQ(dlg->PtsInit.size(), 0);
    EXPECT_EQ(ui->cursor(), Cursor::Default);
}

TEST_F(DistortionDialog, EveryChangeOfChoiceComputesWithTheCurrentSettings) {
    const PtsImg picture = test::coordinatePicture(kW, kH);
    const PtsImg original = picture.clone();
    std::vector<std::vector<uint8_t>> previews;
    auto keep = [&](tk::Automation&) { previews.push_back(bytesOf(picture)); };
    run(picture, {[](tk::Automation& a) { a.dragSlider("CorrDist.TauxCorr", -60); }, keep,
                  [](tk::Automation& a) { a.clickItem("CorrDist.TypeDistor", 1); }, keep,
                  [](tk::Automation& a) { a.click("CorrDist.InterQuad"); }, keep,
                  [](tk::Automation& a) { a.click("CorrDist.InterQuad"); }, // already selected
                  [](tk::Automation& a) { a.press("CorrDist.TauxCorr", {tk::KeyCode::Right}); },
                  [](tk::Automation& a) { a.click("CorrDist.Annuler"); }});
    ASSERT_EQ(Recorder::calls().size(), 4u) << "three previews, then the end";
    EXPECT_EQ(Recorder::calls()[3], image(false, true));
    ASSERT_EQ(previews.size(), 3u);
    EXPECT_EQ(previews[0],
              corrected(original, original, -60, DistortionLaw::Linear, Sampling::Nearest));
    // Each run writes over what the previous one left.
    const PtsImg p1 = original.clone();
    std::copy_n(previews[0].data(), previews[0].size(), reinterpret_cast<uint8_t*>(p1.data()));
    EXPECT_EQ(previews[1], corrected(original, p1, -60, DistortionLaw::Square, Sampling::Nearest));
    const PtsImg p2 = original.clone();
    std::copy_n(previews[1].data(), previews[1].size(), reinterpret_cast<uint8_t*>(p2.data()));
    EXPECT_EQ(previews[2], corrected(original, p2, -60, DistortionLaw::Square, Sampling::Bilinear));
    EXPECT_EQ(bytesOf(picture), previews[2])
        << "the key only moved the labels; cancel restores nothing";
}

TEST_F(DistortionDialog, RateLabelsShowATenthOfThePositionOnItsSide) {
    tk::setDecimalSeparator(",");
    struct Seen {
        bool bVisible, cVisible;
        std::string b, c;
    };
    std::vector<Seen> seen;
    auto look = [&](tk::Automation& a) {
        seen.push_back({a.visible("CorrDist.TauxB"), a.visible("CorrDist.TauxC"),
                        a.text("CorrDist.TauxB"), a.text("CorrDist.TauxC")});
    };
    const PtsImg picture = test::coordinatePicture(kW, kH);
    run(picture, {look, [](tk::Automation& a) { a.dragSlider("CorrDist.TauxCorr", -25); }, look,
                  [](tk::Automation& a) { a.dragSlider("CorrDist.TauxCorr", 100); }, look,
                  [](tk::Automation& a) { a.dragSlider("CorrDist.TauxCorr", 1); }, look,
                  [](tk::Automation& a) { a.click("CorrDist.Annuler"); }});
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_TRUE(seen[0].bVisible && seen[0].cVisible);
    EXPECT_EQ(seen[0].b, "0 %");
    EXPECT_EQ(seen[0].c, "0 %");
    EXPECT_TRUE(seen[1].bVisible);
    EXPECT_FALSE(seen[1].cVisible);
    EXPECT_EQ(seen[1].b, "2,50 %");
    EXPECT_FALSE(seen[2].bVisible);
    EXPECT_EQ(seen[2].c, "10,00 %");
    EXPECT_EQ(seen[3].c, "0,10 %");
}

TEST_F(DistortionDialog, ReInitPreviewsTheIdentityAndTheClosingButtonDecides) {
    for (bool apply : {true, false}) {
        const PtsImg picture = test::coordinatePicture(kW, kH);
        const PtsImg original = picture.clone();
        std::vector<uint8_t> afterRate;
        Recorder::clear();
        run(picture, {[](tk::Automation& a) { a.dragSlider("CorrDist.TauxCorr", 80); },
                      [&](tk::Automation&) { afterRate = bytesOf(picture); },
                      [](tk::Automation& a) { a.click("CorrDist.ReInit"); },
                      [apply](tk::Automation& a) {
                          a.click(apply ? "CorrDist.Appliquer" : "CorrDist.Annuler");
                      }});
        ASSERT_EQ(Recorder::calls().size(), 3u);
        EXPECT_EQ(Recorder::calls()[1], image(true, false)) << "the re-initialisation's preview";
        EXPECT_EQ(Recorder::calls()[2], image(apply, true));
        // Rate 0 copies every row but the last, which keeps the earlier preview.
        const int64_t last = int64_t{kW} * (kH - 1) * 3;
        const auto now = bytesOf(picture), before = bytesOf(original);
        EXPECT_TRUE(std::equal(now.begin(), now.begin() + last, before.begin()));
        EXPECT_TRUE(std::equal(now.begin() + last, now.end(), afterRate.begin() + last));
    }
}

TEST_F(DistortionDialog, ReopeningReturnsToTheDefaultsWithoutACallback) {
    const PtsImg picture = test::coordinatePicture(kW, kH);
    run(picture, {[](tk::Automation& a) { a.click("CorrDist.InterQuad"); },
                  [](tk::Automation& a) { a.clickItem("CorrDist.TypeDistor", 1); },
                  [](tk::Automation& a) { a.dragSlider("CorrDist.TauxCorr", 50); },
                  [](tk::Automation& a) { a.click("CorrDist.Appliquer"); }});
    Recorder::clear();
    bool basique = false;
    int item = -1, position = -1;
    std::string b, c;
    size_t calls = 99;
    run(picture, {[&](tk::Automation& a) {
                      basique = a.checked("CorrDist.Basique");
                      item = a.itemIndex("CorrDist.TypeDistor");
                      position = a.position("CorrDist.TauxCorr");
                      b = a.text("CorrDist.TauxB");
                      c = a.text("CorrDist.TauxC");
                      calls = Recorder::calls().size();
                  },
                  [](tk::Automation& a) { a.press(tk::KeyCode::Escape); }});
    EXPECT_TRUE(basique);
    EXPECT_EQ(item, 0);
    EXPECT_EQ(position, 0);
    EXPECT_EQ(b, "0 %");
    EXPECT_EQ(c, "0 %");
    EXPECT_EQ(calls, 0u);
    ASSERT_EQ(Recorder::calls().size(), 1u);
    EXPECT_EQ(Recorder::calls()[0], image(false, true)) << "Escape cancels";
}

TEST_F(DistortionDialog, EnterAppliesWithoutAnyPreview) {
    const PtsImg picture = test::coordinatePicture(kW, kH);
    const auto before = bytesOf(picture);
    run(picture, {[](tk::Automation& a) { a.press(tk::KeyCode::Enter); }});
    ASSERT_EQ(Recorder::calls().size(), 1u);
    EXPECT_EQ(Recorder::calls()[0], image(true, true));
    EXPECT_EQ(bytesOf(picture), before);
}

} // namespace
} // namespace talvine
