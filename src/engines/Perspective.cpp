#include "engines/Perspective.h"

#include "engines/Dispatch.h"
#include "engines/FastBlend.h"
#include "engines/FastBlendAvx2.h"
#include "engines/FastBlendAvx512.h"
#include "engines/Parallel.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace talvine::engines {
namespace {

// Everything a run needs besides the pixels, checked before any pixel is
// written.
struct Plan {
    long double B;
    long double Vx;
    long double Vy;
    bool stretch;
};

// The source height of the destination row whose height is `f0`.
long double sourceHeight(const Plan& p, int64_t f0) {
    long double f = static_cast<long double>(f0);
    if (p.stretch) f = (sqrtl(p.B * 2 * f + 1) - 1) / p.B;
    return f;
}

long double sourceColumn(const Plan& p, long double f, int64_t x) {
    return ((p.Vy - f) * x + f * p.Vx) / p.Vy;
}

int64_t checkedCount(int32_t w, int32_t h, const PerspectiveParams& p) {
    if (p.vertical < 0 || p.vertical > 10)
        throw std::invalid_argument("vertical correction outside 0..10");
    if (w < 0 || h < 0) throw std::invalid_argument("negative picture size");
    const int64_t count = int64_t{w} * h;
    if (count > INT32_MAX) throw std::invalid_argument("picture too large");
    return count;
}

// Source heights stay within [0, 2H] for any accepted plan, so a row beyond
// +-2^31 cannot occur; a column beyond +-2^62 lies at least 2^32 pixels away
// from the picture whatever the row.  Positions past these bounds (NaN
// among them) have no source, and every accepted one converts to 64 bits
// without overflow: |row*W| < 2^62, |column| < 2^62.
constexpr long double kRowBound = 2147483648.0L;             // 2^31
constexpr long double kColumnBound = 4611686018427387904.0L; // 2^62

bool inBounds(long double rowPos, long double column) {
    return fabsl(rowPos) < kRowBound && fabsl(column) < kColumnBound;
}

std::optional<Plan> planOf(const PerspectiveParams& p, int32_t w, int32_t h) {
    const std::optional<Fuite> fuite = calculerFuite(p.corners, w);
    if (!fuite) return std::nullopt;
    Plan plan{fuite->B, fuite->Vx, fuite->Vy, p.vertical != 0};
    if (plan.stretch) {
        plan.B = p.vertical * plan.B / 10;
        if (plan.B == 0 || !std::isfinite(plan.B)) return std::nullopt;
    }
    // Every row, and the two ends of every row: along a row the column is a
    // monotone function of x (each rounded operation is monotone), so it is
    // finite throughout when it is finite at both ends.
    const int64_t W = w, H = h;
    for (int64_t y = 0; y < H; ++y) {
        const long double f = sourceHeight(plan, H - y);
        if (!std::isfinite(f) || !std::isfinite(H - f)) return std::nullopt;
        if (!std::isfinite(sourceColumn(plan, f, 0)) ||
            !std::isfinite(sourceColumn(plan, f, W - 1)))
            return std::nullopt;
    }
    return plan;
}

// The downward fraction of the source row: 1 - Frac(f), or 0 when f is whole.
long double rowFraction(long double f) {
    const long double fr = f - truncl(f);
    return fr != 0 ? 1 - fr : 0;
}

// Fast: Trunc by a conversion to 64 bits (one fisttp), exact within the
// bounds checked first; otherwise truncl.
template <bool Fast>
void sample(const TPtImg* src, TPtImg* dst, int64_t W, int64_t count, Sampling sampling,
            long double rowPos, long double column, long double fy) {
    if (!inBounds(rowPos, column)) return;
    const int64_t column64 = static_cast<int64_t>(Fast ? column : truncl(column));
    const int64_t u = static_cast<int64_t>(Fast ? rowPos : truncl(rowPos)) * W + column64;
    if (sampling == Sampling::Nearest) {
        if (u >= 0 && u <= count - 1) *dst = src[u];
        return;
    }
    if (u < 0 || u >= count - W) return;
    const long double tColumn = Fast ? static_cast<long double>(column64) : truncl(column);
    const long double fx = detail::fracUp(column, tColumn);
    // At u = count - W - 1 the diagonal neighbour is one past the end: the
    // last pixel stands in for it.
    const int64_t diag = u + W + 1 <= count - 1 ? u + W + 1 : count - 1;
    *dst = detail::blend(src[diag], src[u + 1], src[u], src[u + W], fx, fy);
}

} // namespace

namespace reference {

bool correctPerspective(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h,
                        const PerspectiveParams& p) {
    const int64_t count = checkedCount(w, h, p);
    if (count == 0) return false;
    const std::optional<Plan> plan = planOf(p, w, h);
    if (!plan) return false;
    const int64_t W = w, H = h;
    for (int64_t i = 0; i < count; ++i) {
        const int64_t x = i % W, y = i / W;
        const long double f = sourceHeight(*plan, H - y);
        const long double X = sourceColumn(*plan, f, x);
        sample<false>(src, dst + i, W, count, p.sampling, H - f, X,
                      p.sampling == Sampling::Bilinear ? rowFraction(f) : 0);
    }
    return true;
}

} // namespace reference

namespace {

// One destination row of a run: its exact 80-bit quantities, and the double
// ones of the fast path.
struct PerspectiveRow {
    long double vyf, fvx, rowPos, fy; // Vy - f, f*Vx, H - f, row fraction
    bool fast;                        // the row's truncation is known
    int64_t rowBase;                  // Trunc(H - f) * W
    double vyfD, fvxD, fyD, e, margin;
};

struct PerspectiveRun {
    const TPtImg* src;
    int64_t W, count;
    Sampling sampling;
    long double Vy;
    double VyD;
};

// The exact pixel, as the reference computes it.
inline void exactPixel(const PerspectiveRun& r, const PerspectiveRow& row, int64_t x, TPtImg* out) {
    sample<true>(r.src, out, r.W, r.count, r.sampling, row.rowPos, (row.vyf * x + row.fvx) / r.Vy,
                 row.fy);
}

// One pixel in double where double decides; returns whether the exact
// formula ran.
inline bool perspectivePixel(const PerspectiveRun& r, const PerspectiveRow& row, int64_t x,
                             TPtImg* out) {
    fast::Split sx;
    if (row.fast &&
        fast::splitPosition((row.vyfD * static_cast<double>(x) + row.fvxD) / r.VyD, row.e, sx)) {
        const int64_t u = row.rowBase + sx.trunc;
        if (r.sampling == Sampling::Nearest) {
            if (u >= 0 && u <= r.count - 1) *out = r.src[u];
            return false;
        }
        if (u < 0 || u >= r.count - r.W) return false;
        const int64_t diag = u + r.W + 1 <= r.count - 1 ? u + r.W + 1 : r.count - 1;
        if (fast::blendScreened(r.src[diag], r.src[u + 1], r.src[u], r.src[u + r.W], sx.frac,
                                row.fyD, row.margin, *out))
            return false;
    }
    exactPixel(r, row, x, out);
    return true;
}

int64_t perspectiveSpanBaseline(const PerspectiveRun r, const PerspectiveRow row, int64_t x0,
                                int64_t x1, TPtImg* out) {
    int64_t exact = 0;
    for (int64_t x = x0; x < x1; ++x)
        exact += perspectivePixel(r, row, x, out + x);
    return exact;
}

// Four bilinear pixels at x in AVX2; false when a lane needs the scalar path.
TALVINE_AVX2 inline bool perspectiveQuadAvx2(const PerspectiveRun& r, const PerspectiveRow& row,
                                             int64_t x, TPtImg* out) {
    const __m256d xs =
        _mm256_add_pd(_mm256_set1_pd(static_cast<double>(x)), _mm256_setr_pd(0, 1, 2, 3));
    const __m256d column = _mm256_div_pd(
        _mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(row.vyfD), xs), _mm256_set1_pd(row.fvxD)),
        _mm256_set1_pd(r.VyD));
    __m256d u, decided;
    const __m128i tx = fast::split4(column, _mm256_set1_pd(row.e), u, decided);
    if (_mm256_movemask_pd(decided) != 0xF) return false;
    const __m256i m = _mm256_add_epi64(_mm256_set1_epi64x(row.rowBase), _mm256_cvtepi32_epi64(tx));
    const __m256i inside = fast::inRange(m, 0, r.count - r.W);
    const __m256i safe = fast::inRange(m, 0, r.count - r.W - 2);
    if (_mm256_movemask_pd(_mm256_castsi256_pd(_mm256_xor_si256(inside, safe))) != 0) return false;
    if (_mm256_testz_si256(inside, inside)) return true; // no source: left as it was
    __m256d ok = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    const __m128i words =
        fast::blend4(r.src, r.W, _mm256_blendv_epi8(_mm256_setzero_si256(), m, inside), u,
                     _mm256_set1_pd(row.fyD), _mm256_set1_pd(row.margin), ok);
    ok = _mm256_or_pd(ok, _mm256_castsi256_pd(_mm256_xor_si256(inside, _mm256_set1_epi64x(-1))));
    if (_mm256_movemask_pd(ok) != 0xF) return false;
    fast::store4(out + x, _mm_blendv_epi8(fast::load4(out + x), words, fast::narrowMask(inside)));
    return true;
}

TALVINE_AVX2 int64_t perspectiveSpanAvx2(const PerspectiveRun r, const PerspectiveRow row,
                                         int64_t x0, int64_t x1, TPtImg* out) {
    int64_t exact = 0, x = x0;
    if (row.fast && r.sampling == Sampling::Bilinear)
        for (; x + 4 <= x1; x += 4)
            if (!perspectiveQuadAvx2(r, row, x, out))
                for (int k = 0; k < 4; ++k)
                    exact += perspectivePixel(r, row, x + k, out + x + k);
    for (; x < x1; ++x)
        exact += perspectivePixel(r, row, x, out + x);
    return exact;
}

// Eight bilinear pixels at x in AVX-512, under the rules of the quads.
TALVINE_AVX512 inline bool perspectiveOctAvx512(const PerspectiveRun& r, const PerspectiveRow& row,
                                                int64_t x, TPtImg* out) {
    const __m512d xs = _mm512_add_pd(_mm512_set1_pd(static_cast<double>(x)),
                                     _mm512_setr_pd(0, 1, 2, 3, 4, 5, 6, 7));
    const __m512d column = _mm512_div_pd(
        _mm512_add_pd(_mm512_mul_pd(_mm512_set1_pd(row.vyfD), xs), _mm512_set1_pd(row.fvxD)),
        _mm512_set1_pd(r.VyD));
    __m512d u;
    __mmask8 decided;
    const __m512i tx = fast::split8(column, _mm512_set1_pd(row.e), u, decided);
    if (decided != 0xFF) return false;
    const __m512i m = _mm512_add_epi64(_mm512_set1_epi64(row.rowBase), tx);
    const __mmask8 inside = fast::inRange8(m, 0, r.count - r.W);
    if (inside != fast::inRange8(m, 0, r.count - r.W - 2)) return false;
    if (inside == 0) return true; // no source: left as it was
    __mmask8 ok = 0xFF;
    const __m512i words = fast::blend8(r.src, r.W, r.count, _mm512_maskz_mov_epi64(inside, m), u,
                                       _mm512_set1_pd(row.fyD), _mm512_set1_pd(row.margin), ok);
    if ((ok | static_cast<__mmask8>(~inside)) != 0xFF) return false;
    fast::store8(out + x, _mm512_mask_blend_epi64(inside, fast::load8(out + x), words));
    return true;
}

TALVINE_AVX512 int64_t perspectiveSpanAvx512(const PerspectiveRun r, const PerspectiveRow row,
                                             int64_t x0, int64_t x1, TPtImg* out) {
    int64_t exact = 0, x = x0;
    if (row.fast && r.sampling == Sampling::Bilinear)
        for (; x + 8 <= x1; x += 8)
            if (!perspectiveOctAvx512(r, row, x, out))
                for (int k = 0; k < 8; ++k)
                    exact += perspectivePixel(r, row, x + k, out + x + k);
    for (; x < x1; ++x)
        exact += perspectivePixel(r, row, x, out + x);
    return exact;
}

constexpr int64_t kTileRows = 16, kTileColumns = 128;

} // namespace

// The same arithmetic with everything that depends on the row alone (the
// source height with its square root, Vy - f, f*Vx, H - f, its truncation
// and the row fraction) formed once per row in 80 bits, and the column
// X = ((Vy - f)*x + f*Vx) / Vy in double where double decides.
//
// Error of the double column: Vy - f, f*Vx and Vy rounded to double are
// each within 2^-53 of their 80-bit values (relatively); the product with
// the integer x, the sum and the quotient round once each by 2^-53, and the
// 80-bit expression itself rounds three times by 2^-64.  With
// Q = (|Vy - f|*W + |f*Vx|) / |Vy|, which bounds |X| and the quotient of
// every partial sum, |X_double - X_80| <= 5 * 2^-53 * Q + 2^-60 < 2^-50 * Q +
// 2^-60.  Each row takes E = 2^-48 * Q + 2^-52, which leaves room for the
// rounding of Q itself.  The row's own truncation and fraction stay 80-bit,
// so the fraction v is within 2^-54 of its value in double.  Rows whose
// height is beyond 2^31 go through the exact formula.
bool correctPerspective(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h,
                        const PerspectiveParams& p) {
    const int64_t count = checkedCount(w, h, p);
    if (count == 0) return false;
    const std::optional<Plan> plan = planOf(p, w, h);
    if (!plan) return false;
    const int64_t W = w, H = h;
    const PerspectiveRun run{src, W, count, p.sampling, plan->Vy, static_cast<double>(plan->Vy)};
    const Kernel kernel = activeKernel();
    // The span functions take the run and the row by value: copies of their
    // own, which their byte stores cannot alias, stay in registers.
    parallelFor(H, kTileRows, [&](int64_t rowBegin, int64_t rowEnd) {
        PerspectiveRow rows[kTileRows];
        for (int64_t y = rowBegin; y < rowEnd; ++y) {
            PerspectiveRow& row = rows[y - rowBegin];
            const long double f = sourceHeight(*plan, H - y);
            row.vyf = plan->Vy - f;
            row.fvx = f * plan->Vx;
            row.rowPos = H - f;
            row.fy = p.sampling == Sampling::Bilinear ? rowFraction(f) : 0;
            row.fast = fabsl(row.rowPos) < kRowBound;
            row.rowBase = row.fast ? static_cast<int64_t>(row.rowPos) * W : 0;
            row.vyfD = static_cast<double>(row.vyf);
            row.fvxD = static_cast<double>(row.fvx);
            row.fyD = static_cast<double>(row.fy);
            const double q = (std::fabs(row.vyfD) * static_cast<double>(W) + std::fabs(row.fvxD)) /
                             std::fabs(run.VyD);
            row.e = 0x1p-48 * q + 0x1p-52;
            row.margin = fast::blendMargin(row.e);
            row.fast = row.fast && std::isfinite(row.e);
        }
        int64_t exact = 0;
        for (int64_t x0 = 0; x0 < W; x0 += kTileColumns) {
            const int64_t x1 = std::min(W, x0 + kTileColumns);
            for (int64_t y = rowBegin; y < rowEnd; ++y) {
                TPtImg* out = dst + y * W;
                const PerspectiveRow& row = rows[y - rowBegin];
                exact += kernel == Kernel::Avx512 ? perspectiveSpanAvx512(run, row, x0, x1, out)
                         : kernel == Kernel::Avx2 ? perspectiveSpanAvx2(run, row, x0, x1, out)
                                                  : perspectiveSpanBaseline(run, row, x0, x1, out);
            }
        }
        fast::fallbacks.fetch_add(exact, std::memory_order_relaxed);
    });
    return true;
}

} // namespace talvine::engines
