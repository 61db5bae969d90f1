// The editor's suggestions from the picture's own lines: the tilt's two
// points and the perspective's four corners shown when their dialog opens,
// a pick near one taken exactly there, a picture without lines told so, and
// Upright as one step of the history.
#include "EditorCore.h"
#include "MainWindow.h"
#include "Screenshots.h"
#include "UprightScenes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMouseEvent>
#include <QStatusBar>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace talvine::editor {
namespace {

namespace sc = analysis::scenes;

Picture scene(sc::Kind kind, double roll, double pitch) {
    const hosts::Picture p = sc::render({kind, 1200, 800, roll, pitch});
    return {p.width, p.height, p.rgb};
}

class UprightEditorTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        core_ = new EditorCore(TALVINE_MODULE_PATH);
        window_ = new MainWindow(*core_);
        window_->show();
    }
    static void TearDownTestSuite() {
        delete window_;
        delete core_;
    }
    void SetUp() override {
        window_->canvas().setZoom(1.0);
        window_->setBackgroundPixels(4'000'000);
    }
    void TearDown() override {
        if (QDialog* d = openDialog()) click(d, "Annuler");
        ASSERT_TRUE(QTest::qWaitFor([] { return !core_->busy(); }, 3000));
    }

    static QDialog* dialogNamed(const char* form) {
        QDialog* found = nullptr;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                found = openDialog();
                return found && found->objectName() == form;
            },
            3000));
        return found;
    }
    static void click(QDialog* d, const char* name) {
        auto* b = d ? d->findChild<QAbstractButton*>(name) : nullptr;
        ASSERT_NE(b, nullptr) << name;
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
    }
    // A click on the canvas at the picture point (x, y).
    static void clickPicture(double x, double y) {
        Canvas& c = window_->canvas();
        const QPointF at = c.toWidget(QPointF(x, y));
        for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent e(type, at, c.mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                          Qt::NoModifier);
            QCoreApplication::sendEvent(&c, &e);
        }
    }
    static QString message() { return window_->statusBar()->currentMessage(); }
    static double slopeOf(const Marker& a, const Marker& b) {
        return -std::atan2(b.y - a.y, b.x - a.x) * 180 / std::numbers::pi;
    }

    static EditorCore* core_;
    static MainWindow* window_;
};

EditorCore* UprightEditorTest::core_ = nullptr;
MainWindow* UprightEditorTest::window_ = nullptr;

TEST_F(UprightEditorTest, TheTiltSuggestsTheLevelAndAPickNearItSnapsThere) {
    core_->open(scene(sc::Kind::Facade, 2.0, 0));
    window_->commandAction(3)->trigger();
    QDialog* d = dialogNamed("InclineHorz");
    const auto& points = window_->suggestions().points();
    ASSERT_EQ(points.size(), 2u);
    // The line through them has the scene's slope, as the dialog computes it.
    const double slope =
        -std::atan2(points[1].y - points[0].y, points[1].x - points[0].x) * 180 / std::numbers::pi;
    EXPECT_NEAR(slope, 2.0, 0.05);
    // Near the first: taken exactly there.  Far from the second: taken where
    // clicked.
    click(d, "PtRot1");
    QTest::qWait(300);
    clickPicture(points[0].x + 5, points[0].y - 4);
    click(d, "PtRot2");
    QTest::qWait(300);
    clickPicture(100, 500);
    EXPECT_EQ(core_->markers(), (std::vector<Marker>{points[0], {2, 100, 500}}));
    // And again near the second.
    click(d, "PtRot2");
    QTest::qWait(300);
    clickPicture(points[1].x - 6, points[1].y + 3);
    EXPECT_EQ(core_->markers(), (std::vector<Marker>{points[0], points[1]}));
    // The lines found, drawn on demand.
    window_->linesAction()->setChecked(true);
    EXPECT_FALSE(window_->suggestions().lines().empty());
    window_->linesAction()->setChecked(false);
    // What the module got: applied, the picture is the one the exact
    // points give, reported without the canvas; and not the one a pixel
    // off gives.
    click(d, "Appliquer");
    ASSERT_TRUE(QTest::qWaitFor([] { return !core_->busy(); }, 3000));
    const Picture snapped = core_->picture();
    core_->undo();
    const auto applyAt = [](Marker first, Marker second) {
        window_->commandAction(3)->trigger();
        QDialog* again = dialogNamed("InclineHorz");
        click(again, "PtRot1");
        QTest::qWait(300);
        core_->pickPoint(first.x, first.y);
        click(again, "PtRot2");
        QTest::qWait(300);
        core_->pickPoint(second.x, second.y);
        click(again, "Appliquer");
        EXPECT_TRUE(QTest::qWaitFor([] { return !core_->busy(); }, 3000));
        const Picture result = core_->picture();
        core_->undo();
        return result;
    };
    EXPECT_TRUE(applyAt(points[0], points[1]) == snapped);
    EXPECT_FALSE(applyAt(points[0], {2, points[1].x, points[1].y + 1}) == snapped);
}

TEST_F(UprightEditorTest, ThePerspectiveSuggestsTheCornersTheAnalysisMakes) {
    const Picture facade = scene(sc::Kind::Facade, 0, 12);
    core_->open(facade);
    window_->commandAction(9)->trigger();
    QDialog* d = dialogNamed("CorrPerspect");
    const analysis::Analysis a =
        analysis::analyse({facade.rgb.data(), facade.width, facade.height});
    ASSERT_TRUE(a.verticals.vanishing);
    const auto corners =
        analysis::perspectiveCorners(facade.width, facade.height, *a.verticals.vanishing);
    ASSERT_TRUE(corners);
    const auto& points = window_->suggestions().points();
    ASSERT_EQ(points.size(), 4u);
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(points[size_t(k)],
                  (Marker{k + 1, (*corners)[size_t(k)][0], (*corners)[size_t(k)][1]}));
    // The bottom-right corner lies on the picture's far edges: a click in
    // the last pixel takes it.
    click(d, "PosBD");
    QTest::qWait(300);
    clickPicture(facade.width - 3, facade.height - 2);
    EXPECT_EQ(core_->markers(), (std::vector<Marker>{{3, facade.width, facade.height}}));
    // The other three, near their rings, then applied: crop to result
    // offers the rectangle the correction computed with these corners and
    // the dialog's vertical stretch (5) and sampling (Basique).
    for (const char* box : {"PosHG", "PosHD", "PosBG"}) {
        click(d, box);
        QTest::qWait(300);
        const Marker& m = points[box == std::string("PosHG")   ? 0
                                 : box == std::string("PosHD") ? 1
                                                               : 3];
        clickPicture(m.x + 4, m.y + 4);
    }
    EXPECT_EQ(core_->markers(), points);
    click(d, "Appliquer");
    ASSERT_FALSE(core_->busy());
    hosts::PerspectiveStep step;
    for (size_t k = 0; k < 4; ++k)
        step.corners[k] = {points[k].x, points[k].y};
    step.vertical = 5;
    step.bilinear = false;
    const auto rect = hosts::uprightCrop(facade.width, facade.height, std::nullopt, step, true);
    ASSERT_TRUE(rect);
    EXPECT_TRUE(window_->cropToResultAction(true)->isEnabled());
    EXPECT_EQ(core_->cropToResult(true), rect);
}

TEST_F(UprightEditorTest, APictureWithoutLinesIsToldSoAndKeepsItsPicks) {
    core_->open(scene(sc::Kind::NoLines, 0, 0));
    window_->commandAction(3)->trigger();
    QDialog* d = dialogNamed("InclineHorz");
    EXPECT_TRUE(window_->suggestions().points().empty());
    EXPECT_TRUE(message().startsWith("No suggestion: ")) << message().toStdString();
    click(d, "PtRot1");
    QTest::qWait(300);
    clickPicture(40, 40);
    EXPECT_EQ(core_->markers(), (std::vector<Marker>{{1, 40, 40}}));
}

TEST_F(UprightEditorTest, UprightIsOneStepOfTheHistory) {
    const Picture tilted = scene(sc::Kind::Facade, -2.5, 8);
    core_->open(tilted);
    window_->uprightAction()->trigger();
    EXPECT_TRUE(message().startsWith("Upright: levelled")) << message().toStdString();
    const Picture done = core_->picture();
    EXPECT_LT(done.width, tilted.width);
    EXPECT_EQ(core_->undoName(), "Upright");
    const analysis::Analysis a = analysis::analyse({done.rgb.data(), done.width, done.height});
    ASSERT_TRUE(a.level.degrees);
    EXPECT_NEAR(*a.level.degrees, 0, 0.05);
    core_->undo();
    EXPECT_EQ(core_->picture(), tilted);

    // Refused: the status bar says why, the picture stays.
    const Picture organic = scene(sc::Kind::NoLines, 0, 0);
    core_->open(organic);
    window_->uprightAction()->trigger();
    EXPECT_TRUE(message().startsWith("Upright: no level found")) << message().toStdString();
    EXPECT_EQ(core_->picture(), organic);
    EXPECT_FALSE(core_->canUndo());
}

TEST(LevelPoints, StayInsideThePictureAndFollowTheLevelWhateverItsShape) {
    struct Case {
        int32_t width, height;
        double degrees;
    };
    // A panorama tilted more than its height allows at 40 % of its width,
    // a portrait, steep and falling levels, and a level line.
    for (const Case c : {Case{1200, 800, 2.0}, Case{4000, 500, 10.0}, Case{4000, 500, -10.0},
                         Case{600, 1800, 35.0}, Case{1000, 1000, -60.0}, Case{1000, 1000, 89.0},
                         Case{6000, 4000, 0.0}}) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " at " << c.degrees);
        const auto ends = levelPoints(c.width, c.height, c.degrees);
        ASSERT_TRUE(ends);
        const auto [first, second] = *ends;
        EXPECT_EQ(first, (Marker{1, c.width / 2, c.height / 2}));
        EXPECT_EQ(second.number, 2);
        EXPECT_GE(second.x, 0);
        EXPECT_LT(second.x, c.width);
        EXPECT_GE(second.y, 0);
        EXPECT_LT(second.y, c.height);
        const double slope =
            -std::atan2(second.y - first.y, second.x - first.x) * 180 / std::numbers::pi;
        EXPECT_NEAR(slope, c.degrees, 0.05);
        // Near the edge, not beside the centre.
        EXPECT_GT(std::hypot(second.x - first.x, second.y - first.y),
                  0.35 * std::min(c.width, c.height));
    }
    // No room for a second point, or no angle.
    EXPECT_FALSE(levelPoints(1, 400, 0));
    EXPECT_FALSE(levelPoints(400, 400, NAN));
    EXPECT_FALSE(levelPoints(400, 400, 120));
}

TEST_F(UprightEditorTest, ASnapReachesTheSameScreenDistanceAtEveryZoom) {
    core_->open(scene(sc::Kind::Facade, 2.0, 0));
    window_->commandAction(3)->trigger();
    QDialog* d = dialogNamed("InclineHorz");
    const auto points = window_->suggestions().points();
    ASSERT_EQ(points.size(), 2u);
    const Marker centre = points[0];
    // At half size, 18 picture pixels are 9 on the screen: taken; at
    // twice the size, 8 picture pixels are 16 on the screen: not taken.
    window_->canvas().setZoom(0.5);
    click(d, "PtRot1");
    QTest::qWait(300);
    clickPicture(centre.x + 18, centre.y);
    EXPECT_EQ(core_->markers(), (std::vector<Marker>{centre}));
    window_->canvas().setZoom(2.0);
    click(d, "PtRot1");
    QTest::qWait(300);
    clickPicture(centre.x + 8, centre.y);
    EXPECT_EQ(core_->markers(), (std::vector<Marker>{{1, centre.x + 8, centre.y}}));
    // And 5 picture pixels, 10 on the screen: taken again.
    click(d, "PtRot1");
    QTest::qWait(300);
    clickPicture(centre.x, centre.y - 5);
    EXPECT_EQ(core_->markers(), (std::vector<Marker>{centre}));
}

TEST_F(UprightEditorTest, TheWorkerFindsWhatTheWindowFinds) {
    const Picture facade = scene(sc::Kind::Facade, -1.5, 10);
    core_->open(facade);
    for (const auto& [command, form] : {std::pair{3, "InclineHorz"}, {9, "CorrPerspect"}}) {
        SCOPED_TRACE(command);
        window_->setBackgroundPixels(4'000'000);
        window_->commandAction(command)->trigger();
        QDialog* d = dialogNamed(form);
        EXPECT_FALSE(window_->suggesting());
        const std::vector<Marker> inlined = window_->suggestions().points();
        const size_t lines = window_->suggestions().lines().size();
        ASSERT_EQ(inlined.size(), command == 3 ? 2u : 4u);
        click(d, "Annuler");
        ASSERT_TRUE(QTest::qWaitFor([] { return !core_->busy(); }, 3000));

        // Every picture on the worker: nothing shown until it is done, then
        // the same points and lines.
        window_->setBackgroundPixels(0);
        window_->commandAction(command)->trigger();
        d = dialogNamed(form);
        EXPECT_TRUE(window_->suggesting());
        EXPECT_TRUE(window_->suggestions().points().empty());
        ASSERT_TRUE(QTest::qWaitFor([] { return !window_->suggesting(); }, 10000));
        EXPECT_EQ(window_->suggestions().points(), inlined);
        EXPECT_EQ(window_->suggestions().lines().size(), lines);
        click(d, "Annuler");
        ASSERT_TRUE(QTest::qWaitFor([] { return !core_->busy(); }, 3000));
    }
    // A dialog closed before its analysis ends gets none, and the next one
    // its own.
    window_->commandAction(9)->trigger();
    QDialog* d = dialogNamed("CorrPerspect");
    click(d, "Annuler");
    ASSERT_TRUE(QTest::qWaitFor([] { return !core_->busy(); }, 3000));
    ASSERT_TRUE(QTest::qWaitFor([] { return !window_->suggesting(); }, 10000));
    EXPECT_FALSE(window_->suggestions().analysed());
    window_->commandAction(3)->trigger();
    dialogNamed("InclineHorz");
    ASSERT_TRUE(QTest::qWaitFor([] { return !window_->suggesting(); }, 10000));
    EXPECT_EQ(window_->suggestions().points().size(), 2u);
}

TEST_F(UprightEditorTest, FindLinesWithoutADialogShowsTheLinesAndTheLevel) {
    core_->open(scene(sc::Kind::Facade, 3.0, 0));
    QAction* find = nullptr;
    for (QAction* a : window_->findChildren<QAction*>())
        if (a->text() == "&Find lines") find = a;
    ASSERT_NE(find, nullptr);
    find->trigger();
    EXPECT_TRUE(window_->linesAction()->isChecked());
    EXPECT_FALSE(window_->suggestions().lines().empty());
    EXPECT_TRUE(window_->suggestions().points().empty());
    ASSERT_TRUE(window_->suggestions().level());
    EXPECT_NEAR(*window_->suggestions().level(), 3.0, 0.05);
    EXPECT_TRUE(message().contains("the level is 3.0")) << message().toStdString();
    // Another picture: the lines were this one's.
    core_->open(scene(sc::Kind::NoLines, 0, 0));
    EXPECT_FALSE(window_->suggestions().analysed());
    find->trigger();
    EXPECT_TRUE(message().contains("no level: ")) << message().toStdString();
    window_->linesAction()->setChecked(false);
}

} // namespace
} // namespace talvine::editor
