// The largest rectangle whose every pixel the upright's commands computed
// from inside the picture, after its tilt, its perspective correction, or
// both in turn: no white corner of the tilt, no pixel the perspective left
// as it was, no pixel read across the end of a row.
#pragma once

#include "CleanCrop.h"
#include "core/Geometry.h"

#include <array>
#include <optional>

namespace talvine::cli {

struct TiltStep {
    Point from, to; // the two points the dialog was given
    bool bilinear = false;
};

struct PerspectiveStep {
    std::array<Point, 4> corners; // top-left, top-right, bottom-right, bottom-left
    int vertical = 5;
    bool bilinear = false;
};

// Nothing when no pixel is clean (or the steps leave the mapping undefined).
std::optional<hosts::PixelRect> uprightCrop(int32_t width, int32_t height,
                                            const std::optional<TiltStep>& tilt,
                                            const std::optional<PerspectiveStep>& perspective,
                                            bool keepProportion);

} // namespace talvine::cli
