// Resampling a picture of W x H pixels to NW x NH pixels: pure kernels, no
// host, no cursor, no globals.
//
// Output pixel (x, y) sits at source position (x * rx, y * ry), with
// rx = W / NW and ry = H / NH in 80-bit extended precision; the top-left
// corners coincide and there is no half-pixel centring.
//
//   resizeNearest  nearest pixel: (Round(x * rx), Round(y * ry)), ties to even
//   resizeSmoothed    bilinear blend of the four pixels around the position
//
//        C ---- B        C = base (Trunc(fx), Trunc(fy)), u = Frac(fx), v = Frac(fy)
//        |  .   |        value = A*u*v + B*(u - u*v) + C*(1 - u - v + u*v) + D*(v - u*v)
//        D ---- A
//
// The right neighbour of a pixel in the last source column is the first pixel
// of the next source row (the pixels are read as one run).  What the edges do
// beyond that is written out in docs/RESAMPLING.md: nothing outside the
// source is ever read, and every output pixel gets a value.
//
// Two forms of each kernel give identical bytes: `reference::` is the plain
// per-pixel loop, the unqualified one computes each column's and each row's
// position once into tables and takes shortcuts where a fraction is zero.
#pragma once

#include "talvine/talvine.h"

#include <cstdint>
#include <stdexcept>

namespace talvine::engines {

// A new width or height of 0: the source steps W / NW and H / NH would divide by zero.
class ZeroDimension : public std::domain_error {
  public:
    ZeroDimension() : std::domain_error("new picture dimension is zero") {}
};

// The number of pixels of an NW x NH picture, in 64 bits (never overflows
// for 32-bit sides).
constexpr int64_t resizedLength(int32_t nw, int32_t nh) {
    return int64_t{nw} * nh;
}

// `src` holds w * h pixels, `dst` nw * nh pixels; they must not overlap.
// Throws ZeroDimension when nw or nh is 0 (before anything is written), and
// std::invalid_argument for a negative side or for an empty source asked to
// fill a non-empty picture.
void resizeNearest(const TPtImg* src, int32_t w, int32_t h, TPtImg* dst, int32_t nw, int32_t nh);
void resizeSmoothed(const TPtImg* src, int32_t w, int32_t h, TPtImg* dst, int32_t nw, int32_t nh);

namespace reference {
void resizeNearest(const TPtImg* src, int32_t w, int32_t h, TPtImg* dst, int32_t nw, int32_t nh);
void resizeSmoothed(const TPtImg* src, int32_t w, int32_t h, TPtImg* dst, int32_t nw, int32_t nh);
} // namespace reference

} // namespace talvine::engines
