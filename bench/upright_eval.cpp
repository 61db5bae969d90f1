// The upright analysis on the generated test set, against the known answers:
// one row per scene with the true and found level, the error, the lines
// used, the residual lean of the verticals at the frame's edges after the
// correction the analysis proposes, and the time.  --full also runs the
// detection at full resolution, for comparison; --size W H renders smaller;
// --write FILE writes a 6000 x 4000 facade (roll 1.7, pitch 10, blur, noise)
// as a quality-90 JPEG for timing the tool, and does nothing else.
#include "Scene.h"
#include "Upright.h"
#include "UprightScenes.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

using namespace talvine::analysis;

namespace {
constexpr double kDeg = std::numbers::pi / 180;
} // namespace

int main(int argc, char** argv) {
    bool full = false;
    int width = 6000, height = 4000;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--full"))
            full = true;
        else if (!std::strcmp(argv[i], "--write") && i + 1 < argc)
            return scenes::writeJpeg(
                       scenes::render({scenes::Kind::Facade, 6000, 4000, 1.7, 10, 28, 1.0, 3, 0}),
                       argv[i + 1], 90)
                       ? 0
                       : 1;
        else if (!std::strcmp(argv[i], "--size") && i + 2 < argc) {
            width = std::atoi(argv[++i]);
            height = std::atoi(argv[++i]);
        }
    }
    std::vector<scenes::Shot> shots;
    using scenes::Kind;
    for (double roll : {-8.0, -2.5, 0.0, 0.05, 1.3, 8.0})
        shots.push_back({Kind::Facade, width, height, roll, 0});
    for (double pitch : {4.0, 10.0, 20.0})
        shots.push_back({Kind::Facade, width, height, 1.7, pitch});
    shots.push_back({Kind::Facade, width, height, -3.1, 12, 28, 1.5, 4, 85});
    for (double roll : {-4.0, 0.6})
        shots.push_back({Kind::Street, width, height, roll, 6, 28, 1.0, 3, 90});
    shots.push_back({Kind::Interior, width, height, 2.2, 8, 24, 1.0, 3, 90});
    shots.push_back({Kind::Interior, width, height, -0.4, 0, 24, 1.0, 3, 90});
    for (double roll : {-1.2, 3.4})
        shots.push_back({Kind::Horizon, width, height, roll, 0, 50, 0.8, 4, 88});
    shots.push_back({Kind::NoLines, width, height, 0, 0, 28, 1.0, 3, 90});

    std::printf("| Scene | True level | Found | Error | Lines h/v | Lean at edges | Time |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    for (const scenes::Shot& shot : shots) {
        const talvine::hosts::Picture p = scenes::render(shot);
        const scenes::Truth t = scenes::truth(shot);
        for (int pass = 0; pass < (full ? 2 : 1); ++pass) {
            Options o;
            if (pass == 1) o.detectionSize = 1 << 20;
            const auto start = std::chrono::steady_clock::now();
            const Analysis a = analyse({p.rgb.data(), p.width, p.height}, o);
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count();
            std::string found =
                a.level.degrees ? std::to_string(*a.level.degrees) : a.level.refusal;
            std::string error =
                a.level.degrees ? std::to_string(std::abs(*a.level.degrees - t.levelDeg)) : "-";
            std::string lean = "-";
            if (a.level.degrees && a.verticals.found) {
                // After the level: both points turned by the angle found.
                const double cx = (p.width - 1) / 2.0, cy = (p.height - 1) / 2.0;
                const double theta = -*a.level.degrees * kDeg;
                const std::array<double, 2> truthV = scenes::verticalsAt(shot);
                std::optional<std::array<double, 2>> foundV;
                if (a.verticals.vanishing) foundV = turned(*a.verticals.vanishing, cx, cy, theta);
                char b[32];
                std::snprintf(b, sizeof b, "%.4f",
                              scenes::residualLeanDeg(p.width, p.height,
                                                      turned(truthV, cx, cy, theta), foundV));
                lean = b;
            }
            std::printf("| %s%s | %.2f | %s | %s | %d/%d | %s | %.0f ms |\n",
                        scenes::describe(shot).c_str(), pass ? " (full-res LSD)" : "", t.levelDeg,
                        found.c_str(), error.c_str(), a.horizontalLines, a.verticalLines,
                        lean.c_str(), ms);
            std::fflush(stdout);
        }
    }

    // The demo's sample scene (hosts/common/Scene) without its lens
    // distortion: a roll and a keystone whose vanishing point follows from
    // its construction, at half the size (it is supersampled 3 x 3).
    for (const double tilt : {3.0, -1.5}) {
        const int w = width / 2, h = height / 2;
        const talvine::hosts::SceneGeometry g{tilt, 0.28, 0.0};
        const talvine::hosts::Picture p = talvine::hosts::sampleScene(w, h, g);
        const double theta = tilt * kDeg, cx = (w - 1) / 2.0, cy = (h - 1) / 2.0;
        const double ry = h * (1 - 1 / g.keystone) - h / 2.0;
        const std::array<double, 2> truthV = {cx + std::sin(theta) * ry, cy + std::cos(theta) * ry};
        const auto start = std::chrono::steady_clock::now();
        const Analysis a = analyse({p.rgb.data(), p.width, p.height});
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        double lean = -1;
        if (a.level.degrees && a.verticals.found) {
            const double turn = -*a.level.degrees * kDeg;
            std::optional<std::array<double, 2>> foundV;
            if (a.verticals.vanishing) foundV = turned(*a.verticals.vanishing, cx, cy, turn);
            lean = scenes::residualLeanDeg(w, h, turned(truthV, cx, cy, turn), foundV);
        }
        std::printf(
            "| sample scene %dx%d tilt %.1f keystone 0.28 | %.2f | %s | %s | %d/%d | %s | %.0f ms "
            "|\n",
            w, h, tilt, tilt,
            a.level.degrees ? std::to_string(*a.level.degrees).c_str() : a.level.refusal.c_str(),
            a.level.degrees ? std::to_string(std::abs(*a.level.degrees - tilt)).c_str() : "-",
            a.horizontalLines, a.verticalLines, lean >= 0 ? std::to_string(lean).c_str() : "-", ms);
    }
}
