// The crop dialog driven through XchgData (command 6, sub-modes 0 and 1) and
// the toolkit's automation calls.  The dialog is modeless: actions follow the
// opening call directly.
#include "core/ParamCoul.h"
#include "dialogs/DecoupImg.h"
#include "dialogs/Dialogs.h"
#include "plugin/Library.h"
#include "support/TestHost.h"
#include "toolkit/Automation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talvine {
namespace {

using test::bytesOf;
using test::Call;
using test::coordinatePixel;
using test::Recorder;

constexpr int32_t kContext = 66;

class CropDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(startLibrary());
        AdrRetour(&Recorder::callback, kContext);
        ui().clearBoxes();
    }
    void TearDown() override {
        // Leave the dialog closed for the next test.
        if (dialog().visible()) {
            for (const char* f : {"MrgG", "MrgH", "DimHorz", "DimVert"})
                dialog().get<tk::TEditVal>(f).setText("0");
            ui().click("RogneImg.Annuler");
        }
        Recorder::clear();
    }

    static tk::Automation& ui() {
        static tk::Automation automation(talvine::application());
        return automation;
    }
    static dialogs::TRogneImg& dialog() { return *dialogs::dialog<dialogs::TRogneImg>(); }

    static void open(const PtsImg& pic, int32_t w, int32_t h) {
        XchgData(6, 0, 0, 0, 0, w, h, 0, 0, pic.handle(), nullptr, 0, 0);
    }
    static void select(Point corner, TDimImg size, int32_t codeSel, TPtImg* buffer) {
        XchgData(6, corner.x, corner.y, 0, 0, size.Largeur, size.Hauteur, 1, codeSel, nullptr,
                 buffer, 0, 0);
    }
    static void type(const char* field, const char* text) {
        ui().replaceText(std::string("RogneImg.") + field, text);
    }
    static std::vector<std::string> fields() {
        std::vector<std::string> out;
        for (const char* f : {"MrgG", "MrgH", "DimHorz", "DimVert"})
            out.push_back(ui().text(std::string("RogneImg.") + f));
        return out;
    }
    static std::vector<std::string> boxTexts() {
        std::vector<std::string> out;
        for (const tk::Box& b : ui().boxes())
            out.push_back(b.text);
        return out;
    }
    static Call cadre(Point pt1, Point pt2) { return {kContext, pt1, pt2, rtCadre, 1, 0, 0, 0}; }
    static Call final(Point size, bool modifiee) {
        return {kContext, size, {0, 0}, rtImage, 0, modifiee, 1, 0};
    }
    static Call format(int param) { return {kContext, {0, 0}, {0, 0}, rtFormat, param, 0, 0, 0}; }
};

std::vector<uint8_t> pixelsNamed(int32_t x0, int32_t y, int32_t count) {
    std::vector<uint8_t> out;
    for (int32_t x = x0; x < x0 + count; ++x) {
        const TPtImg p = coordinatePixel(x, y);
        out.insert(out.end(), p.octets, p.octets + 3);
    }
    return out;
}

// ---------------------------------------------------------------------------
// Opening, applying, cancelling

TEST_F(CropDialog, OpeningAsksForARectangleAndShowsTheWholePicture) {
    const PtsImg pic = test::coordinatePicture(64, 48);
    open(pic, 64, 48);
    ASSERT_EQ(Recorder::calls().size(), 1u);
    EXPECT_EQ(Recorder::calls()[0], (Call{kContext, {64, 48}, {0, 0}, rtSaisie, 1, 0, 0, 0}));
    EXPECT_TRUE(dialog().visible());
    EXPECT_TRUE(dialog().stayOnTop());
    EXPECT_EQ(fields(), (std::vector<std::string>{"0", "0", "64", "48"}));
    EXPECT_EQ(ui().itemIndex("RogneImg.FormatImg"), 0);
}

TEST_F(CropDialog, ApplyingAtOnceKeepsTheWholePicture) {
    const PtsImg pic = test::coordinatePicture(64, 48);
    const auto before = bytesOf(pic);
    open(pic, 64, 48);
    ui().click("RogneImg.Appliquer");
    EXPECT_FALSE(dialog().visible());
    ASSERT_EQ(Recorder::calls().size(), 2u);
    EXPECT_EQ(Recorder::calls()[1], final({64, 48}, true));
    EXPECT_EQ(bytesOf(pic), before);
    EXPECT_TRUE(dialog().PtsInit.empty());
}

TEST_F(CropDialog, TypedRectangleIsPreviewedPerKeyAndPackedAtTheStartOfTheBuffer) {
    const PtsImg pic = test::coordinatePicture(640, 80);
    open(pic, 640, 80);
    Recorder::clear();
    type("MrgG", "10");
    type("MrgH", "20");
    type("DimHorz", "100");
    type("DimVert", "50");
    // One preview per key release, Pt2 one past the rectangle.
    const std::vector<Call> previews = {
        cadre({1, 0}, {641, 80}),    cadre({10, 0}, {650, 80}),  cadre({10, 2}, {650, 82}),
        cadre({10, 20}, {650, 100}), cadre({10, 20}, {11, 100}), cadre({10, 20}, {20, 100}),
        cadre({10, 20}, {110, 100}), cadre({10, 20}, {110, 25}), cadre({10, 20}, {110, 70}),
    };
    EXPECT_EQ(Recorder::calls(), previews);
    Recorder::clear();
    ui().click("RogneImg.Appliquer");
    EXPECT_EQ(Recorder::calls(), std::vector<Call>{final({100, 50}, true)});
    EXPECT_EQ(bytesOf(pic.data(), 100), pixelsNamed(10, 20, 100));
    EXPECT_EQ(bytesOf(pic.data() + 100, 100), pixelsNamed(10, 21, 100));
    EXPECT_EQ(bytesOf(pic.data() + 49 * 100, 100), pixelsNamed(10, 69, 100));
    // The rest of the buffer keeps the picture's pixels.
    EXPECT_EQ(bytesOf(pic.data() + 5000, 1), pixelsNamed(5000 % 640, 5000 / 640, 1));
}

TEST_F(CropDialog, KeyReleasedInAnEmptyFieldSendsNothing) {
    const PtsImg pic = test::coordinatePicture(64, 48);
    open(pic, 64, 48);
    Recorder::clear();
    ui().focus("RogneImg.DimHorz");
    ui().press(tk::Key{tk::KeyCode::Backspace, 0}); // "64" selected: the field empties
    EXPECT_EQ(ui().text("RogneImg.DimHorz"), "");
    EXPECT_TRUE(Recorder::calls().empty());
    EXPECT_TRUE(ui().boxes().empty());
}

TEST_F(CropDialog, FieldErrorOnAKeyReleaseKeepsTheRectangle) {
    const PtsImg pic = test::coordinatePicture(64, 48);
    open(pic, 64, 48);
    type("DimHorz", "20");
    Recorder::clear();
    type("MrgG", "65");
    EXPECT_EQ(boxTexts(),
              (std::vector<std::string>{"65 n'est pas dans l'intervalle requis 0 .. 64."}));
    // "6" was sent before "65" failed.
    EXPECT_EQ(Recorder::calls(), std::vector<Call>{cadre({6, 0}, {26, 48})});
    ui().clearBoxes();
    type("MrgH", "a");
    // MrgG is checked first and still fails: its error, not MrgH's, is shown.
    EXPECT_EQ(boxTexts(),
              (std::vector<std::string>{"65 n'est pas dans l'intervalle requis 0 .. 64."}));
    EXPECT_EQ(dialog().CadreX, 6);
    EXPECT_EQ(dialog().CadreL, 20);
}

TEST_F(CropDialog, CancellingReportsTheRectangleUnchangedAndLeavesTheBuffer) {
    const PtsImg pic = test::coordinatePicture(64, 48);
    const auto before = bytesOf(pic);
    open(pic, 64, 48);
    type("DimVert", "7");
    Recorder::clear();
    ui().click("RogneImg.Annuler");
    EXPECT_EQ(Recorder::calls(), std::vector<Call>{final({64, 7}, false)});
    EXPECT_EQ(bytesOf(pic), before);
    EXPECT_FALSE(dialog().visible());
}

TEST_F(CropDialog, InvalidFieldHoldsTheCloseBackUntilCorrected) {
    const PtsImg pic = test::coordinatePicture(64, 48);
    open(pic, 64, 48);
    type("MrgH", "z");
    Recorder::clear();
    ui().clearBoxes();
    ui().click("RogneImg.Annuler");
    EXPECT_EQ(boxTexts(),
              std::vector<std::string>{"'z' n'est pas une valeur enti\xC3\xA8re correcte."});
    EXPECT_TRUE(dialog().visible());
    EXPECT_FALSE(dialog().PtsInit.empty());
    EXPECT_TRUE(Recorder::calls().empty());
    ui().click("RogneImg.Appliquer"); // fails the same way, writes nothing
    EXPECT_TRUE(dialog().visible());
    EXPECT_TRUE(Recorder::calls().empty());
    type("MrgH", "0");
    Recorder::clear();
    ui().click("RogneImg.Annuler");
    EXPECT_EQ(Recorder::calls(), std::vector<Call>{final({64, 48}, false)});
}

TEST_F(CropDialog, ZeroWidthPassesAndCropsToNothing) {
    const PtsImg pic = test::coordinatePicture(8, 8);
    const auto before = bytesOf(pic);
    open(pic, 8, 8);
    type("DimHorz", "0");
    Recorder::clear();
    ui().click("RogneImg.Appliquer");
    EXPECT_EQ(Recorder::calls(), std::vector<Call>{final({0, 8}, true)});
    EXPECT_EQ(bytesOf(pic), before);
}

// ---------------------------------------------------------------------------
// Formats

TEST_F(CropDialog, EachFormatIsForwardedWithItsIndexInTheSecondByte) {
    const PtsImg pic = test::coordinatePicture(16, 16);
    open(pic, 16, 16);
    Recorder::clear();
    for (int index : {1, 2, 3, 4, 0})
        ui().clickItem("RogneImg.FormatImg", index);
    EXPECT_EQ(Recorder::calls(),
              (std::vector<Call>{format(257), format(513), format(769), format(1025), format(1)}));
    EXPECT_EQ(fields(), (std::vector<std::string>{"0", "0", "16", "16"}));
}

TEST_F(CropDialog, ReopeningAfterAFormatSendsFreeFormatAgain) {
    const PtsImg pic = test::coordinatePicture(16, 16);
    open(pic, 16, 16);
    type("DimHorz", "5");
    ui().clickItem("RogneImg.FormatImg", 4);
    EXPECT_EQ(dialog().CadreL, 5);
    ui().click("RogneImg.Annuler");
    Recorder::clear();
    open(pic, 16, 16);
    EXPECT_EQ(Recorder::calls(),
              (std::vector<Call>{{kContext, {16, 16}, {0, 0}, rtSaisie, 1, 0, 0, 0}, format(1)}));
    EXPECT_EQ(fields(), (std::vector<std::string>{"0", "0", "16", "16"}));
    Recorder::clear();
    ui().click("RogneImg.Annuler");
    open(pic, 16, 16); // "Libre" was already selected: nothing more is sent
    EXPECT_EQ(Recorder::calls().size(), 2u);
}

// Opened again while it is still up, the dialog takes the new picture as its
// rectangle without showing itself anew: the fields and the format stay as the
// user left them and the host is only asked for a rectangle again.
TEST_F(CropDialog, OpeningWhileShownTakesTheNewPictureAndKeepsTheFields) {
    const PtsImg first = test::coordinatePicture(16, 16);
    open(first, 16, 16);
    type("MrgG", "2");
    type("DimHorz", "5");
    ui().clickItem("RogneImg.FormatImg", 4);
    Recorder::clear();

    const PtsImg second = test::coordinatePicture(24, 10);
    const auto secondBefore = bytesOf(second);
    open(second, 24, 10);
    EXPECT_EQ(Recorder::calls(),
              (std::vector<Call>{{kContext, {24, 10}, {0, 0}, rtSaisie, 1, 0, 0, 0}}));
    EXPECT_TRUE(dialog().visible());
    EXPECT_EQ(fields(), (std::vector<std::string>{"2", "0", "5", "16"}));
    EXPECT_EQ(ui().itemIndex("RogneImg.FormatImg"), 4);
    EXPECT_EQ(dialog().CadreX, 0);
    EXPECT_EQ(dialog().CadreY, 0);
    EXPECT_EQ(dialog().CadreL, 24);
    EXPECT_EQ(dialog().CadreH, 10);

    // Applying at once keeps the whole of the second picture.
    Recorder::clear();
    ui().click("RogneImg.Appliquer");
    EXPECT_FALSE(dialog().visible());
    EXPECT_EQ(Recorder::calls(), std::vector<Call>{final({24, 10}, true)});
    EXPECT_EQ(bytesOf(second), secondBefore);
}

// ---------------------------------------------------------------------------
// Selections reported by the host

TEST_F(CropDialog, SelectionWithCode4FillsTheFieldsOtherCodesOnlyTheRectangle) {
    const PtsImg pic = test::coordinatePicture(64, 48);
    open(pic, 64, 48);
    const PtsImg buffer = pic.clone();
    Recorder::clear();
    select({3, 4}, {20, 10}, 4, buffer.handle());
    EXPECT_EQ(fields(), (std::vector<std::string>{"3", "4", "20", "10"}));
    select({5, 6}, {30, 12}, 2, buffer.handle());
    EXPECT_EQ(fields(), (std::vector<std::string>{"3", "4", "20", "10"}));
    EXPECT_TRUE(Recorder::calls().empty()); // reports send nothing
    ui().click("RogneImg.Appliquer");
    EXPECT_EQ(Recorder::calls(), std::vector<Call>{final({30, 12}, true)});
    // Written into the reported buffer, out of the picture kept at opening.
    EXPECT_EQ(bytesOf(buffer.data(), 30), pixelsNamed(5, 6, 30));
    EXPECT_EQ(bytesOf(pic.data(), 1), pixelsNamed(0, 0, 1));
}

TEST_F(CropDialog, KeyReleaseAfterASelectionTakesTheFieldsAgain) {
    const PtsImg pic = test::coordinatePicture(64, 48);
    open(pic, 64, 48);
    select({5, 6}, {30, 12}, 0, pic.handle());
    Recorder::clear();
    ui().press("RogneImg.MrgG", tk::Key{tk::KeyCode::Right, 0});
    EXPECT_EQ(Recorder::calls(), std::vector<Call>{cadre({0, 0}, {64, 48})});
}

TEST_F(CropDialog, SelectionWhoseBufferCannotHoldThePictureIsIgnored) {
    const PtsImg pic = test::coordinatePicture(8, 8);
    open(pic, 8, 8);
    const PtsImg shortBuffer(63);
    select({1, 1}, {2, 2}, 4, nullptr);
    select({1, 1}, {2, 2}, 4, shortBuffer.handle());
    EXPECT_EQ(fields(), (std::vector<std::string>{"0", "0", "8", "8"}));
    EXPECT_EQ(dialog().CadreL, 8);
    EXPECT_EQ(dialog().PtsTravail.handle(), pic.handle());
    EXPECT_EQ(referenceCount(shortBuffer.handle()), 1);
}

TEST_F(CropDialog, RectanglePastTheEdgesIsClippedAndTheClippedSizeReported) {
    const PtsImg pic = test::coordinatePicture(64, 48);
    open(pic, 64, 48);
    // From the fields: each within range, their sums past the edges.
    type("MrgG", "60");
    type("MrgH", "40");
    Recorder::clear();
    ui().click("RogneImg.Appliquer");
    EXPECT_EQ(Recorder::calls(), std::vector<Call>{final({4, 8}, true)});
    EXPECT_EQ(bytesOf(pic.data(), 4), pixelsNamed(60, 40, 4));
    EXPECT_EQ(bytesOf(pic.data() + 28, 4), pixelsNamed(60, 47, 4));

    // From a selection report, with a negative corner: only the part inside.
    const PtsImg again = test::coordinatePicture(64, 48);
    open(again, 64, 48);
    select({-2, -3}, {5, 1000}, 1, again.handle());
    Recorder::clear();
    ui().click("RogneImg.Appliquer");
    EXPECT_EQ(Recorder::calls(), std::vector<Call>{final({3, 48}, true)});
    EXPECT_EQ(bytesOf(again.data(), 6), [] {
        auto v = pixelsNamed(0, 0, 3);
        auto w = pixelsNamed(0, 1, 3);
        v.insert(v.end(), w.begin(), w.end());
        return v;
    }());
}

// A cancel reports the same clipped size an apply would cut out: never
// negative, never larger than the picture, whatever the host reported.
TEST_F(CropDialog, CancellingAfterAWildSelectionReportsTheClippedSize) {
    const PtsImg pic = test::coordinatePicture(40, 30);
    const auto before = bytesOf(pic);
    struct Case {
        Point corner;
        TDimImg size;
        Point reported;
    } cases[] = {
        {{0, 0}, {-86, 2147483647}, {0, 30}},
        {{10, 5}, {2147483647, 2147483647}, {30, 25}},
        {{-2147483647 - 1, -5}, {2147483647, 10}, {0, 5}},
        {{50, 40}, {10, 10}, {0, 0}},
    };
    for (const Case& c : cases) {
        open(pic, 40, 30);
        select(c.corner, c.size, 1, pic.handle());
        Recorder::clear();
        ui().click("RogneImg.Annuler");
        EXPECT_EQ(Recorder::calls(), std::vector<Call>{final(c.reported, false)})
            << c.corner.x << "," << c.corner.y << " " << c.size.Largeur << "x" << c.size.Hauteur;
    }
    EXPECT_EQ(bytesOf(pic), before);
}

TEST_F(CropDialog, SelectionReportWhileClosedIsIgnored) {
    const PtsImg pic = test::coordinatePicture(40, 30);
    open(pic, 40, 30);
    ui().click("RogneImg.Annuler");
    const PtsImg other = test::coordinatePicture(40, 30);
    Recorder::clear();
    select({3, 4}, {5, 6}, 4, other.handle());
    EXPECT_TRUE(Recorder::calls().empty());
    EXPECT_EQ(dialog().CadreL, 40);
    EXPECT_EQ(dialog().CadreH, 30);
    EXPECT_EQ(dialog().PtsTravail.handle(), pic.handle());
    EXPECT_EQ(referenceCount(other.handle()), 1);
    EXPECT_EQ(fields(), (std::vector<std::string>{"0", "0", "40", "30"}));
}

} // namespace
} // namespace talvine
