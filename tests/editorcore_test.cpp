// The editor's logic without Qt: EditorCore with the built module, which
// finds no Qt application in this process and runs its dialogs on the
// toolkit's headless backend.  The canvas's rules for the crop rectangle
// (its handles, a move, a new one, the picture's edges) are the core's and
// are tested here in the points the canvas hands on; tests/qt/
// qt_editor_test drives the same through the real widgets.
//
// Nobody clicks a headless dialog's buttons here: where a test closes the
// command, it sends the final callback the dialog's Annuler sends (rtImage,
// Fin 1, Modifiee false), and the dialog stays open in the module, to be
// opened again by the next test as a user may do.
#include "CleanCrop.h"
#include "EditorCore.h"
#include "Scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace talvine::editor {
namespace {

Picture sample() {
    const hosts::Picture scene = hosts::sampleScene();
    return {scene.width, scene.height, scene.rgb};
}

class EditorCoreTest : public testing::Test {
  protected:
    static void SetUpTestSuite() { core_ = new EditorCore(TALVINE_MODULE_PATH); }
    static void TearDownTestSuite() {
        delete core_;
        core_ = nullptr;
    }
    void SetUp() override { core_->open(sample()); }
    void TearDown() override {
        if (core_->busy()) cancel();
    }

    // The final callback of a dialog's Annuler.
    static void cancel() {
        core_->callback(core_->width(), core_->height(), 0, 0, rtImage, 0, false, true);
    }
    // The crop's dialog, waiting for a rectangle.
    static void openCrop() {
        core_->run(TALVINE_CMD_ROGNER);
        ASSERT_TRUE(core_->busy());
        ASSERT_EQ(core_->mode(), Mode::SelectRect);
    }

    // The canvas's mouse, in its points at `zoom_`: a press, a move with
    // the button held, and the release (which moves there first, as the
    // canvas does).
    void press(ScreenPoint at) { core_->pressSelection(at, zoom_); }
    void moveTo(ScreenPoint at) { core_->dragPressedSelection(at, zoom_); }
    void release(ScreenPoint at) {
        moveTo(at);
        core_->releaseSelection();
    }
    void drag(ScreenPoint from, ScreenPoint to) {
        press(from);
        moveTo(to);
        release(to);
    }
    // Where a point of the picture (edges and pixels alike) shows.
    ScreenPoint shown(double x, double y) const { return {x * zoom_, y * zoom_}; }

    static EditorCore* core_;
    double zoom_ = 1;
};

EditorCore* EditorCoreTest::core_ = nullptr;

// The rectangle the handle tests start from: right at x 400, bottom at
// y 300, its middles at x 250 and y 190.
constexpr PixelRect kRect{100, 80, 300, 220};

TEST(SelectionHandles, LieAtTheCornersAndTheMiddlesOfTheSidesClockwise) {
    const auto at1 = selectionHandles(kRect, 1);
    const std::array<ScreenPoint, 8> want1 = {ScreenPoint{100, 80}, {250, 80},  {400, 80},
                                              {400, 190},           {400, 300}, {250, 300},
                                              {100, 300},           {100, 190}};
    EXPECT_EQ(at1, want1);
    // Shown at 2.5 screen pixels per picture pixel, on the screen's scale.
    const auto at25 = selectionHandles(kRect, 2.5);
    for (int k = 0; k < 8; ++k) {
        SCOPED_TRACE(k);
        EXPECT_DOUBLE_EQ(at25[k].x, want1[k].x * 2.5);
        EXPECT_DOUBLE_EQ(at25[k].y, want1[k].y * 2.5);
    }
    // An odd side: the middle falls between pixels.
    const auto odd = selectionHandles({0, 0, 5, 3}, 1);
    EXPECT_EQ(odd[1], (ScreenPoint{2.5, 0}));
    EXPECT_EQ(odd[3], (ScreenPoint{5, 1.5}));
}

TEST(SelectionHandles, EachTakesTheScreenPointsWithinItsSideEitherWay) {
    for (const double zoom : {1.0, 0.25, 3.0}) {
        SCOPED_TRACE(zoom);
        const auto handles = selectionHandles(kRect, zoom);
        for (int k = 0; k < 8; ++k) {
            SCOPED_TRACE(k);
            const ScreenPoint h = handles[k];
            EXPECT_EQ(handleAt(kRect, zoom, h), k);
            // A square of the screen, whatever the zoom: its corners too.
            for (const double dx : {-kHandleSide, 0.0, kHandleSide})
                for (const double dy : {-kHandleSide, 0.0, kHandleSide})
                    EXPECT_EQ(handleAt(kRect, zoom, {h.x + dx, h.y + dy}), k) << dx << ", " << dy;
            EXPECT_EQ(handleAt(kRect, zoom, {h.x + kHandleSide + 0.5, h.y}), -1);
            EXPECT_EQ(handleAt(kRect, zoom, {h.x, h.y - kHandleSide - 0.5}), -1);
        }
        // Inside, away from every handle: none.
        EXPECT_EQ(handleAt(kRect, zoom, {175 * zoom, 135 * zoom}), -1);
    }
}

TEST(SelectionHandles, OnASmallRectangleTheFirstOfThoseThatOverlapTakesThePoint) {
    // Four pixels across: every handle lies within reach of the top-left.
    const PixelRect small{10, 10, 4, 4};
    EXPECT_EQ(handleAt(small, 1, {12, 10}), 0) << "the top's middle, nearer, but after";
    EXPECT_EQ(handleAt(small, 1, {14, 14}), 0);
    EXPECT_EQ(handleAt(small, 1, {20, 20}), 4) << "beyond the others' reach";
    // At 4 screen pixels per pixel the same rectangle has room for each.
    EXPECT_EQ(handleAt(small, 4, {48, 40}), 1);
    EXPECT_EQ(handleAt(small, 4, {56, 56}), 4);
}

TEST(SelectionHandles, TheRectangleHoldsItsEdgesAndAnEmptyOneNothing) {
    EXPECT_TRUE(onRectangle(kRect, 1, {250, 190}));
    EXPECT_TRUE(onRectangle(kRect, 1, {100, 80}));
    EXPECT_TRUE(onRectangle(kRect, 1, {400, 300}));
    EXPECT_FALSE(onRectangle(kRect, 1, {99.9, 190}));
    EXPECT_FALSE(onRectangle(kRect, 1, {250, 300.1}));
    EXPECT_TRUE(onRectangle(kRect, 2, {800, 600}));
    EXPECT_FALSE(onRectangle(kRect, 2, {800.5, 600}));
    EXPECT_FALSE(onRectangle({10, 10, 0, 50}, 1, {10, 20}));
    EXPECT_FALSE(onRectangle({10, 10, 50, 0}, 1, {20, 10}));
}

TEST_F(EditorCoreTest, NoRectangleIsHandledWhileNoneIsBeingChosen) {
    EXPECT_EQ(core_->selectionHandleAt({100, 80}, 1), -1);
    press({100, 80});
    EXPECT_FALSE(core_->selectionPressed());
    EXPECT_FALSE(core_->selection());

    core_->run(TALVINE_CMD_INCLINAISON); // picking points
    ASSERT_EQ(core_->mode(), Mode::PickPoint);
    press({100, 80});
    EXPECT_FALSE(core_->selectionPressed());
    EXPECT_FALSE(core_->selection());
    EXPECT_FALSE(core_->selectionHolds({100, 80}, 1));
    cancel();
}

TEST_F(EditorCoreTest, ADragOffTheRectangleDrawsANewOneFromThePixelPressed) {
    openCrop();
    for (const double zoom : {1.0, 2.0, 0.5}) {
        SCOPED_TRACE(zoom);
        zoom_ = zoom;
        // Anywhere in the pixel: the pixel.
        press({shown(100, 80).x + 0.9 * zoom, shown(100, 80).y + 0.2 * zoom});
        EXPECT_TRUE(core_->selectionPressed());
        EXPECT_EQ(core_->selection(), (PixelRect{100, 80, 0, 0}));
        moveTo(shown(250.5, 200.5));
        EXPECT_EQ(core_->selection(), (PixelRect{100, 80, 150, 120}));
        release(shown(400.7, 300.7));
        EXPECT_FALSE(core_->selectionPressed());
        EXPECT_EQ(core_->selection(), (PixelRect{100, 80, 300, 220}));
        // Up and left of where it started, and past the picture's corner.
        drag(shown(600, 470), shown(-50, -80));
        EXPECT_EQ(core_->selection(), (PixelRect{0, 0, 600, 470}));
        core_->offerSelection({}); // an empty one, for the next zoom
    }
}

TEST_F(EditorCoreTest, EachHandleResizesTheRectangleTheSideAcrossStayingPut) {
    struct Case {
        int handle;
        ScreenPoint to; // picture pixels
        PixelRect want;
    };
    // A side's handle moves its side only: the other coordinate is far off.
    const Case cases[] = {
        {0, {70, 60}, {70, 60, 330, 240}},    {1, {5, 60}, {100, 60, 300, 240}},
        {2, {430, 60}, {100, 60, 330, 240}},  {3, {430, 5}, {100, 80, 330, 220}},
        {4, {430, 320}, {100, 80, 330, 240}}, {5, {600, 320}, {100, 80, 300, 240}},
        {6, {70, 320}, {70, 80, 330, 240}},   {7, {70, 470}, {70, 80, 330, 220}}};
    openCrop();
    for (const double zoom : {1.0, 2.0}) {
        zoom_ = zoom;
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "handle " << c.handle << " at " << zoom);
            core_->offerSelection(kRect);
            const ScreenPoint h = selectionHandles(kRect, zoom)[c.handle];
            const ScreenPoint near{h.x + 3, h.y - 5}; // near enough on the screen
            EXPECT_EQ(core_->selectionHandleAt(near, zoom), c.handle);
            drag(near, shown(c.to.x, c.to.y));
            EXPECT_EQ(core_->selection(), c.want);
        }
    }
}

TEST_F(EditorCoreTest, AHandleTakesTheEdgeNearestThePointerAndCrossesTheSideAcross) {
    openCrop();
    zoom_ = 4;
    core_->offerSelection(kRect);
    const ScreenPoint corner = selectionHandles(kRect, zoom_)[4];
    // Edges lie between pixels: the nearest one to the pointer.
    press(corner);
    moveTo({4 * 430 + 1.9, 4 * 320 - 1.9});
    EXPECT_EQ(core_->selection(), (PixelRect{100, 80, 330, 240}));
    moveTo({4 * 430 + 2.1, 4 * 320 - 2.1});
    EXPECT_EQ(core_->selection(), (PixelRect{100, 80, 331, 239}));
    // Past the top-left corner, which stays put: the rectangle turns over.
    release(shown(40, 50));
    EXPECT_EQ(core_->selection(), (PixelRect{40, 50, 60, 30}));

    // The right side's handle, past the left side.
    zoom_ = 1;
    core_->offerSelection(kRect);
    drag({400, 190}, {40, 190});
    EXPECT_EQ(core_->selection(), (PixelRect{40, 80, 60, 220}));
}

TEST_F(EditorCoreTest, AResizeStaysInsideThePictureAndToTheFormatsProportion) {
    openCrop();
    core_->offerSelection(kRect);
    drag({400, 300}, {5000, 4000});
    EXPECT_EQ(core_->selection(), (PixelRect{100, 80, 540, 400}));
    core_->offerSelection(kRect);
    drag({100, 80}, {-300, -200});
    EXPECT_EQ(core_->selection(), (PixelRect{0, 0, 400, 300}));

    // 3 : 2 lying: the format reshapes it from its top-left corner, and the
    // handles keep it.
    core_->offerSelection(kRect);
    core_->callback(0, 0, 0, 0, rtFormat, 1 * 256 + 1, false, false);
    ASSERT_EQ(core_->format(), 1);
    EXPECT_EQ(core_->selection(), (PixelRect{100, 80, 300, 200}));
    drag({400, 280}, {500, 400});
    EXPECT_EQ(core_->selection(), (PixelRect{100, 80, 400, 266}));
    // A side's handle too: the other side follows the proportion.
    drag({500, 213}, {250, 9});
    EXPECT_EQ(core_->selection(), (PixelRect{100, 80, 150, 100}));
}

TEST_F(EditorCoreTest, ADragOnTheRectangleMovesItInsideThePicture) {
    openCrop();
    core_->offerSelection(kRect);
    // An edge is on it; a handle, inside it too, is a handle.
    EXPECT_TRUE(core_->selectionHolds({175, 80}, 1));
    EXPECT_EQ(core_->selectionHandleAt({175, 80}, 1), -1);
    EXPECT_EQ(core_->selectionHandleAt({395, 295}, 1), 4);
    EXPECT_FALSE(core_->selectionHolds({175, 79.5}, 1));

    // Held where it was taken hold of, by whole pixels.
    press({250.6, 190.2});
    moveTo({270.9, 210});
    EXPECT_EQ(core_->selection(), (PixelRect{120, 100, 300, 220}));
    moveTo({2000, 2000});
    EXPECT_EQ(core_->selection(), (PixelRect{340, 260, 300, 220}));
    release({-900, 250});
    EXPECT_EQ(core_->selection(), (PixelRect{0, 140, 300, 220}));

    // At another zoom, held by its edge.
    zoom_ = 2;
    drag(shown(175, 140), shown(185, 150));
    EXPECT_EQ(core_->selection(), (PixelRect{10, 150, 300, 220}));
    // A click on it moves nothing.
    drag(shown(50, 200), shown(50, 200));
    EXPECT_EQ(core_->selection(), (PixelRect{10, 150, 300, 220}));
}

TEST_F(EditorCoreTest, AClickOffTheRectangleOrALineForOneKeepsTheRectangle) {
    openCrop();
    core_->offerSelection(kRect);
    drag({20, 450}, {20, 450});
    EXPECT_EQ(core_->selection(), kRect) << "a click";
    drag({20, 20}, {20, 200});
    EXPECT_EQ(core_->selection(), kRect) << "no width";
    press({20, 20});
    moveTo({300, 21});
    EXPECT_EQ(core_->selection(), (PixelRect{20, 20, 280, 1}));
    release({300, 20});
    EXPECT_EQ(core_->selection(), kRect) << "no height";
    // One pixel of each is a rectangle.
    drag({20, 20}, {21, 21});
    EXPECT_EQ(core_->selection(), (PixelRect{20, 20, 1, 1}));

    // Without a rectangle before it, a click leaves an empty one, which the
    // dialog is not told of.
    cancel();
    openCrop();
    drag({30, 40}, {30, 40});
    EXPECT_EQ(core_->selection(), (PixelRect{30, 40, 0, 0}));
}

TEST_F(EditorCoreTest, TheRectangleTypedInTheDialogHasTheSameHandles) {
    openCrop();
    // rtCadre: right and bottom exclusive.
    core_->callback(120, 80, 420, 300, rtCadre, 1, false, false);
    ASSERT_EQ(core_->selection(), (PixelRect{120, 80, 300, 220}));
    EXPECT_EQ(core_->selectionHandleAt({420, 300}, 1), 4);
    drag({420, 300}, {440, 310});
    EXPECT_EQ(core_->selection(), (PixelRect{120, 80, 320, 230}));
}

TEST_F(EditorCoreTest, TheCommandsEndLetsGoOfTheRectangle) {
    openCrop();
    core_->offerSelection(kRect);
    press({400, 300});
    ASSERT_TRUE(core_->selectionPressed());
    cancel();
    EXPECT_FALSE(core_->selectionPressed());
    openCrop();
    moveTo({500, 400});
    core_->releaseSelection();
    EXPECT_FALSE(core_->selection()) << "the next rectangle starts afresh";
}

// Moved from tests/qt/qt_editor_test.cpp: they need the module's dialog
// open, none of its widgets.

TEST_F(EditorCoreTest, AResultArrayHandedInParamBecomesThePictureUnderTheEditorsOwnReference) {
    core_->run(TALVINE_CMD_INCLINAISON);
    ASSERT_TRUE(core_->busy());
    {
        PixelArray result = PixelArray::make(6);
        for (int i = 0; i < 18; ++i)
            result.bytes()[i] = static_cast<uint8_t>(i * 10);
        core_->callback(3, 2, 0, 0, rtImage, reinterpret_cast<intptr_t>(result.handle()), true,
                        true);
    } // the sender lets go of its reference
    EXPECT_FALSE(core_->busy());
    const Picture p = core_->picture();
    EXPECT_EQ(p.width, 3);
    EXPECT_EQ(p.height, 2);
    ASSERT_EQ(p.rgb.size(), 18u);
    EXPECT_EQ(p.rgb[17], 170);
    core_->undo();
    EXPECT_EQ(core_->picture(), sample());
    cancel(); // the dialog's own end comes after: ignored
    EXPECT_EQ(core_->picture(), sample());
}

// A decoder's array taken over whole: its pixels are the picture, the
// history starts again, and an array of another size is refused with the
// picture kept.
TEST_F(EditorCoreTest, AnArrayOpenedIsTakenOverAndOneOfTheWrongSizeRefused) {
    core_->run(TALVINE_CMD_MIROIR_HORZ); // something to undo
    ASSERT_TRUE(core_->canUndo());
    PixelArray pixels = PixelArray::make(6);
    for (int i = 0; i < 18; ++i)
        pixels.bytes()[i] = static_cast<uint8_t>(200 - i);
    PixelArray wrong = PixelArray::make(5);
    EXPECT_THROW(core_->open(wrong, 3, 2), EditorError);
    EXPECT_EQ(core_->width(), 640);
    core_->open(std::move(pixels), 2, 3);
    const Picture p = core_->picture();
    EXPECT_EQ(p.width, 2);
    EXPECT_EQ(p.height, 3);
    ASSERT_EQ(p.rgb.size(), 18u);
    EXPECT_EQ(p.rgb[0], 200);
    EXPECT_EQ(p.rgb[17], 183);
    EXPECT_FALSE(core_->canUndo());
}

TEST_F(EditorCoreTest, AResultTheBufferCannotHoldIsRefusedAndNothingIsLost) {
    core_->run(TALVINE_CMD_INCLINAISON);
    ASSERT_TRUE(core_->busy());
    core_->callback(5000, 5000, 0, 0, rtImage, 0, true, false); // a preview too large
    EXPECT_EQ(core_->width(), 640);
    core_->callback(5000, 5000, 0, 0, rtImage, 0, true, true);
    EXPECT_FALSE(core_->busy());
    EXPECT_EQ(core_->picture(), sample());
    EXPECT_FALSE(core_->canUndo());
    cancel();
}

TEST_F(EditorCoreTest, SelectionKeepsEachFormatsProportionInsideThePicture) {
    openCrop();
    struct Case {
        int format;
        PixelRect want;
    };
    // Dragged from (600, 470) up and left to (0, 0): a 600 x 470 box.
    const Case cases[] = {{0, {0, 0, 600, 470}},
                          {1, {0, 70, 600, 400}},   // 3 : 2
                          {2, {287, 0, 313, 470}},  // 2 : 3
                          {3, {0, 20, 600, 450}},   // 4 : 3
                          {4, {248, 0, 352, 470}}}; // 3 : 4
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        core_->callback(0, 0, 0, 0, rtFormat, c.format * 256 + 1, false, false);
        EXPECT_EQ(core_->format(), c.format);
        core_->dragSelection(600, 470, -50, -80); // past the corner: kept inside
        ASSERT_TRUE(core_->selection());
        EXPECT_EQ(*core_->selection(), c.want);
    }
    cancel();
    EXPECT_EQ(core_->picture(), sample());
}

TEST(CleanCrop, TheRectangleLiesInsideTheTurnedSourceAndTheFrame) {
    const double margin = 1.5;
    EXPECT_EQ(cleanCrop(640, 480, 10, 100, 600, 100, false), (PixelRect{2, 2, 636, 476}))
        << "level already: all but the margin";
    EXPECT_FALSE(cleanCrop(640, 480, 10, 100, 10, 300, true)) << "a vertical line";
    struct Line {
        double fx, fy, tx, ty;
    };
    for (const Line& l : {Line{100, 300, 500, 260}, Line{20, 20, 600, 90}, Line{600, 400, 30, 300},
                          Line{320, 240, 330, 250}}) {
        SCOPED_TRACE(l.fx * 1000 + l.ty);
        const double phi = -std::atan((l.ty - l.fy) / (l.tx - l.fx));
        int64_t areas[2] = {};
        for (bool keep : {true, false}) {
            const auto r = cleanCrop(640, 480, l.fx, l.fy, l.tx, l.ty, keep);
            ASSERT_TRUE(r);
            areas[keep] = int64_t{r->width} * r->height;
            if (keep) {
                EXPECT_NEAR(double(r->width) / r->height, 640.0 / 480, 0.02);
            }
            EXPECT_GE(r->x, 0);
            EXPECT_GE(r->y, 0);
            EXPECT_LE(r->x + r->width, 640);
            EXPECT_LE(r->y + r->height, 480);
            // Each corner pixel, turned back, comes from inside the source.
            for (int cx : {r->x, r->x + r->width - 1})
                for (int cy : {r->y, r->y + r->height - 1}) {
                    const double u =
                        std::cos(phi) * (cx - l.fx) + std::sin(phi) * (cy - l.fy) + l.fx;
                    const double v =
                        -std::sin(phi) * (cx - l.fx) + std::cos(phi) * (cy - l.fy) + l.fy;
                    EXPECT_GE(u, margin - 1e-6);
                    EXPECT_LE(u, 639 - margin + 1e-6);
                    EXPECT_GE(v, margin - 1e-6);
                    EXPECT_LE(v, 479 - margin + 1e-6);
                }
        }
        EXPECT_GE(areas[false], areas[true]) << "any proportion holds at least as much";
    }
}

TEST(Cp1252, MenuTextsBecomeUtf8) {
    EXPECT_EQ(fromCp1252("G\xE9om\xE9trie"), "G\xC3\xA9om\xC3\xA9trie");
    EXPECT_EQ(fromCp1252("\x80 \x92"), "\xE2\x82\xAC \xE2\x80\x99");
    EXPECT_EQ(fromCp1252(nullptr), "");
}

} // namespace
} // namespace talvine::editor
