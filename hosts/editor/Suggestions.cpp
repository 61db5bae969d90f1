#include "Suggestions.h"

#include <cmath>
#include <numbers>

// The reasons are marked for Qt's translation tools (context
// "Suggestions"); the view translates them.
#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(context, text) text
#endif

namespace talvine::editor {
namespace {

// The analysis' reasons, as the view may show them.
[[maybe_unused]] constexpr const char* kReasons[] = {
    QT_TRANSLATE_NOOP("Suggestions", "too few straight lines"),
    QT_TRANSLATE_NOOP("Suggestions", "lines disagree"),
};

} // namespace

std::pair<Marker, Marker> levelPoints(int32_t w, int32_t h, double degrees) {
    const int32_t cx = w / 2, cy = h / 2;
    const double wanted = degrees * std::numbers::pi / 180;
    const double t = std::tan(wanted);
    // The second point stays inside the picture: its height from the centre
    // at most cy, its distance from 40 % to 45 % of the width; of those, the
    // pair whose angle comes closest.
    int32_t bestDx = 1, bestDy = 0;
    double bestError = INFINITY;
    const int32_t hi = std::max<int32_t>(1, w * 45 / 100), lo = std::max<int32_t>(1, w * 40 / 100);
    for (int32_t dx = hi; dx >= lo; --dx) {
        const double dy = std::round(t * dx);
        if (std::abs(dy) > cy || std::abs(dy) > h - 1 - cy) continue;
        const double error = std::abs(std::atan2(dy, dx) - wanted);
        if (error < bestError) bestError = error, bestDx = dx, bestDy = static_cast<int32_t>(dy);
    }
    // Rising to the right is up the picture: y decreases.
    return {{1, cx, cy}, {2, std::min(w - 1, cx + bestDx), cy - bestDy}};
}

void Suggestions::clear() {
    command_ = 0;
    points_.clear();
    lines_.clear();
    refusal_.clear();
}

void Suggestions::analyse(const Picture& picture, int command) {
    clear();
    if (command != 3 && command != 9) return;
    command_ = command;
    const analysis::Analysis a =
        analysis::analyse({picture.rgb.data(), picture.width, picture.height});
    lines_ = a.lines;
    if (command == 3) {
        if (!a.level.degrees) {
            refusal_ = a.level.refusal;
            return;
        }
        const auto [first, second] = levelPoints(picture.width, picture.height, *a.level.degrees);
        points_ = {first, second};
        return;
    }
    if (!a.verticals.found) {
        refusal_ = a.verticals.refusal;
        return;
    }
    const auto corners =
        a.verticals.vanishing
            ? analysis::perspectiveCorners(picture.width, picture.height, *a.verticals.vanishing)
            : std::nullopt;
    if (!corners) {
        refusal_ = a.verticals.vanishing
                       ? QT_TRANSLATE_NOOP("Suggestions", "verticals meet below the picture")
                       : QT_TRANSLATE_NOOP("Suggestions", "verticals already parallel");
        return;
    }
    for (int k = 0; k < 4; ++k)
        points_.push_back({k + 1, (*corners)[size_t(k)][0], (*corners)[size_t(k)][1]});
}

std::optional<Marker> Suggestions::near(double x, double y, double tolerance) const {
    std::optional<Marker> best;
    double bestDistance = tolerance;
    for (const Marker& m : points_) {
        const double d = std::hypot(m.x - x, m.y - y);
        if (d <= bestDistance) bestDistance = d, best = m;
    }
    return best;
}

} // namespace talvine::editor
