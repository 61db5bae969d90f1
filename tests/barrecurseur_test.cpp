// The slider: clamped positions set by code, OnChange for every movement of
// the user, OnMouseUp once per release of the mouse and never for keys.
#include "toolkit/Automation.h"
#include "toolkit/BarreCurseur.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talvine::tk {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;

class BarreCurseurTest : public ::testing::Test {
  protected:
    Application app;
    Automation ui{app};
    std::vector<std::string> events; // "change <position>" or "up <position>"
    Form& form = app.createForm<Form>(FormDesc{.name = "CorrDist",
                                               .controls = {{.kind = ControlKind::BarreCurseur,
                                                             .name = "TauxCorr",
                                                             .bounds = {40, 80, 201, 30},
                                                             .min = -100,
                                                             .max = 100,
                                                             .value = 0,
                                                             .step = 10}}});
    BarreCurseurTest() {
        form.bind("TauxCorr", EventKind::Change,
                  [this] { events.push_back("change " + std::to_string(slider().position())); });
        form.bind("TauxCorr", EventKind::MouseUp, [this](Event& e) {
            EXPECT_EQ(e.button, MouseButton::Left);
            events.push_back("up " + std::to_string(slider().position()));
        });
    }

    TBarreCurseur& slider() { return form.get<TBarreCurseur>("TauxCorr"); }
};

TEST_F(BarreCurseurTest, SettingThePositionClampsAndChangesOnlyWhenItMoves) {
    slider().setPosition(150);
    EXPECT_EQ(slider().position(), 100);
    EXPECT_THAT(events, ElementsAre("change 100"));
    slider().setPosition(100);
    slider().setPosition(1000);
    EXPECT_THAT(events, ElementsAre("change 100"));
    slider().setPosition(-250);
    EXPECT_THAT(events, ElementsAre("change 100", "change -100"));
}

TEST_F(BarreCurseurTest, NarrowingTheRangeMovesThePositionInside) {
    slider().setPosition(80);
    events.clear();
    slider().setRange(0, 50);
    EXPECT_EQ(slider().position(), 50);
    EXPECT_THAT(events, ElementsAre("change 50"));
    EXPECT_THROW(slider().setRange(10, 0), ToolkitError);
}

TEST_F(BarreCurseurTest, DragFiresChangesThenOneMouseUpAfterTheLastChange) {
    form.show();
    ui.dragSlider("CorrDist.TauxCorr", 30);
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events.back(), "up 30");
    std::vector<std::string> changes(events.begin(), events.end() - 1);
    EXPECT_THAT(changes, Each(::testing::StartsWith("change ")));
    EXPECT_EQ(changes.back(), "change 30");
    EXPECT_TRUE(slider().focused());
}

TEST_F(BarreCurseurTest, DragThatEndsWhereItStartedStillReports) {
    form.show();
    ui.dragSlider("CorrDist.TauxCorr", 0);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), "change 0");
    EXPECT_EQ(events.back(), "up 0");
}

TEST_F(BarreCurseurTest, DragBeyondTheEndsStopsAtThem) {
    form.show();
    ui.dragSlider("CorrDist.TauxCorr", -400);
    EXPECT_EQ(slider().position(), -100);
    EXPECT_EQ(events.back(), "up -100");
}

TEST_F(BarreCurseurTest, ClickOnTheTrackMovesAPageThenReleases) {
    form.show();
    ui.clickSliderTrack("CorrDist.TauxCorr", 50);
    EXPECT_EQ(slider().position(), 2);
    ui.clickSliderTrack("CorrDist.TauxCorr", 3);
    EXPECT_EQ(slider().position(), 3); // not past the pointer
    EXPECT_THAT(events,
                ElementsAre("change 2", "change 2", "up 2", "change 3", "change 3", "up 3"));
}

TEST_F(BarreCurseurTest, KeysMoveTheThumbWithoutMouseUp) {
    slider().setPosition(30);
    form.show();
    events.clear();
    ui.press("CorrDist.TauxCorr", Key{KeyCode::Right});
    EXPECT_EQ(slider().position(), 31);
    ui.press("CorrDist.TauxCorr", Key{KeyCode::PageDown}); // page size 2
    EXPECT_EQ(slider().position(), 33);
    ui.press("CorrDist.TauxCorr", Key{KeyCode::Home});
    EXPECT_EQ(slider().position(), -100);
    ui.press("CorrDist.TauxCorr", Key{KeyCode::Left}); // already at the end: reported anyway
    EXPECT_EQ(slider().position(), -100);
    ui.press("CorrDist.TauxCorr", Key{KeyCode::End});
    EXPECT_THAT(events,
                ElementsAre("change 31", "change 33", "change -100", "change -100", "change 100"));
}

TEST_F(BarreCurseurTest, TheTrackbarDefaultsAreZeroToTen) {
    Form& other = app.createForm<Form>(
        FormDesc{.name = "Autre", .controls = {{.kind = ControlKind::TrackBar, .name = "T"}}});
    auto& t = other.get<TrackBar>("T");
    EXPECT_EQ(t.min(), 0);
    EXPECT_EQ(t.max(), 10);
    EXPECT_EQ(t.position(), 0);
    EXPECT_EQ(t.lineSize(), 1);
    EXPECT_EQ(t.pageSize(), 2);
}

} // namespace
} // namespace talvine::tk
