#include "engines/RotImg.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#if defined(__SSSE3__) && defined(__SSE4_1__)
#include <smmintrin.h>
#define TALVINE_ROTIMG_SIMD 1
#endif

namespace talvine::engines {
namespace {

using Byte = uint8_t;

Byte* bytes(TPtImg* p) {
    return reinterpret_cast<Byte*>(p);
}
const Byte* bytes(const TPtImg* p) {
    return reinterpret_cast<const Byte*>(p);
}

void copyPixel(Byte* dst, const Byte* src) {
    std::memcpy(dst, src, 3);
}

#if TALVINE_ROTIMG_SIMD
// Four pixels (12 bytes) in and out of a register, without touching the
// bytes after them.
inline __m128i load4(const Byte* p) {
    int32_t tail;
    std::memcpy(&tail, p + 8, 4);
    return _mm_insert_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), tail, 2);
}
inline void store4(Byte* p, __m128i v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
    const int32_t tail = _mm_extract_epi32(v, 2);
    std::memcpy(p + 8, &tail, 4);
}

// Transposes a block of 4 x 4 pixels: output row j holds input column j (or
// column 3 - j when Reverse), read from the input rows in order.  Rows are
// `inStride` and `outStride` bytes apart (either may be negative).
template <bool Reverse>
inline void transpose4(const Byte* in, int64_t inStride, Byte* out, int64_t outStride) {
    const __m128i expand = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i compact = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m128i r0 = _mm_shuffle_epi8(load4(in), expand);
    const __m128i r1 = _mm_shuffle_epi8(load4(in + inStride), expand);
    const __m128i r2 = _mm_shuffle_epi8(load4(in + 2 * inStride), expand);
    const __m128i r3 = _mm_shuffle_epi8(load4(in + 3 * inStride), expand);
    const __m128i a = _mm_unpacklo_epi32(r0, r1), b = _mm_unpacklo_epi32(r2, r3);
    const __m128i c = _mm_unpackhi_epi32(r0, r1), d = _mm_unpackhi_epi32(r2, r3);
    __m128i col[4] = {_mm_unpacklo_epi64(a, b), _mm_unpackhi_epi64(a, b), _mm_unpacklo_epi64(c, d),
                      _mm_unpackhi_epi64(c, d)};
    if constexpr (Reverse) {
        std::swap(col[0], col[3]);
        std::swap(col[1], col[2]);
    }
    for (int j = 0; j < 4; ++j)
        store4(out + j * outStride, _mm_shuffle_epi8(col[j], compact));
}
#endif

// A quarter turn writes each destination row from one source column.  The
// traversal goes tile by tile so that the source lines of a tile stay in
// cache, and inside a tile by blocks of 4 x 4 pixels transposed in registers.
// Destination element x * H + y comes from source element y * W + (W - 1 - x)
// (counter-clockwise) or (H - 1 - y) * W + x (clockwise).
constexpr int64_t kTile = 256;

template <bool Clockwise>
const Byte* sourceOf(const Byte* src, int64_t x, int64_t y, int64_t w, int64_t h) {
    return Clockwise ? src + 3 * ((h - 1 - y) * w + x) : src + 3 * (y * w + (w - 1 - x));
}

template <bool Clockwise>
void quarterTurn(const TPtImg* source, TPtImg* destination, int32_t width, int32_t height) {
    const Byte* src = bytes(source);
    Byte* dst = bytes(destination);
    const int64_t w = width, h = height;
    for (int64_t x0 = 0; x0 < w; x0 += kTile) {
        const int64_t x1 = std::min(x0 + kTile, w);
        for (int64_t y0 = 0; y0 < h; y0 += kTile) {
            const int64_t y1 = std::min(y0 + kTile, h);
            int64_t x = x0;
#if TALVINE_ROTIMG_SIMD
            for (; x + 4 <= x1; x += 4) {
                int64_t y = y0;
                for (; y + 4 <= y1; y += 4) {
                    if constexpr (Clockwise)
                        transpose4<false>(sourceOf<true>(src, x, y, w, h), -3 * w,
                                          dst + 3 * (x * h + y), 3 * h);
                    else
                        transpose4<true>(sourceOf<false>(src, x + 3, y, w, h), 3 * w,
                                         dst + 3 * (x * h + y), 3 * h);
                }
                for (; y < y1; ++y)
                    for (int64_t k = x; k < x + 4; ++k)
                        copyPixel(dst + 3 * (k * h + y), sourceOf<Clockwise>(src, k, y, w, h));
            }
#endif
            for (; x < x1; ++x)
                for (int64_t y = y0; y < y1; ++y)
                    copyPixel(dst + 3 * (x * h + y), sourceOf<Clockwise>(src, x, y, w, h));
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

// Each row is copied aside (it stays in cache) and written back reversed,
// five pixels per shuffle; the last few pixels of a row go one by one so that
// no store reaches the next row.
void mirrorLeftRight(TPtImg* img, int32_t width, int32_t height) {
    const int64_t w = width;
    if (w < 2) return;
    const auto row = std::make_unique<Byte[]>(static_cast<size_t>(w) * 3 + 16);
    for (int64_t y = 0; y < height; ++y) {
        Byte* out = bytes(img) + 3 * y * w;
        std::memcpy(row.get(), out, static_cast<size_t>(w) * 3);
        int64_t x = 0;
#if TALVINE_ROTIMG_SIMD
        const __m128i reverse5 =
            _mm_setr_epi8(12, 13, 14, 9, 10, 11, 6, 7, 8, 3, 4, 5, 0, 1, 2, -1);
        for (; x + 5 < w; x += 5) {
            const __m128i in =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(row.get() + 3 * (w - 5 - x)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x),
                             _mm_shuffle_epi8(in, reverse5));
        }
#endif
        for (; x < w; ++x)
            copyPixel(out + 3 * x, row.get() + 3 * (w - 1 - x));
    }
}

void mirrorTopBottom(TPtImg* img, int32_t width, int32_t height) {
    const auto rowBytes = static_cast<size_t>(width) * 3;
    if (rowBytes == 0) return;
    const auto spare = std::make_unique<Byte[]>(rowBytes);
    Byte* base = bytes(img);
    for (int64_t top = 0, bottom = int64_t{height} - 1; top < bottom; ++top, --bottom) {
        Byte* a = base + static_cast<size_t>(top) * rowBytes;
        Byte* b = base + static_cast<size_t>(bottom) * rowBytes;
        std::memcpy(spare.get(), a, rowBytes);
        std::memcpy(a, b, rowBytes);
        std::memcpy(b, spare.get(), rowBytes);
    }
}

} // namespace talvine::engines
