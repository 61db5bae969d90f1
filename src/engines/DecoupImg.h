// The crop copy: a rectangle of a W x H picture, packed row after row at the
// start of a destination buffer.  Pure kernel: no host, no cursor, no globals.
//
//   source (W = 5)          rectangle (1, 1, 3 x 2)     destination
//     a b c d e                                           g h i l m n ...
//     f g h i j              g h i                        (rows of 3, packed;
//     k l m n o              l m n                         the rest untouched)
//
// A rectangle is first clipped to the picture: the part of it that lies
// inside 0 .. W x 0 .. H is copied, and the clipped rectangle is returned.  A
// negative left or top edge is clipped like any other side (the rectangle
// (-2, 0, 5 x 1) keeps columns 0 to 2).  A rectangle with no part inside the
// picture becomes an empty one at its clipped corner.
#pragma once

#include "talvine/talvine.h"

#include <cstdint>
#include <stdexcept>

namespace talvine::engines {

struct Cadre {
    int32_t x = 0;
    int32_t y = 0;
    int32_t largeur = 0;
    int32_t hauteur = 0;
    friend bool operator==(const Cadre&, const Cadre&) = default;
};

// The part of `cadre` inside a w x h picture (w, h >= 0); sums are taken in 64 bits.
Cadre clipRect(Cadre cadre, int32_t w, int32_t h);

// Copies clipRect(cadre, w, h) out of `src` (w * h pixels) into the first
// pixels of `dst` and returns it.  `dst` must not overlap `src`; `dstLength`
// is its length in pixels, and a destination shorter than the clipped
// rectangle throws std::length_error before anything is written.
Cadre copyRect(const TPtImg* src, int32_t w, int32_t h, Cadre cadre, TPtImg* dst,
               int64_t dstLength);

namespace reference {
Cadre copyRect(const TPtImg* src, int32_t w, int32_t h, Cadre cadre, TPtImg* dst,
               int64_t dstLength);
} // namespace reference

} // namespace talvine::engines
