// The largest rectangle whose every pixel the correcting commands computed
// from inside the picture, after a tilt, a perspective correction, both in
// turn, or a distortion correction: no white corner of the tilt, no pixel
// the perspective or the distortion left as it was, no pixel read across
// the end of a row.
#pragma once

#include "CleanCrop.h"
#include "core/Geometry.h"

#include <array>
#include <optional>

namespace talvine::hosts {

struct TiltStep {
    Point from, to; // the two points the dialog was given
    bool bilinear = false;
};

struct PerspectiveStep {
    std::array<Point, 4> corners; // top-left, top-right, bottom-right, bottom-left
    int vertical = 5;
    bool bilinear = false;
};

struct DistortionStep {
    int position = 0; // the rate slider, -100 to 100
    int law = 1;      // 1: (1 + a.R), 2: (1 + a.R²)
    bool bilinear = false;
};

// Nothing when no pixel is clean (or the steps leave the mapping undefined).
std::optional<PixelRect> uprightCrop(int32_t width, int32_t height,
                                            const std::optional<TiltStep>& tilt,
                                            const std::optional<PerspectiveStep>& perspective,
                                            bool keepProportion);

// After the distortion correction alone: the rectangle about the centre
// whose rows each hold only clean pixels.
std::optional<PixelRect> distortionCrop(int32_t width, int32_t height,
                                               const DistortionStep& distortion,
                                               bool keepProportion);

} // namespace talvine::hosts
