#include "ViewPixels.h"

#include <algorithm>
#include <cstring>
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

// The weighted sums of up to four rows of channel bytes, s[i] = row0[i] *
// w[0] + ..., added to s[i] unless `fresh`: the hot loop, built for AVX2 as
// well where the compiler can choose at load time.  Four rows a pass keep
// the sums' row from being read and written once per picture row.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__linux__)
#define TALVINE_VIEW_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TALVINE_VIEW_CLONES
#endif

template <class Sum>
TALVINE_VIEW_CLONES void accumulate4(Sum* __restrict s, const uint8_t* __restrict r0,
                                     const uint8_t* __restrict r1, const uint8_t* __restrict r2,
                                     const uint8_t* __restrict r3, const Sum* w, int rows, size_t n,
                                     bool fresh) {
    const Sum w0 = w[0], w1 = w[1], w2 = w[2], w3 = w[3];
    // Each case its own loop: a row weighed zero would cost as much as one
    // that counts.
    auto pass = [&](auto term) {
        if (fresh)
            for (size_t i = 0; i < n; ++i)
                s[i] = term(i);
        else
            for (size_t i = 0; i < n; ++i)
                s[i] += term(i);
    };
    switch (rows) {
    case 1:
        pass([&](size_t i) { return r0[i] * w0; });
        break;
    case 2:
        pass([&](size_t i) { return r0[i] * w0 + r1[i] * w1; });
        break;
    case 3:
        pass([&](size_t i) { return r0[i] * w0 + r1[i] * w1 + r2[i] * w2; });
        break;
    default:
        pass([&](size_t i) { return r0[i] * w0 + r1[i] * w1 + r2[i] * w2 + r3[i] * w3; });
    }
}

// One output pixel across: where the running sums of its two end pixels
// start, their weights, and the weight of each pixel between them (every
// picture pixel wholly under an output pixel weighs the output's width in
// the axis's units; 0 where a single pixel lies under it).
struct Span {
    size_t left, right;
    double wLeft, wRight, wInner;
};

typedef double Double4 __attribute__((vector_size(32)));
typedef int32_t Int4 __attribute__((vector_size(16)));

// An output row from the running sums of its summed picture row
// (runningSums).  Every term is a whole number below 2^53 (the sums stay
// under 255 * width * height), so the doubles hold them exactly, in any
// order; the fourth lane is never used.
TALVINE_VIEW_CLONES void acrossRow(const double* running, const Span* spans, int outWidth,
                                   double norm, uint32_t* o) {
    for (int x = 0; x < outWidth; ++x) {
        const Span& sp = spans[x];
        Double4 l0, l1, r0, r1;
        std::memcpy(&l0, running + sp.left, sizeof l0);
        std::memcpy(&l1, running + sp.left + 4, sizeof l1);
        std::memcpy(&r0, running + sp.right, sizeof r0);
        std::memcpy(&r1, running + sp.right + 4, sizeof r1);
        const Double4 v = (l1 - l0) * sp.wLeft + (r1 - r0) * sp.wRight + (r0 - l1) * sp.wInner;
        Int4 level = __builtin_convertvector(v * norm + 0.5, Int4);
        level = level < 255 ? level : 255;
        o[x] = 0xff000000u | static_cast<uint32_t>(level[0]) << 16 |
               static_cast<uint32_t>(level[1]) << 8 | static_cast<uint32_t>(level[2]);
    }
}

// running[4j + c] = channel c of pixels 0 to j - 1 of a row of sums, for j
// up to the row's end (n / 3), as doubles (whole numbers below 2^52 here,
// exact; 2^52 added to their bits and taken away again converts them).  The
// three channels and the next pixel's red run in four lanes, stored aligned
// four to a pixel; the fourth lane is never read.
template <class Sum>
TALVINE_VIEW_CLONES void runningSums(const Sum* sum, size_t n, double* running) {
    typedef int64_t Int64x4 __attribute__((vector_size(32)));
    typedef Sum Sum4 __attribute__((vector_size(4 * sizeof(Sum))));
    const Int64x4 magic = {0x4330000000000000, 0x4330000000000000, 0x4330000000000000,
                           0x4330000000000000};
    Int64x4 total = {0, 0, 0, 0};
    for (size_t i = 0;; i += 3, running += 4) {
        const Int64x4 bits = total + magic;
        Double4 value;
        std::memcpy(&value, &bits, sizeof value);
        value -= 0x1p52;
        std::memcpy(running, &value, sizeof value);
        if (i == n) break;
        Sum4 next;
        std::memcpy(&next, sum + i, sizeof next);
        total += __builtin_convertvector(next, Int64x4);
    }
}

// Rows first: the picture's rows under an output row, weighted, summed into
// `Sum`s (a row's weights add up to the picture's height); then across, as
// differences of running sums.
template <class Sum>
void scaleRows(const uint8_t* rgb, ptrdiff_t stride, int width, int height, uint32_t* out,
               ptrdiff_t outStride, int outWidth, int outHeight, int first, int last) {
    const Axis across = axis(width, outWidth), down = axis(height, outHeight);
    const double norm = 1.0 / (static_cast<double>(width) * height);
    const size_t n = static_cast<size_t>(width) * 3;
    std::vector<Sum> sum(n + 1); // one past: the last pixel's fourth lane
    std::vector<double> running((n / 3 + 1) * 4);
    std::vector<Span> spans(static_cast<size_t>(outWidth));
    for (size_t x = 0; x < spans.size(); ++x) {
        const size_t from = static_cast<size_t>(across.from[x]);
        const size_t taps = static_cast<size_t>(across.from[x + 1]) - from;
        const size_t left = static_cast<size_t>(across.first[x]) * 4;
        // A single pixel: its weight on the left end, none elsewhere (the
        // right end is the same pixel, the middle empty).
        spans[x] = {left, left + (taps - 1) * 4, static_cast<double>(across.weight[from]),
                    taps > 1 ? static_cast<double>(across.weight[from + taps - 1]) : 0.0,
                    taps > 1 ? static_cast<double>(outWidth) : 0.0};
    }
    for (int y = first; y < last; ++y) {
        const size_t yi = static_cast<size_t>(y);
        const int top = down.first[yi], taps = down.from[yi + 1] - down.from[yi];
        for (int k = 0; k < taps; k += 4) {
            const uint8_t* rows[4];
            Sum w[4];
            for (int j = 0; j < 4; ++j) {
                const int tap = std::min(k + j, taps - 1); // past the last, unused
                rows[j] = rgb + (top + tap) * stride;
                w[j] = Sum{down.weight[static_cast<size_t>(down.from[yi] + tap)]};
            }
            accumulate4(sum.data(), rows[0], rows[1], rows[2], rows[3], w, std::min(4, taps - k), n,
                        k == 0);
        }
        runningSums(sum.data(), n, running.data());
        acrossRow(running.data(), spans.data(), outWidth, norm, out + y * outStride);
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

void tintRect(uint32_t* pixels, ptrdiff_t stride, int width, int height, int x, int y, int w, int h,
              uint32_t argb) {
    const int left = std::max(x, 0), top = std::max(y, 0);
    const int right = static_cast<int>(std::min<int64_t>(int64_t{x} + w, width));
    const int bottom = static_cast<int>(std::min<int64_t>(int64_t{y} + h, height));
    const uint32_t alpha = argb >> 24, keep = 255 - alpha;
    uint32_t laid[3];
    for (int c = 0; c < 3; ++c)
        laid[c] = (argb >> (16 - 8 * c) & 0xff) * alpha + 127;
    for (int row = top; row < bottom; ++row) {
        uint32_t* p = pixels + row * stride;
        for (int col = left; col < right; ++col) {
            uint32_t pixel = p[col] & 0xff000000u;
            for (int c = 0; c < 3; ++c) {
                const int shift = 16 - 8 * c;
                pixel |= (laid[c] + (p[col] >> shift & 0xff) * keep) / 255 << shift;
            }
            p[col] = pixel;
        }
    }
}

} // namespace talvine::editor
