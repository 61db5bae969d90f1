// After a horizon tilt: the largest rectangle of the result that holds only
// pixels of the source (no corner brought in from outside the picture), of
// the picture's proportions or of any.  Shared by the editor's "crop to
// result" and the tool's straighten.
#pragma once

#include <cstdint>
#include <optional>

namespace talvine::hosts {

// A rectangle of whole pixels: its top-left pixel and its size.
struct PixelRect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// The tilt of a width x height picture about `from` that levels the line
// from `from` to `to` (pixel coordinates).  `margin` pixels are kept clear
// of the source's edges, for the sampling there.  Nothing when the line is
// vertical or no rectangle fits.
std::optional<PixelRect> cleanCrop(int32_t width, int32_t height, double fromX, double fromY,
                                   double toX, double toY, bool keepProportion,
                                   double margin = 1.5);

} // namespace talvine::hosts
