#include "engines/RotImg.h"

#include <algorithm>
#include <utility>

namespace talvine::engines {
namespace {

// A quarter turn writes the destination column by column of the source; the
// traversal goes tile by tile so that both the source rows and the
// destination rows of a tile stay in cache.
constexpr int64_t kTile = 64;

template <bool Clockwise>
void quarterTurn(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h) {
    const int64_t W = w, H = h;
    for (int64_t x0 = 0; x0 < W; x0 += kTile) {
        const int64_t x1 = std::min(x0 + kTile, W);
        for (int64_t y0 = 0; y0 < H; y0 += kTile) {
            const int64_t y1 = std::min(y0 + kTile, H);
            for (int64_t x = x0; x < x1; ++x) {
                TPtImg* d = dst + x * H + y0;
                if constexpr (Clockwise) {
                    const TPtImg* s = src + (H - 1 - y0) * W + x;
                    for (int64_t y = y0; y < y1; ++y, s -= W) *d++ = *s;
                } else {
                    const TPtImg* s = src + y0 * W + (W - 1 - x);
                    for (int64_t y = y0; y < y1; ++y, s += W) *d++ = *s;
                }
            }
        }
    }
}

} // namespace

void quarterTurnCcw(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h) {
    quarterTurn<false>(src, dst, w, h);
}

void quarterTurnCw(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h) {
    quarterTurn<true>(src, dst, w, h);
}

void mirrorLeftRight(TPtImg* img, int32_t w, int32_t h) {
    for (int64_t y = 0; y < h; ++y) {
        TPtImg* row = img + y * w;
        std::reverse(row, row + w);
    }
}

void mirrorTopBottom(TPtImg* img, int32_t w, int32_t h) {
    const int64_t rowBytes = int64_t{w} * 3;
    auto* bytes = reinterpret_cast<unsigned char*>(img);
    for (int64_t top = 0, bottom = int64_t{h} - 1; top < bottom; ++top, --bottom)
        std::swap_ranges(bytes + top * rowBytes, bytes + (top + 1) * rowBytes,
                         bytes + bottom * rowBytes);
}

} // namespace talvine::engines
