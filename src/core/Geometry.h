// The two small value types every layer speaks in: a pixel position and a
// picture size, both in the host's 32-bit integers.
#pragma once

#include <cstdint>

namespace talvine {

// A pixel position: column x to the right, row y downwards.
struct Point {
    int32_t x = 0;
    int32_t y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

// The picture size, width then height.
struct TDimImg {
    int32_t Largeur = 0;
    int32_t Hauteur = 0;
    friend bool operator==(const TDimImg&, const TDimImg&) = default;
};

} // namespace talvine
