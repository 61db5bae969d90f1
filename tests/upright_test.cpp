// The upright analysis on scenes with known answers: the level within a
// hundredth of a degree, the verticals' residual lean within five
// hundredths at the frame's edges, pictures without straight lines refused,
// and the same numbers whatever OpenCV's threads and vector units.
#include "Upright.h"
#include "UprightScenes.h"

#include <opencv2/core.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace talvine::analysis {
namespace {

constexpr double kDeg = std::numbers::pi / 180;

Analysis analyseShot(const scenes::Shot& shot, const hosts::Picture& p) {
    (void)shot;
    return analyse({p.rgb.data(), p.width, p.height});
}

// The lean left at the frame's edges once the picture is levelled by the
// angle found and the corners found are applied.
double leanAfter(const scenes::Shot& shot, const Analysis& a) {
    const double cx = (shot.width - 1) / 2.0, cy = (shot.height - 1) / 2.0;
    const double theta = -*a.level.degrees * kDeg;
    std::optional<std::array<double, 2>> found;
    if (a.verticals.vanishing) found = turned(*a.verticals.vanishing, cx, cy, theta);
    return scenes::residualLeanDeg(shot.width, shot.height,
                                   turned(scenes::verticalsAt(shot), cx, cy, theta), found);
}

TEST(Upright, FindsTheLevelAndTheVerticalsOfScenesWithKnownAnswers) {
    using scenes::Kind;
    const std::vector<scenes::Shot> shots = {
        {Kind::Facade, 3000, 2000, -8, 0},
        {Kind::Facade, 3000, 2000, 0.05, 0},
        {Kind::Facade, 3000, 2000, 0, 0, 28, 1.2, 3, 90},
        {Kind::Facade, 3000, 2000, 2.5, 14, 28, 1.5, 4, 85},
        {Kind::Facade, 3000, 2000, -1.1, 20},
        {Kind::Street, 3000, 2000, -4, 6, 28, 1.0, 3, 90},
        {Kind::Interior, 3000, 2000, 2.2, 8, 24, 1.0, 3, 90},
        {Kind::Horizon, 3000, 2000, -1.2, 0, 50, 0.8, 4, 88},
    };
    for (const scenes::Shot& shot : shots) {
        SCOPED_TRACE(scenes::describe(shot));
        const hosts::Picture p = scenes::render(shot);
        const Analysis a = analyseShot(shot, p);
        ASSERT_TRUE(a.level.degrees) << a.level.refusal;
        EXPECT_NEAR(*a.level.degrees, shot.rollDeg, 0.01);
        EXPECT_LT(a.level.stdErrorDeg, 0.05);
        EXPECT_GE(a.horizontalLines + a.verticalLines, 3);
        if (shot.kind != Kind::Horizon) {
            ASSERT_TRUE(a.verticals.found) << a.verticals.refusal;
            EXPECT_LT(leanAfter(shot, a), 0.05);
            // A pitched camera needs the perspective; a level one does not.
            EXPECT_EQ(a.verticals.vanishing.has_value(), shot.pitchDeg != 0);
        }
        for (const Line& l : a.lines)
            EXPECT_TRUE(l.x0 >= 0 && l.x0 <= p.width - 1 && l.y0 >= 0 && l.y0 <= p.height - 1);
    }
}

TEST(Upright, RefusesPicturesWithoutStraightLinesRatherThanGuessing) {
    const scenes::Shot organic{scenes::Kind::NoLines, 3000, 2000, 0, 0, 28, 1.0, 3, 90};
    const hosts::Picture p = scenes::render(organic);
    const Analysis a = analyseShot(organic, p);
    EXPECT_FALSE(a.level.degrees);
    EXPECT_TRUE(a.level.refusal == "too few straight lines" || a.level.refusal == "lines disagree")
        << a.level.refusal;
    EXPECT_FALSE(a.verticals.found);

    const std::vector<uint8_t> grey(600 * 400 * 3, 128);
    const Analysis flat = analyse({grey.data(), 600, 400});
    EXPECT_EQ(flat.level.refusal, "too few straight lines");
    EXPECT_TRUE(flat.lines.empty());

    const std::vector<uint8_t> tiny(8 * 8 * 3, 0);
    EXPECT_EQ(analyse({tiny.data(), 8, 8}).level.refusal, "too few straight lines");
    EXPECT_EQ(analyse({nullptr, 0, 0}).verticals.refusal, "too few straight lines");
}

TEST(Upright, TheSamePixelsGiveTheSameNumbersWhateverOpenCVsThreadsAndVectorUnits) {
    const scenes::Shot shot{scenes::Kind::Facade, 2400, 1600, 1.3, 9, 28, 1.0, 3, 90};
    const hosts::Picture p = scenes::render(shot);
    auto run = [&](int threads, bool optimised) {
        cv::setNumThreads(threads);
        cv::setUseOptimized(optimised);
        return analyse({p.rgb.data(), p.width, p.height});
    };
    const Analysis first = run(1, true);
    for (const auto& [threads, optimised] :
         {std::pair{2, true}, {1, false}, {4, false}, {1, true}}) {
        const Analysis again = run(threads, optimised);
        ASSERT_EQ(again.lines.size(), first.lines.size());
        for (size_t k = 0; k < first.lines.size(); ++k) {
            EXPECT_EQ(again.lines[k].x0, first.lines[k].x0);
            EXPECT_EQ(again.lines[k].y1, first.lines[k].y1);
            EXPECT_EQ(again.lines[k].used, first.lines[k].used);
        }
        EXPECT_EQ(again.level.degrees, first.level.degrees);
        EXPECT_EQ(again.verticals.vanishing, first.verticals.vanishing);
    }
    cv::setUseOptimized(true);
}

TEST(Upright, PerspectiveCornersSendTheVerticalsToTheirVanishingPoint) {
    // Symmetric, above the centre of a 6000 x 4000 picture: the top corners
    // move in by the same amount.
    const auto c = perspectiveCorners(6000, 4000, {3000, -36000});
    ASSERT_TRUE(c);
    EXPECT_EQ((*c)[2], (std::array<int32_t, 2>{6000, 4000}));
    EXPECT_EQ((*c)[3], (std::array<int32_t, 2>{0, 4000}));
    EXPECT_EQ((*c)[0][1], 0);
    EXPECT_EQ((*c)[0][0], 300); // 3000 * 4000 / 40000
    EXPECT_EQ((*c)[1][0], 5700);
    // The correction they give leaves no lean on lines through the point.
    EXPECT_LT(
        scenes::residualLeanDeg(6000, 4000, {3000, -36000}, std::array<double, 2>{3000, -36000}),
        0.01);
    // Off-centre: still exact to the rounding of a corner.
    EXPECT_LT(
        scenes::residualLeanDeg(6000, 4000, {-2500, -20000}, std::array<double, 2>{-2500, -20000}),
        0.01);
    EXPECT_FALSE(perspectiveCorners(6000, 4000, {3000, 9000})) << "below the picture";
    EXPECT_FALSE(perspectiveCorners(6000, 4000, {3000, 2000})) << "inside it";
    EXPECT_FALSE(perspectiveCorners(6000, 4000, {3000, -1e9})) << "no corner would move";
}

TEST(Upright, TurningAPointFollowsThePictureCounterClockwise) {
    // A point to the right of the centre goes up when the picture turns
    // counter-clockwise as seen.
    const auto p = turned({110, 50}, 100, 50, 90 * kDeg);
    EXPECT_NEAR(p[0], 100, 1e-9);
    EXPECT_NEAR(p[1], 40, 1e-9);
}

} // namespace
} // namespace talvine::analysis
