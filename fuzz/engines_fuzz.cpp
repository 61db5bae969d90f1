// The engines' fast paths against their plain 80-bit loops on arbitrary
// parameters.  Each input becomes one run: an engine (tilt, distortion,
// perspective, smoothed or nearest resampling), a kernel (one the processor
// lacks falls back to the best it has), a thread count of 1 to 8, a small
// picture (at most 64 x 64, the resampling's result at most 96 x 96, so an
// input takes milliseconds even under the sanitizers) of bytes from the
// input, noise, 0/1 ties or stripes, and parameters that reach the cases
// the fast paths' margins exist for: centres up to the ends of 32 bits with
// angles that bring the picture back onto itself, any long double angle
// (NaN, infinities, denormals), rates and vertical corrections in and out
// of range, corners anywhere, sheared and near-parallel trapezoids.  The
// public function and its reference loop start from the same destination
// bytes; they must return alike (or throw alike) and leave identical bytes,
// else the target aborts with the run's parameters.
#include "HostStreams.h"
#include "engines/CorrDistor.h"
#include "engines/Dispatch.h"
#include "engines/ModifAngle.h"
#include "engines/Parallel.h"
#include "engines/Perspective.h"
#include "engines/TailleImg.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using talvine::engines::Kernel;
using talvine::engines::Sampling;
namespace engines = talvine::engines;

talvine::fuzz::HostStreams gStreams;
using Pixels = std::vector<TPtImg>;

Pixels picture(FuzzedDataProvider& in, int32_t w, int32_t h) {
    Pixels out(static_cast<size_t>(int64_t{w} * h));
    auto* bytes = reinterpret_cast<uint8_t*>(out.data());
    const size_t n = out.size() * 3;
    const int kind = in.ConsumeIntegralInRange(0, 3);
    std::mt19937 rng(in.ConsumeIntegral<uint32_t>());
    const uint8_t a = in.ConsumeIntegral<uint8_t>(), b = in.ConsumeIntegral<uint8_t>();
    if (kind == 0) { // the input's own bytes, repeated
        const std::vector<uint8_t> raw = in.ConsumeBytes<uint8_t>(std::min<size_t>(n, 192));
        for (size_t i = 0; i < n; ++i)
            bytes[i] = raw.empty() ? a : raw[i % raw.size()];
    } else {
        for (size_t i = 0; i < n; ++i) {
            const size_t x = (i / 3) % static_cast<size_t>(w), y = (i / 3) / static_cast<size_t>(w);
            bytes[i] = kind == 1 ? static_cast<uint8_t>(rng())
                       : kind == 2
                           ? static_cast<uint8_t>(a + (rng() & 1))
                           : static_cast<uint8_t>(((x + (b & 1 ? y : 0)) % 2 ? b : a) + i % 3);
        }
    }
    return out;
}

int32_t anyInt32(FuzzedDataProvider& in, int32_t lo, int32_t hi) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
        return INT32_MIN;
    case 1:
        return INT32_MAX;
    case 2:
        return in.ConsumeIntegral<int32_t>();
    default:
        return in.ConsumeIntegralInRange(lo, hi);
    }
}

Sampling sampling(FuzzedDataProvider& in) {
    return in.ConsumeBool() ? Sampling::Bilinear : Sampling::Nearest;
}

char gWhat[512];

[[noreturn]] void fail(const char* engine) {
    dprintf(gStreams.errorFd(), "engines check failed: %s: %s\n", engine, gWhat);
    std::abort();
}

// The fast run and the reference run from the same destination bytes: both
// return the same (or throw the same kind), and leave the same bytes.
template <class Fast, class Reference>
void compare(const char* engine, const Pixels& before, Fast&& fast, Reference&& reference) {
    Pixels a = before, b = before;
    int ra = -1, rb = -1; // 0/1: returned false/true; 2: invalid_argument; 3: domain_error
    auto run = [](auto&& f, Pixels& dst, int& result) {
        try {
            result = f(dst.data()) ? 1 : 0;
        } catch (const std::invalid_argument&) {
            result = 2;
        } catch (const std::domain_error&) {
            result = 3;
        }
    };
    gStreams.watch(engine, [&] { run(fast, a, ra); });
    run(reference, b, rb);
    if (ra != rb) {
        std::snprintf(gWhat + std::strlen(gWhat), sizeof gWhat - std::strlen(gWhat),
                      " (results %d and %d)", ra, rb);
        fail(engine);
    }
    if (!a.empty() && std::memcmp(a.data(), b.data(), a.size() * sizeof(TPtImg)) != 0) {
        for (size_t i = 0; i < a.size(); ++i)
            if (std::memcmp(&a[i], &b[i], sizeof(TPtImg)) != 0) {
                std::snprintf(gWhat + std::strlen(gWhat), sizeof gWhat - std::strlen(gWhat),
                              " (first difference at pixel %zu)", i);
                break;
            }
        fail(engine);
    }
}

void tilt(FuzzedDataProvider& in, int32_t w, int32_t h, const Pixels& src, const Pixels& before) {
    const talvine::Point centre{anyInt32(in, -2 * w, 3 * w), anyInt32(in, -2 * h, 3 * h)};
    long double angle = 0;
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: { // any 80-bit value: NaN, infinities, denormals, huge turns
        unsigned char raw[sizeof(long double)] = {};
        const std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(10);
        if (!bytes.empty()) std::memcpy(raw, bytes.data(), bytes.size());
        std::memcpy(&angle, raw, sizeof angle);
        break;
    }
    case 1:
        angle = in.ConsumeFloatingPointInRange<double>(-4, 4);
        break;
    case 2: { // the line through two points, as the dialog measures it
        const talvine::Point p1{anyInt32(in, 0, w), anyInt32(in, 0, h)};
        const talvine::Point p2{anyInt32(in, 0, w), anyInt32(in, 0, h)};
        angle = engines::tiltAngle(p1, p2).value_or(0.0L);
        break;
    }
    default: { // a turn that brings the picture back near itself: shift / distance
        const long double distance = hypotl(static_cast<long double>(centre.x) - w / 2.0L,
                                            static_cast<long double>(centre.y) - h / 2.0L);
        const long double shift =
            in.ConsumeIntegralInRange(-3 * w, 3 * w) + in.ConsumeIntegral<uint16_t>() / 65536.0L;
        angle = distance > 0 ? shift / distance : 0;
        if (in.ConsumeBool()) angle += 6.283185307179586476925286766559L;
        break;
    }
    }
    const engines::TiltParams p{centre, angle, sampling(in)};
    std::snprintf(gWhat, sizeof gWhat, "%dx%d centre %d,%d angle %La bilinear %d", w, h, centre.x,
                  centre.y, angle, p.sampling == Sampling::Bilinear);
    compare(
        "tilt", before, [&](TPtImg* d) { return engines::tilt(src.data(), d, w, h, p); },
        [&](TPtImg* d) { return engines::reference::tilt(src.data(), d, w, h, p); });
}

void distortion(FuzzedDataProvider& in, int32_t w, int32_t h, const Pixels& src,
                const Pixels& before) {
    const int32_t rate = in.ConsumeIntegralInRange(0, 15) == 0
                             ? in.ConsumeIntegral<int32_t>()
                             : in.ConsumeIntegralInRange(-100, 100);
    const engines::DistortionParams p{
        rate, in.ConsumeBool() ? engines::DistortionLaw::Square : engines::DistortionLaw::Linear,
        sampling(in)};
    std::snprintf(gWhat, sizeof gWhat, "%dx%d rate %d law %d bilinear %d", w, h, rate,
                  static_cast<int>(p.law), p.sampling == Sampling::Bilinear);
    compare(
        "distortion", before,
        [&](TPtImg* d) {
            engines::correctDistortion(src.data(), d, w, h, p);
            return true;
        },
        [&](TPtImg* d) {
            engines::reference::correctDistortion(src.data(), d, w, h, p);
            return true;
        });
}

void perspective(FuzzedDataProvider& in, int32_t w, int32_t h, const Pixels& src,
                 const Pixels& before) {
    engines::Corners c;
    auto i32 = [](int64_t v) {
        return static_cast<int32_t>(std::max<int64_t>(INT32_MIN, std::min<int64_t>(INT32_MAX, v)));
    };
    switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0: { // anywhere
        auto x = [&] { return anyInt32(in, -w, 2 * w); };
        auto y = [&] { return anyInt32(in, -h, 2 * h); };
        c = {{x(), y()}, {x(), y()}, {x(), y()}, {x(), y()}};
        break;
    }
    default: { // a sheared parallelogram, its sides off parallel by a few units
        const int64_t scale = in.ConsumeBool() ? in.ConsumeIntegralInRange<int64_t>(1, 8)
                                               : in.ConsumeIntegralInRange<int64_t>(1, 1 << 26);
        const int64_t bottom = w * scale, x0 = in.ConsumeIntegralInRange(-w, w) * scale;
        const int64_t shear = in.ConsumeIntegralInRange(-w, w) * in.ConsumeIntegralInRange(1, 8);
        const int64_t off = in.ConsumeIntegralInRange(-3, 3);
        const int64_t top = -in.ConsumeIntegralInRange<int64_t>(0, h) * scale;
        const int64_t base = h * scale / 2 + in.ConsumeIntegralInRange(0, h);
        c = {{i32(x0 + shear), i32(top)},
             {i32(x0 + shear + bottom + off), i32(top + in.ConsumeIntegralInRange(-1, 1))},
             {i32(x0 + bottom), i32(base)},
             {i32(x0), i32(base + in.ConsumeIntegralInRange(-1, 1))}};
        break;
    }
    }
    const int32_t vertical = in.ConsumeIntegralInRange(0, 15) == 0
                                 ? in.ConsumeIntegralInRange(-3, 14)
                                 : (in.ConsumeBool() ? in.ConsumeIntegralInRange(1, 10) : 0);
    const engines::PerspectiveParams p{c, vertical, sampling(in)};
    std::snprintf(gWhat, sizeof gWhat,
                  "%dx%d corners %d,%d %d,%d %d,%d %d,%d vertical %d bilinear %d", w, h, c.hg.x,
                  c.hg.y, c.hd.x, c.hd.y, c.bd.x, c.bd.y, c.bg.x, c.bg.y, vertical,
                  p.sampling == Sampling::Bilinear);
    compare(
        "perspective", before,
        [&](TPtImg* d) { return engines::correctPerspective(src.data(), d, w, h, p); },
        [&](TPtImg* d) { return engines::reference::correctPerspective(src.data(), d, w, h, p); });
}

void resize(FuzzedDataProvider& in, int32_t w, int32_t h, const Pixels& src, bool smoothed) {
    const int32_t nw = in.ConsumeIntegralInRange(0, 96), nh = in.ConsumeIntegralInRange(0, 96);
    const Pixels before(static_cast<size_t>(int64_t{nw} * nh), TPtImg{{7, 7, 7}});
    std::snprintf(gWhat, sizeof gWhat, "%dx%d to %dx%d", w, h, nw, nh);
    auto fast = smoothed ? engines::resizeSmoothed : engines::resizeNearest;
    auto reference =
        smoothed ? engines::reference::resizeSmoothed : engines::reference::resizeNearest;
    compare(
        smoothed ? "smoothed resampling" : "nearest resampling", before,
        [&](TPtImg* d) {
            fast(src.data(), w, h, d, nw, nh);
            return true;
        },
        [&](TPtImg* d) {
            reference(src.data(), w, h, d, nw, nh);
            return true;
        });
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    gStreams.start();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int engine = in.ConsumeIntegralInRange(0, 4);
    const Kernel kernel = static_cast<Kernel>(in.ConsumeIntegralInRange(0, 2));
    if (!engines::setKernel(kernel)) engines::setKernel(Kernel::Baseline);
    engines::setThreadCount(in.ConsumeIntegralInRange(1, 8));
    // Resampling needs a source pixel; the others take empty pictures too.
    const int32_t w = in.ConsumeIntegralInRange(engine >= 3 ? 1 : 0, 64);
    const int32_t h = in.ConsumeIntegralInRange(engine >= 3 ? 1 : 0, 64);
    const Pixels src = picture(in, w, h);
    std::mt19937 rng(static_cast<uint32_t>(w * 131 + h));
    Pixels before(src.size());
    for (TPtImg& p : before)
        p = TPtImg{{static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()),
                    static_cast<uint8_t>(rng())}};
    switch (engine) {
    case 0:
        tilt(in, w, h, src, before);
        break;
    case 1:
        distortion(in, w, h, src, before);
        break;
    case 2:
        perspective(in, w, h, src, before);
        break;
    default:
        resize(in, w, h, src, engine == 3);
        break;
    }
    return 0;
}
