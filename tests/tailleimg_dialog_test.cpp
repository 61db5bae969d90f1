// The resize dialog driven as a user would, through XchgData (command 7) and
// the toolkit's automation calls.  The dialog is modal: what the user does is
// queued before the call that opens it.
#include "core/Allocator.h"
#include "core/Cursor.h"
#include "core/ParamCoul.h"
#include "dialogs/Dialogs.h"
#include "dialogs/TailleImg.h"
#include "plugin/Library.h"
#include "support/TestHost.h"
#include "toolkit/Automation.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace talvine {
namespace {

using test::bytesOf;
using test::Recorder;

constexpr int32_t kContext = 4242;

// What the four size controls show: pixels, then percentages.
struct Shown {
    std::string dimHorz, dimVert, tauxH, tauxV;
    friend bool operator==(const Shown&, const Shown&) = default;
};

class ResizeDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(startLibrary());
        AdrRetour(&Recorder::callback, kContext);
        Recorder::clear();
        ui().clearBoxes();
        ui().headless().clearActions();
        ui().headless().clearFailures();
        dialog().Lissage.initChecked(false);
    }
    void TearDown() override {
        EXPECT_TRUE(ui().headless().failures().empty())
            << "scripting failure: " << ui().headless().failures().front();
        EXPECT_EQ(ui().headless().pendingActions(), 0u);
    }

    static tk::Automation& ui() {
        static tk::Automation automation(talvine::application());
        return automation;
    }
    static dialogs::TChangeDim& dialog() { return *dialogs::dialog<dialogs::TChangeDim>(); }

    // Runs command 7 on `picture` with the user's actions queued, one per turn.
    void run(const PtsImg& picture, int32_t w, int32_t h,
             std::vector<std::function<void()>> actions) {
        for (auto& a : actions)
            ui().queue(std::move(a));
        XchgData(7, 0, 0, 0, 0, w, h, 0, 0, picture.handle(), nullptr, 0, 0);
    }

    static std::string text(const char* control) {
        return ui().text(std::string("ChangeDim.") + control);
    }
    static void type(const char* control, const char* t) {
        ui().replaceText(std::string("ChangeDim.") + control, t);
    }
    static void click(const char* control) { ui().click(std::string("ChangeDim.") + control); }
    static Shown shown() {
        return {text("DimHorz"), text("DimVert"), text("TauxH"), text("TauxV")};
    }

    std::vector<std::string> boxTexts() const {
        std::vector<std::string> out;
        for (const tk::Box& b : ui().boxes())
            out.push_back(b.text);
        return out;
    }
};

std::ostream& operator<<(std::ostream& os, const Shown& s) {
    return os << s.dimHorz << " " << s.dimVert << " " << s.tauxH << "% " << s.tauxV << "%";
}

// ---------------------------------------------------------------------------
// Opening and the linked fields

// Nobody to answer (nothing scripted): the dialog closes as a cancel, which
// for the resize means no callback at all; nothing is written to stderr.
TEST_F(ResizeDialog, NobodyToAnswerClosesAsACancelWithoutACallback) {
    const PtsImg picture = test::randomPicture(20, 10, 3);
    const auto before = bytesOf(picture);
    ::testing::internal::CaptureStderr();
    ::testing::internal::CaptureStdout();
    run(picture, 20, 10, {});
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(Recorder::calls().empty());
    EXPECT_EQ(bytesOf(picture), before);
    EXPECT_FALSE(dialog().visible());
    ASSERT_EQ(ui().headless().failures().size(), 1u);
    ui().headless().clearFailures();
}

TEST_F(ResizeDialog, OpensAtTheCurrentSizeLinkedWithRangesUpToEightTimes) {
    const PtsImg pic = test::coordinatePicture(200, 150);
    Shown atOpening;
    bool linked = false;
    int32_t maxH = 0, maxV = 0;
    run(pic, 200, 150, {[&] {
            atOpening = shown();
            linked = ui().checked("ChangeDim.LienHsurL");
            maxH = dialog().DimHorz.Maxi;
            maxV = dialog().DimVert.Maxi;
            click("Annuler");
        }});
    EXPECT_EQ(atOpening, (Shown{"200", "150", "100", "100"}));
    EXPECT_TRUE(linked);
    EXPECT_EQ(maxH, 1600);
    EXPECT_EQ(maxV, 1200);
    EXPECT_FALSE(dialog().visible());
}

TEST_F(ResizeDialog, SpinArrowsStepTenPercentWithinTheRange) {
    const PtsImg pic = test::coordinatePicture(200, 150);
    Shown up, top;
    run(pic, 200, 150, {[&] {
            ui().pressSpin("ChangeDim.TauxV", true);
            up = shown();
            type("TauxH", "795");
            ui().pressSpin("ChangeDim.TauxH", true);
            top = shown();
            click("Annuler");
        }});
    EXPECT_EQ(up, (Shown{"220", "165", "110", "110"}));
    EXPECT_EQ(top, (Shown{"1600", "1200", "800", "800"}));
}

TEST_F(ResizeDialog, TypedPixelsReachTheOtherAxisOnlyAsAnIntegerPercentage) {
    const PtsImg pic = test::coordinatePicture(200, 150);
    Shown after;
    run(pic, 200, 150, {[&] {
            type("DimHorz", "333"); // 166.5 % -> 166, and 150 * 166 % = 249
            after = shown();
            click("Annuler");
        }});
    EXPECT_EQ(after, (Shown{"333", "249", "166", "166"}));
}

TEST_F(ResizeDialog, PercentageSetsThePixelsRoundedToEven) {
    const PtsImg narrow = test::coordinatePicture(333, 10), wide = test::coordinatePicture(335, 10);
    Shown onNarrow, onWide;
    run(narrow, 333, 10, {[&] {
            type("TauxH", "50");
            onNarrow = shown();
            click("Annuler");
        }});
    run(wide, 335, 10, {[&] {
            type("TauxH", "50");
            onWide = shown();
            click("Annuler");
        }});
    EXPECT_EQ(onNarrow, (Shown{"166", "5", "50", "50"})); // 166.5 -> 166
    EXPECT_EQ(onWide, (Shown{"168", "5", "50", "50"}));   // 167.5 -> 168
}

TEST_F(ResizeDialog, AnEditThatLeavesThePercentageAsItWasLeavesItsAxisDeafOnce) {
    const PtsImg pic = test::coordinatePicture(1000, 10);
    Shown afterFirst, afterSecond, afterThird;
    run(pic, 1000, 10, {[&] {
            // One edit (a paste): 1001 is 100.1 %, which TauxH already shows.
            ui().focus("ChangeDim.DimHorz");
            ui().app().dispatch([] { dialog().DimHorz.replaceSelection("1001"); });
            afterFirst = shown();
            // The next change only makes the axis listen again.
            ui().app().dispatch([] {
                dialog().DimHorz.selectAll();
                dialog().DimHorz.replaceSelection("500");
            });
            afterSecond = shown();
            ui().app().dispatch([] {
                dialog().DimHorz.selectAll();
                dialog().DimHorz.replaceSelection("400");
            });
            afterThird = shown();
            click("Annuler");
        }});
    EXPECT_EQ(afterFirst, (Shown{"1001", "10", "100", "100"}));
    EXPECT_EQ(afterSecond, (Shown{"500", "10", "100", "100"}));
    EXPECT_EQ(afterThird, (Shown{"400", "4", "40", "40"}));
}

TEST_F(ResizeDialog, UnlinkedAxesMoveAloneAndRelinkingCopiesTheHorizontalPercentage) {
    const PtsImg pic = test::coordinatePicture(200, 150);
    Shown unlinked, relinked;
    run(pic, 200, 150, {[&] {
            ui().setChecked("ChangeDim.LienHsurL", false);
            type("TauxH", "50");
            unlinked = shown();
            ui().setChecked("ChangeDim.LienHsurL", true);
            relinked = shown();
            click("Annuler");
        }});
    EXPECT_EQ(unlinked, (Shown{"100", "150", "50", "100"}));
    EXPECT_EQ(relinked, (Shown{"100", "75", "50", "50"}));
}

TEST_F(ResizeDialog, PercentageAbove800IsUsedAsTypedUntilClamped) {
    const PtsImg pic = test::coordinatePicture(20, 10);
    Shown linked, unlinkedTyped, unlinkedLeft;
    std::vector<std::string> boxesOnApply;
    run(pic, 20, 10, {[&] {
            type("TauxH", "900");
            linked = shown(); // the other side clamps and copies 800 back
            click("Annuler");
        }});
    run(pic, 20, 10,
        {[&] {
             ui().setChecked("ChangeDim.LienHsurL", false);
             type("TauxH", "900");
             unlinkedTyped = shown();
             ui().press(tk::KeyCode::Enter); // applies with 180 pixels: out of range
         },
         [&] {
             boxesOnApply = boxTexts();
             ui().focus("ChangeDim.TauxV"); // TauxH loses the focus and clamps itself
             unlinkedLeft = shown();
             click("Annuler");
         }});
    EXPECT_EQ(linked, (Shown{"160", "80", "800", "800"}));
    EXPECT_EQ(unlinkedTyped, (Shown{"180", "10", "900", "100"}));
    EXPECT_EQ(boxesOnApply,
              std::vector<std::string>{"180 n'est pas dans l'intervalle requis 0 .. 160."});
    EXPECT_EQ(unlinkedLeft, (Shown{"160", "10", "800", "100"}));
    EXPECT_TRUE(Recorder::calls().empty());
}

TEST_F(ResizeDialog, ReopeningResetsTheFieldsButKeepsTheSmoothingChoice) {
    const PtsImg pic = test::coordinatePicture(200, 150);
    Shown second;
    bool smoothing = false, linked = false;
    run(pic, 200, 150, {[&] {
            ui().setChecked("ChangeDim.Lissage", true);
            ui().setChecked("ChangeDim.LienHsurL", false);
            type("DimHorz", "50");
            click("Annuler");
        }});
    run(pic, 200, 150, {[&] {
            second = shown();
            smoothing = ui().checked("ChangeDim.Lissage");
            linked = ui().checked("ChangeDim.LienHsurL");
            click("Annuler");
        }});
    EXPECT_EQ(second, (Shown{"200", "150", "100", "100"}));
    EXPECT_TRUE(smoothing);
    EXPECT_TRUE(linked);
}

// ---------------------------------------------------------------------------
// Applying and cancelling

TEST_F(ResizeDialog, ApplyingUnchangedHandsBackACopyInANewArray) {
    const PtsImg pic = test::randomPicture(31, 17, 5);
    const auto before = bytesOf(pic);
    run(pic, 31, 17, {[&] { click("Appliquer"); }});
    ASSERT_EQ(Recorder::calls().size(), 1u);
    const test::Call& c = Recorder::calls()[0];
    EXPECT_EQ(c.contexte, kContext);
    EXPECT_EQ(c.pt1, (Point{31, 17}));
    EXPECT_EQ(c.pt2, (Point{0, 0}));
    EXPECT_EQ(c.nature, rtImage);
    EXPECT_EQ(c.modifiee, 1);
    EXPECT_EQ(c.fin, 1);
    auto* result = reinterpret_cast<TPtImg*>(c.param);
    ASSERT_NE(result, nullptr);
    EXPECT_NE(result, pic.handle());
    EXPECT_EQ(c.paramRefs, 1); // the dialog's own reference, until the next opening
    EXPECT_EQ(arrayLength(result), 31 * 17);
    EXPECT_EQ(bytesOf(result, 31 * 17), before);
    EXPECT_EQ(bytesOf(pic), before);
    EXPECT_EQ(referenceCount(pic.handle()), 1);
    EXPECT_EQ(currentCursor(), Cursor::Default);
}

TEST_F(ResizeDialog, ApplyingWithSmoothingBlendsTheNewPixels) {
    PtsImg pic(4);
    const uint8_t levels[] = {10, 13, 40, 101};
    for (int i = 0; i < 4; ++i)
        pic[i] = TPtImg{{levels[i], levels[i], levels[i]}};
    run(pic, 2, 2, {[&] {
            ui().setChecked("ChangeDim.Lissage", true);
            type("DimHorz", "4"); // linked: 200 %, so 4 x 4
            click("Appliquer");
        }});
    ASSERT_EQ(Recorder::calls().size(), 1u);
    EXPECT_EQ(Recorder::calls()[0].pt1, (Point{4, 4}));
    const auto out = bytesOf(reinterpret_cast<TPtImg*>(Recorder::calls()[0].param), 16);
    EXPECT_EQ(out[0], 10);
    EXPECT_EQ(out[3], 12);       // (10 + 13) / 2 = 11.5, ties to even
    EXPECT_EQ(out[15 * 3], 101); // bottom right continues the last row
}

TEST_F(ResizeDialog, ApplyingPlainlyPicksNearestPixels) {
    const PtsImg pic = test::coordinatePicture(4, 4);
    run(pic, 4, 4, {[&] {
            type("TauxH", "50");
            click("Appliquer");
        }});
    ASSERT_EQ(Recorder::calls().size(), 1u);
    EXPECT_EQ(Recorder::calls()[0].pt1, (Point{2, 2}));
    const auto* out = reinterpret_cast<const TPtImg*>(Recorder::calls()[0].param);
    const std::vector<uint8_t> expected = {0, 0, 0, 2, 0, 2, 0, 2, 2, 2, 2, 0};
    EXPECT_EQ(bytesOf(out, 4), expected); // (0,0) (2,0) (0,2) (2,2)
}

TEST_F(ResizeDialog, CancellingTellsTheHostNothing) {
    const PtsImg pic = test::coordinatePicture(8, 8);
    const auto before = bytesOf(pic);
    run(pic, 8, 8, {[&] {
            type("DimHorz", "3");
            click("Annuler");
        }});
    run(pic, 8, 8, {[&] { ui().press(tk::KeyCode::Escape); }});
    EXPECT_TRUE(Recorder::calls().empty());
    EXPECT_EQ(bytesOf(pic), before);
    EXPECT_TRUE(ui().boxes().empty());
}

TEST_F(ResizeDialog, ZeroSizeShowsTheDivisionErrorAndStaysOpen) {
    const PtsImg pic = test::coordinatePicture(8, 8);
    const auto before = bytesOf(pic);
    bool stillOpen = false;
    TPtImg* travail = nullptr;
    run(pic, 8, 8,
        {[&] {
             ui().setChecked("ChangeDim.LienHsurL", false);
             type("DimVert", "0");
             click("Appliquer");
         },
         [&] {
             stillOpen = dialog().visible();
             travail = dialog().PtsTravail.handle();
             click("Annuler");
         }});
    EXPECT_EQ(boxTexts(),
              std::vector<std::string>{"Division par z\xC3\xA9ro en virgule flottante."});
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(travail, pic.handle());
    EXPECT_TRUE(Recorder::calls().empty());
    EXPECT_EQ(bytesOf(pic), before);
    EXPECT_EQ(currentCursor(), Cursor::Default);
}

TEST_F(ResizeDialog, InvalidPixelTextIsReportedAndHoldsTheApplyBack) {
    const PtsImg pic = test::coordinatePicture(8, 8);
    bool stillOpen = false;
    run(pic, 8, 8,
        {[&] {
             type("DimHorz", "x");
             click("Appliquer");
         },
         [&] {
             stillOpen = dialog().visible();
             type("DimHorz", "16");
             click("Appliquer");
         }});
    const std::string convert = "'x' n'est pas une valeur enti\xC3\xA8re correcte.";
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{convert, convert}));
    EXPECT_TRUE(stillOpen);
    ASSERT_EQ(Recorder::calls().size(), 1u);
    EXPECT_EQ(Recorder::calls()[0].pt1, (Point{16, 16}));
}

// An allocator that refuses blocks above a size, over the one in use.
AllocatorRecord gUnderlying;
intptr_t gLimit = 0;
void* limitedAllocate(intptr_t size) {
    return size > gLimit ? nullptr : gUnderlying.allocate(size);
}

TEST_F(ResizeDialog, NewArrayThatCannotBeAllocatedShowsOutOfMemoryAndStaysOpen) {
    const PtsImg pic = test::coordinatePicture(100, 100);
    const auto before = bytesOf(pic);
    bool stillOpen = false;
    gUnderlying = currentAllocator();
    gLimit = 100 * 100 * 3 * 2; // the picture and its copy fit, 8 x 8 times does not
    AllocatorRecord limited = gUnderlying;
    limited.allocate = &limitedAllocate;
    setCurrentAllocator(limited);
    run(pic, 100, 100,
        {[&] {
             type("TauxH", "800");
             click("Appliquer");
         },
         [&] {
             stillOpen = dialog().visible();
             click("Annuler");
         }});
    setCurrentAllocator(gUnderlying);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"M\xC3\xA9moire insuffisante."});
    EXPECT_TRUE(stillOpen);
    EXPECT_TRUE(Recorder::calls().empty());
    EXPECT_EQ(bytesOf(pic), before);
}

// A picture without pixels opens the dialog like any other, and the opening
// lets go of the array the previous apply produced.  Nothing can be derived
// from a side of 0 pixels, and a resize to 0 fails as it always does.
TEST_F(ResizeDialog, EmptyPictureOpensTheDialogAndDropsThePreviousResult) {
    const PtsImg pic = test::coordinatePicture(4, 3);
    run(pic, 4, 3, {[&] { click("Appliquer"); }});
    ASSERT_EQ(Recorder::calls().size(), 1u);
    const PtsImg previous = PtsImg::share(reinterpret_cast<TPtImg*>(Recorder::calls()[0].param));
    ASSERT_EQ(referenceCount(previous.handle()), 2); // ours and the dialog's
    Recorder::clear();

    Shown atOpening, afterRetyping;
    int32_t previousRefsWhileOpen = 0;
    bool stillOpen = false;
    run(PtsImg(), 0, 0,
        {[&] {
             previousRefsWhileOpen = referenceCount(previous.handle());
             atOpening = shown();
             ui().press("ChangeDim.DimHorz", {tk::KeyCode::Backspace});
             ui().typeText("ChangeDim.DimHorz", "0");
             afterRetyping = shown();
             click("Appliquer");
         },
         [&] {
             stillOpen = dialog().visible();
             click("Annuler");
         }});
    EXPECT_EQ(previousRefsWhileOpen, 1);
    EXPECT_EQ(atOpening, (Shown{"0", "0", "100", "100"}));
    EXPECT_EQ(afterRetyping, (Shown{"0", "0", "100", "100"}));
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(boxTexts(),
              std::vector<std::string>{"Division par z\xC3\xA9ro en virgule flottante."});
    EXPECT_TRUE(Recorder::calls().empty());
    EXPECT_FALSE(dialog().visible());
}

// The width field of a picture without width has no range: any number typed
// there is taken, and applying says in French that there is nothing to
// resample, the dialog open and the host told nothing.
TEST_F(ResizeDialog, PictureWithoutWidthRefusesAnyTypedWidthInFrench) {
    const PtsImg empty;
    Shown typed;
    std::vector<bool> open;
    run(empty, 0, 6,
        {[&] {
             type("DimHorz", "100");
             typed = shown();
             click("Appliquer");
         },
         [&] {
             open.push_back(dialog().visible());
             type("DimHorz", "-5");
             click("Appliquer");
         },
         [&] {
             open.push_back(dialog().visible());
             click("Annuler");
         }});
    EXPECT_EQ(typed, (Shown{"100", "6", "100", "100"}));
    const std::string refusal = "L'image n'a aucun pixel \xC3\xA0 redimensionner.";
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{refusal, refusal}));
    EXPECT_EQ(open, (std::vector<bool>{true, true}));
    EXPECT_TRUE(Recorder::calls().empty());
}

TEST_F(ResizeDialog, PictureWithoutWidthStillScalesItsHeight) {
    const PtsImg empty;
    Shown linked;
    run(empty, 0, 6, {[&] {
            type("TauxV", "50");
            linked = shown();
            click("Annuler");
        }});
    EXPECT_EQ(linked, (Shown{"0", "3", "50", "50"}));
    EXPECT_TRUE(Recorder::calls().empty());
    EXPECT_TRUE(ui().boxes().empty());
}

} // namespace
} // namespace talvine
