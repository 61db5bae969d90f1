#include "Suggestions.h"

#include <cmath>
#include <numbers>
#include <stdexcept>

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

std::optional<std::pair<Marker, Marker>> levelPoints(int32_t w, int32_t h, double degrees) {
    if (w < 2 || h < 1 || !(std::abs(degrees) <= 90)) return std::nullopt;
    const int32_t cx = w / 2, cy = h / 2;
    const double wanted = degrees * std::numbers::pi / 180;
    const double c = std::cos(wanted), s = std::sin(wanted);
    // How far the line runs from the centre before it leaves the picture:
    // rightwards to the last column, upwards (rising) or downwards.
    double reach = c > 1e-12 ? (w - 1 - cx) / c : INFINITY;
    if (s > 1e-12) reach = std::min(reach, cy / s);
    if (s < -1e-12) reach = std::min(reach, (h - 1 - cy) / -s);
    if (!std::isfinite(reach) || reach < 1) return std::nullopt;
    // Along the line's longer axis, every whole step from 80 % to 95 % of
    // the reach; the other coordinate rounded to the line; of those inside
    // the picture, the one whose angle comes closest (the farther on a tie).
    const bool flat = std::abs(c) >= std::abs(s);
    const double along = flat ? c : std::abs(s);
    const int64_t hi = std::max<int64_t>(1, std::llround(std::floor(reach * along * 0.95)));
    const int64_t lo = std::max<int64_t>(1, std::llround(std::ceil(reach * along * 0.8)));
    std::optional<std::pair<int64_t, int64_t>> best; // dx, dy (dy up the picture)
    double bestError = INFINITY;
    for (int64_t step = hi; step >= lo; --step) {
        const int64_t dx = flat ? step : std::llround(step * c / std::abs(s));
        const int64_t dy = flat ? std::llround(step * s / c) : (s > 0 ? step : -step);
        if (dx < 0 || cx + dx > w - 1 || cy - dy < 0 || cy - dy > h - 1 || (dx == 0 && dy == 0))
            continue;
        const double error = std::abs(std::atan2(double(dy), double(dx)) - wanted);
        if (error < bestError) bestError = error, best = {dx, dy};
    }
    if (!best) return std::nullopt;
    // Rising to the right is up the picture: y decreases.
    return std::pair{Marker{1, cx, cy}, Marker{2, static_cast<int32_t>(cx + best->first),
                                               static_cast<int32_t>(cy - best->second)}};
}

void Suggestions::clear() {
    analysed_ = false;
    command_ = 0;
    level_.reset();
    points_.clear();
    lines_.clear();
    refusal_.clear();
}

void Suggestions::analyse(const Picture& picture, int command) {
    clear();
    analysed_ = true;
    command_ = command;
    analysis::Analysis a;
    try {
        a = analysis::analyse({picture.rgb.data(), picture.width, picture.height});
    } catch (const std::exception& e) {
        // Out of memory, or a picture the detector cannot take: no
        // suggestion, said as it is.
        refusal_ = e.what();
        return;
    }
    lines_ = a.lines;
    level_ = a.level.degrees;
    if (command != 3 && command != 9) {
        refusal_ = a.level.refusal;
        return;
    }
    if (command == 3) {
        const auto ends =
            level_ ? levelPoints(picture.width, picture.height, *level_) : std::nullopt;
        if (!ends) {
            refusal_ = level_ ? QT_TRANSLATE_NOOP("Suggestions", "no room for two points")
                              : a.level.refusal;
            return;
        }
        points_ = {ends->first, ends->second};
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
