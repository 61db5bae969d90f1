#include "ViewPixels.h"

#include <algorithm>
#include <limits>
#include <thread>
#include <type_traits>
#include <vector>

namespace talvine::editor {
namespace {

// Runs f(first, last) over [0, rows) in bands, one per thread when the job
// reads `bytes` enough to pay for starting them.
template <class F> void inBands(int rows, int64_t bytes, const F& f) {
    constexpr int64_t kPerThread = 4 << 20;
    const int threads = static_cast<int>(std::clamp<int64_t>(
        std::min<int64_t>(bytes / kPerThread, std::thread::hardware_concurrency()), 1,
        std::min(rows, 8)));
    if (threads <= 1) {
        f(0, rows);
        return;
    }
    std::vector<std::jthread> pool;
    pool.reserve(static_cast<size_t>(threads) - 1);
    for (int k = 1; k < threads; ++k)
        pool.emplace_back([&f, k, threads, rows] {
            f(static_cast<int>(int64_t{rows} * k / threads),
              static_cast<int>(int64_t{rows} * (k + 1) / threads));
        });
    f(0, static_cast<int>(int64_t{rows} / threads));
}

// One axis of the scale: output pixel i covers the picture's pixels
// from[i] to from[i + 1] - 1 (overlapping at the ends), with the weights
// weight[from[i]] ... of each.  In units where a picture pixel is `out`
// long and an output pixel `in`, the picture's pixel j spans
// [j * out, (j + 1) * out) and the output's i spans [i * in, (i + 1) * in):
// every weight is a whole number and those of one output pixel add up to
// `in`.
struct Axis {
    std::vector<int> first;       // the first picture pixel of each output pixel
    std::vector<int> from;        // where its weights start in `weight`
    std::vector<uint32_t> weight; // their weights
};

Axis axis(int in, int out) {
    Axis a;
    a.first.resize(static_cast<size_t>(out));
    a.from.resize(static_cast<size_t>(out) + 1);
    for (int i = 0; i < out; ++i) {
        const int64_t lo = int64_t{i} * in, hi = lo + in;
        const int64_t j0 = lo / out, j1 = (hi - 1) / out;
        a.first[static_cast<size_t>(i)] = static_cast<int>(j0);
        a.from[static_cast<size_t>(i)] = static_cast<int>(a.weight.size());
        for (int64_t j = j0; j <= j1; ++j)
            a.weight.push_back(
                static_cast<uint32_t>(std::min(hi, (j + 1) * out) - std::max(lo, j * out)));
    }
    a.from[static_cast<size_t>(out)] = static_cast<int>(a.weight.size());
    return a;
}

// s[i] += row[i] * w over a row of channel bytes: the hot loop, built for
// AVX2 as well where the compiler can choose at load time.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__linux__)
#define TALVINE_VIEW_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TALVINE_VIEW_CLONES
#endif

TALVINE_VIEW_CLONES void accumulate(uint32_t* s, const uint8_t* row, size_t n, uint32_t w) {
    for (size_t i = 0; i < n; ++i)
        s[i] += row[i] * w;
}

void accumulate(uint64_t* s, const uint8_t* row, size_t n, uint64_t w) {
    for (size_t i = 0; i < n; ++i)
        s[i] += row[i] * w;
}

// Rows first: the picture's rows under an output row, weighted, summed into
// `Sum`s (a row's weights add up to the picture's height); then across.
template <class Sum>
void scaleRows(const uint8_t* rgb, ptrdiff_t stride, int width, int height, uint32_t* out,
               ptrdiff_t outStride, int outWidth, int outHeight, int first, int last) {
    const Axis across = axis(width, outWidth), down = axis(height, outHeight);
    const double norm = 1.0 / (static_cast<double>(width) * height);
    const size_t n = static_cast<size_t>(width) * 3;
    std::vector<Sum> sum(n);
    for (int y = first; y < last; ++y) {
        std::fill(sum.begin(), sum.end(), Sum{0});
        const int top = down.first[static_cast<size_t>(y)];
        for (int k = down.from[static_cast<size_t>(y)]; k < down.from[static_cast<size_t>(y) + 1];
             ++k) {
            const uint8_t* row = rgb + (top + k - down.from[static_cast<size_t>(y)]) * stride;
            accumulate(sum.data(), row, n, Sum{down.weight[static_cast<size_t>(k)]});
        }
        uint32_t* o = out + y * outStride;
        for (int x = 0; x < outWidth; ++x) {
            uint64_t r = 0, g = 0, b = 0;
            const Sum* s =
                sum.data() + static_cast<size_t>(across.first[static_cast<size_t>(x)]) * 3;
            for (int k = across.from[static_cast<size_t>(x)];
                 k < across.from[static_cast<size_t>(x) + 1]; ++k, s += 3) {
                const uint64_t w = across.weight[static_cast<size_t>(k)];
                r += s[0] * w;
                g += s[1] * w;
                b += s[2] * w;
            }
            auto level = [norm](uint64_t v) {
                return std::min<uint32_t>(
                    255, static_cast<uint32_t>(static_cast<double>(v) * norm + 0.5));
            };
            o[x] = 0xff000000u | level(r) << 16 | level(g) << 8 | level(b);
        }
    }
}

} // namespace

void convertRgb(const uint8_t* rgb, ptrdiff_t stride, int x, int y, int width, int height,
                uint32_t* out, ptrdiff_t outStride) {
    if (width <= 0 || height <= 0) return;
    inBands(height, int64_t{width} * height * 3, [&](int first, int last) {
        for (int row = first; row < last; ++row) {
            const uint8_t* s = rgb + (y + row) * stride + ptrdiff_t{x} * 3;
            uint32_t* o = out + row * outStride;
            for (int i = 0; i < width; ++i, s += 3)
                o[i] = 0xff000000u | uint32_t{s[0]} << 16 | uint32_t{s[1]} << 8 | s[2];
        }
    });
}

void scaleDownRgb(const uint8_t* rgb, ptrdiff_t stride, int width, int height, uint32_t* out,
                  ptrdiff_t outStride, int outWidth, int outHeight) {
    if (width <= 0 || height <= 0 || outWidth <= 0 || outHeight <= 0 || outWidth > width ||
        outHeight > height)
        return;
    // A column's sum reaches 255 times the picture's height.
    const bool narrow = int64_t{255} * height <= std::numeric_limits<uint32_t>::max();
    inBands(outHeight, int64_t{width} * height * 3, [&](int first, int last) {
        if (narrow)
            scaleRows<uint32_t>(rgb, stride, width, height, out, outStride, outWidth, outHeight,
                                first, last);
        else
            scaleRows<uint64_t>(rgb, stride, width, height, out, outStride, outWidth, outHeight,
                                first, last);
    });
}

} // namespace talvine::editor
