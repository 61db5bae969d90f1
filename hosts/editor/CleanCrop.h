// After a horizon tilt: the largest rectangle of the result that holds only
// pixels of the source (no corner brought in from outside the picture), of
// the picture's proportions or of any.
#pragma once

#include <cstdint>
#include <optional>

namespace talvine::editor {

struct PixelRect;

// The tilt of a width x height picture about `from` that levels the line
// from `from` to `to` (pixel coordinates).  `margin` pixels are kept clear
// of the source's edges, for the sampling there.  Nothing when the line is
// vertical or no rectangle fits.
std::optional<PixelRect> cleanCrop(int32_t width, int32_t height, double fromX, double fromY,
                                   double toX, double toY, bool keepProportion,
                                   double margin = 1.5);

} // namespace talvine::editor
