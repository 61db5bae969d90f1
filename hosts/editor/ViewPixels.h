// The canvas's pixels made from the picture: 8-bit RGB (3 bytes a pixel)
// into 32-bit pixels 0xffRRGGBB, the layout Qt's QImage::Format_RGB32 paints
// without converting.  Large jobs run on several threads, over bands of
// rows; the results do not depend on how many.
#pragma once

#include <cstddef>
#include <cstdint>

namespace talvine::editor {

// The pixels of the rectangle (x, y, width, height) of an RGB picture whose
// rows are `stride` bytes apart, one for one.  `out` rows are `outStride`
// 32-bit pixels apart.
void convertRgb(const uint8_t* rgb, ptrdiff_t stride, int x, int y, int width, int height,
                uint32_t* out, ptrdiff_t outStride);

// A whole RGB picture (width x height) scaled down to outWidth x outHeight,
// each pixel the exact mean of the area of the picture it covers (a pixel
// of the picture partly under it counts for the part that is), rounded to
// the nearest.  The sizes must be positive and no larger than the
// picture's.  A thin line stays whole at any scale, and a mirrored picture
// scales to the mirrored result.
void scaleDownRgb(const uint8_t* rgb, ptrdiff_t stride, int width, int height, uint32_t* out,
                  ptrdiff_t outStride, int outWidth, int outHeight);

// Lays the colour `argb` (0xAARRGGBB, not premultiplied) over the
// rectangle (x, y, w, h) of 32-bit pixels (width x height, rows `stride`
// apart), clipped to them: each channel becomes
// (colour * alpha + pixel * (255 - alpha)) / 255, rounded.
void tintRect(uint32_t* pixels, ptrdiff_t stride, int width, int height, int x, int y, int w, int h,
              uint32_t argb);

} // namespace talvine::editor
