// The clean rectangles against the engines themselves: a picture of one
// colour turned, then corrected in perspective (or corrected for distortion)
// over a buffer of another (what a correction leaves as it was keeps that
// one), must show only the first colour inside the rectangle, for every
// sampling, stretch, rate and proportion; and it is never smaller than the
// tilt's own clean crop.
#include "UprightCrop.h"
#include "engines/CorrDistor.h"
#include "engines/ModifAngle.h"
#include "engines/Perspective.h"

#include <gtest/gtest.h>

#include <vector>

namespace talvine::hosts {
namespace {

constexpr TPtImg kColour{{10, 200, 60}};
constexpr TPtImg kLeftAsItWas{{1, 2, 3}};

bool same(const TPtImg& a, const TPtImg& b) {
    return a.octets[0] == b.octets[0] && a.octets[1] == b.octets[1] && a.octets[2] == b.octets[2];
}

struct Case {
    std::optional<TiltStep> tilt;
    std::optional<PerspectiveStep> perspective;
};

std::vector<TPtImg> run(int32_t w, int32_t h, const Case& c) {
    std::vector<TPtImg> picture(static_cast<size_t>(w) * h, kColour);
    if (c.tilt) {
        std::vector<TPtImg> out(picture.size());
        const engines::TiltParams p{c.tilt->from, *engines::tiltAngle(c.tilt->from, c.tilt->to),
                                    c.tilt->bilinear ? engines::Sampling::Bilinear
                                                     : engines::Sampling::Nearest};
        EXPECT_TRUE(engines::tilt(picture.data(), out.data(), w, h, p));
        picture = out;
    }
    if (c.perspective) {
        std::vector<TPtImg> out(picture.size(), kLeftAsItWas);
        const auto& k = c.perspective->corners;
        const engines::PerspectiveParams p{{k[0], k[1], k[2], k[3]},
                                           c.perspective->vertical,
                                           c.perspective->bilinear ? engines::Sampling::Bilinear
                                                                   : engines::Sampling::Nearest};
        EXPECT_TRUE(engines::correctPerspective(picture.data(), out.data(), w, h, p));
        picture = out;
    }
    return picture;
}

TEST(UprightCrop, HoldsOnlyPixelsComputedFromInsideThePicture) {
    constexpr int32_t W = 360, H = 240;
    const std::array<Point, 4> keystone{{{30, 0}, {322, 0}, {360, 240}, {0, 240}}};
    const std::array<Point, 4> lopsided{{{-12, 0}, {300, 0}, {360, 240}, {0, 240}}};
    std::vector<Case> cases;
    for (const bool bilinear : {false, true}) {
        cases.push_back({TiltStep{{180, 120}, {1180, 80}, bilinear}, std::nullopt});
        cases.push_back({TiltStep{{180, 120}, {880, 167}, bilinear}, std::nullopt});
        for (const int vertical : {0, 5, 10}) {
            cases.push_back({std::nullopt, PerspectiveStep{keystone, vertical, bilinear}});
            cases.push_back({TiltStep{{180, 120}, {1180, 90}, bilinear},
                             PerspectiveStep{keystone, vertical, bilinear}});
            cases.push_back({TiltStep{{180, 120}, {680, 131}, !bilinear},
                             PerspectiveStep{lopsided, vertical, bilinear}});
        }
    }
    for (const Case& c : cases)
        for (const bool keep : {false, true}) {
            SCOPED_TRACE(::testing::Message()
                         << "tilt " << (c.tilt ? c.tilt->to.y : -1) << " perspective "
                         << (c.perspective ? c.perspective->vertical : -1) << " bilinear "
                         << (c.perspective ? c.perspective->bilinear : c.tilt->bilinear) << " keep "
                         << keep);
            const auto rect = uprightCrop(W, H, c.tilt, c.perspective, keep);
            ASSERT_TRUE(rect);
            EXPECT_GT(int64_t{rect->width} * rect->height, W * H / 3);
            if (keep) {
                EXPECT_NEAR(double(rect->width) / rect->height, 1.5, 0.02);
            }
            const std::vector<TPtImg> out = run(W, H, c);
            int bad = 0;
            for (int32_t y = rect->y; y < rect->y + rect->height; ++y)
                for (int32_t x = rect->x; x < rect->x + rect->width; ++x)
                    bad += !same(out[static_cast<size_t>(y) * W + x], kColour);
            EXPECT_EQ(bad, 0) << rect->x << "," << rect->y << " " << rect->width << "x"
                              << rect->height;
            // Exact, so never smaller than the tilt's own conservative crop.
            if (c.tilt && !c.perspective) {
                const auto tiltOnly = cleanCrop(W, H, c.tilt->from.x, c.tilt->from.y, c.tilt->to.x,
                                                c.tilt->to.y, keep);
                ASSERT_TRUE(tiltOnly);
                EXPECT_GE(int64_t{rect->width} * rect->height,
                          int64_t{tiltOnly->width} * tiltOnly->height);
            }
        }
}

TEST(UprightCrop, AfterTheDistortionHoldsOnlyComputedPixels) {
    constexpr int32_t W = 301, H = 200;
    const std::vector<TPtImg> source(static_cast<size_t>(W) * H, kColour);
    for (const int position : {-100, -37, -1, 1, 37, 100})
        for (const int law : {1, 2})
            for (const bool bilinear : {false, true})
                for (const bool keep : {false, true}) {
                    SCOPED_TRACE(::testing::Message()
                                 << "rate " << position << " law " << law << " bilinear "
                                 << bilinear << " keep " << keep);
                    const DistortionStep step{position, law, bilinear};
                    const auto rect = distortionCrop(W, H, step, keep);
                    ASSERT_TRUE(rect);
                    // Pincushion pulls the corners in; barrel only stretches
                    // the borders: most of the picture stays.
                    EXPECT_GT(int64_t{rect->width} * rect->height, W * H / 3);
                    std::vector<TPtImg> out(source.size(), kLeftAsItWas);
                    engines::correctDistortion(
                        source.data(), out.data(), W, H,
                        {position,
                         law == 2 ? engines::DistortionLaw::Square : engines::DistortionLaw::Linear,
                         bilinear ? engines::Sampling::Bilinear : engines::Sampling::Nearest});
                    int bad = 0;
                    for (int32_t y = rect->y; y < rect->y + rect->height; ++y)
                        for (int32_t x = rect->x; x < rect->x + rect->width; ++x)
                            bad += !same(out[static_cast<size_t>(y) * W + x], kColour);
                    EXPECT_EQ(bad, 0)
                        << rect->x << "," << rect->y << " " << rect->width << "x" << rect->height;
                }
}

TEST(UprightCrop, RefusesWhatLeavesTheMappingUndefined) {
    EXPECT_FALSE(uprightCrop(1, 1, std::nullopt, std::nullopt, false));
    EXPECT_FALSE(uprightCrop(300, 200, TiltStep{{10, 10}, {10, 50}, false}, std::nullopt, false))
        << "a vertical line";
    EXPECT_FALSE(uprightCrop(300, 200, std::nullopt,
                             PerspectiveStep{{{{0, 0}, {0, 0}, {300, 200}, {0, 200}}}, 5, false},
                             false))
        << "a top edge of no width";
}

} // namespace
} // namespace talvine::hosts
