// The witness finder: searches each engine's parameters for cases where the
// double (or float) value of a position or a blend lands on the other side
// of a truncation or a rounding than the 80-bit one, in a pixel whose bytes
// then change: pixels that only the fast paths' fallback to the exact
// formula gets right (tests/witness/Witness.h has the arithmetic).  It
// prints the strongest cases as C++ table rows for tests/witness_test.cpp:
// those with the most such pixels, and those that need the largest share of
// their margin (`need`: the test still fails with the margin scaled by any
// factor below it).
//
//   talvine_witness_finder [ROUNDS] [--check]
//
// ROUNDS (default 1, some seconds) multiplies the number of candidates
// tried; the table in witness_test.cpp came from 20 (three minutes).  With --check each
// search stops at its first witness, and the finder fails unless every
// engine has one (ctest runs it so).  The search is seeded: the same ROUNDS
// give the same rows.
//
// Where each engine's witnesses come from:
//   tilt         a centre up to 2^31 pixels away and an angle that brings the
//                picture back onto itself: dx*cos and the centre cancel to
//                a few pixels, leaving the double rounding of 2^31 (2^-22);
//                with an angle of (n + u)/y1, every pixel's fraction is u,
//                and on stripes of 252 and 0 every blend sits on a tie
//                (the same cases, and the perspective's, again count the
//                wrong pixels of the AVX-512 kernels' fixed-point groups
//                alone: "tilt, fixed point", "perspective, fixed point")
//   distortion   the top-left corner of an even picture is at radius Rmax,
//                where the law is the identity: its offset is an exact
//                integer in reals, and 80 bits and double miss it apart
//   perspective  small integer corners, sheared and near-parallel
//                trapezoids, whose columns are exact integers in reals at
//                many pixels
//   resampling   ratios whose fractions u = j/N make d*u a half-integer for
//                some difference d of two neighbours: stripes of a and a + d
//                give blends within 1e-15 of a tie
#include "witness/Witness.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string>

namespace {

using namespace talvine;
using namespace talvine::witness;

template <class Case> struct Found {
    Case c;
    Knob knob;
    int64_t pixels = 0;
    double need = 0;
};

// The largest scale of the knob's margin at which the case still has a wrong
// pixel, found by halving in the exponent: 2^-40 .. 1.  Zero when none.
template <class Case> double needOf(const Case& c, Knob knob) {
    if (escapes(c, Scales::scaled(knob, 0x1p-40)).most() == 0) return 0;
    if (escapes(c, Scales::scaled(knob, 1.0)).most() != 0) {
        std::fprintf(stderr, "a wrong pixel with the engine's own margin: a real mismatch\n");
        return 1;
    }
    double lo = -40, hi = 0; // escapes at 2^lo, none at 2^hi
    for (int i = 0; i < 16; ++i) {
        const double mid = (lo + hi) / 2;
        (escapes(c, Scales::scaled(knob, std::exp2(mid))).most() != 0 ? lo : hi) = mid;
    }
    return std::exp2(lo);
}

const char* knobName(Knob k) {
    return k == Knob::Position ? "Knob::Position"
           : k == Knob::Blend  ? "Knob::Blend"
                               : "Knob::Single";
}
const char* samplingName(Sampling s) {
    return s == Sampling::Nearest ? "Sampling::Nearest" : "Sampling::Bilinear";
}
std::string pictureText(const PictureSpec& p) {
    const char* names[] = {"Pattern::Random", "Pattern::Ties", "Pattern::Stripes",
                           "Pattern::Checker"};
    char text[96];
    std::snprintf(text, sizeof text, "{%s, %u, %d, %d}", names[static_cast<int>(p.pattern)], p.seed,
                  p.a, p.b);
    return text;
}
std::string int32Text(int32_t v) {
    return v == INT32_MIN ? "INT32_MIN" : std::to_string(v);
}
std::string pointText(Point p) {
    return "{" + int32Text(p.x) + ", " + int32Text(p.y) + "}";
}

std::string caseText(const TiltCase& c) {
    char angle[64];
    std::snprintf(angle, sizeof angle, "%LaL", c.angle);
    return "{" + std::to_string(c.w) + ", " + std::to_string(c.h) + ", " + pointText(c.centre) +
           ", " + angle + ", " + samplingName(c.sampling) + ", " + pictureText(c.picture) + "}";
}
std::string caseText(const DistortionCase& c) {
    return "{" + std::to_string(c.w) + ", " + std::to_string(c.h) + ", " + std::to_string(c.rate) +
           ", " +
           (c.law == engines::DistortionLaw::Linear ? "engines::DistortionLaw::Linear"
                                                    : "engines::DistortionLaw::Square") +
           ", " + samplingName(c.sampling) + ", " + pictureText(c.picture) + "}";
}
std::string caseText(const PerspectiveCase& c) {
    const engines::Corners& k = c.corners;
    return "{" + std::to_string(c.w) + ", " + std::to_string(c.h) + ", {" + pointText(k.hg) + ", " +
           pointText(k.hd) + ", " + pointText(k.bd) + ", " + pointText(k.bg) + "}, " +
           std::to_string(c.vertical) + ", " + samplingName(c.sampling) + ", " +
           pictureText(c.picture) + "}";
}
std::string caseText(const ResizeCase& c) {
    return "{" + std::to_string(c.w) + ", " + std::to_string(c.h) + ", " + std::to_string(c.nw) +
           ", " + std::to_string(c.nh) + ", " + pictureText(c.picture) + "}";
}

Sampling samplingOf(const TiltCase& c) {
    return c.sampling;
}
std::string caseText(const TiltFixedCase& c) {
    return "{" + caseText(c.engine) + "}";
}
Sampling samplingOf(const TiltFixedCase& c) {
    return c.engine.sampling;
}
std::string caseText(const PerspectiveFixedCase& c) {
    return "{" + caseText(c.engine) + "}";
}
Sampling samplingOf(const DistortionCase& c) {
    return c.sampling;
}
Sampling samplingOf(const PerspectiveCase& c) {
    return c.sampling;
}
Sampling samplingOf(const PerspectiveFixedCase& c) {
    return c.engine.sampling;
}
Sampling samplingOf(const ResizeCase&) {
    return Sampling::Bilinear;
}

// One engine's search: candidates from `make`, each tried with every knob at
// scale 0; the witnesses kept, then the strongest printed.
template <class Case> class Search {
  public:
    Search(const char* name, std::vector<Knob> knobs, bool firstOnly)
        : name_(name), knobs_(std::move(knobs)), firstOnly_(firstOnly) {}

    // With --check the search stops at its first witness.
    bool done() const { return firstOnly_ && !found_.empty(); }

    void tryCase(const Case& c) {
        ++tried_;
        for (Knob k : knobs_) {
            const int64_t n = escapes(c, Scales::scaled(k, 0)).most();
            if (n > 0) found_.push_back({c, k, n, 0});
        }
    }

    bool any() const { return !found_.empty(); }

    // The `perKnob` cases with the most pixels and the `perKnob` with the
    // largest need, for each knob.
    void print(size_t perKnob) {
        std::printf("// %s: %zu witnesses among %lld cases\n", name_, found_.size(),
                    static_cast<long long>(tried_));
        for (Knob k : knobs_) {
            std::vector<Found<Case>*> mine;
            for (Found<Case>& f : found_)
                if (f.knob == k) mine.push_back(&f);
            if (mine.empty()) continue;
            std::sort(mine.begin(), mine.end(),
                      [](auto* a, auto* b) { return a->pixels > b->pixels; });
            // Need for the most populous few hundred, and for the most
            // populous hundred of each sampling (it costs a search each).
            std::vector<Found<Case>*> pool(mine.begin(),
                                           mine.begin() + std::min<size_t>(300, mine.size()));
            for (Sampling sampling : {Sampling::Nearest, Sampling::Bilinear})
                for (size_t i = 0, n = 0; i < mine.size() && n < 100; ++i)
                    if (samplingOf(mine[i]->c) == sampling) {
                        ++n;
                        if (std::find(pool.begin(), pool.end(), mine[i]) == pool.end())
                            pool.push_back(mine[i]);
                    }
            mine = pool;
            for (Found<Case>* f : mine)
                f->need = needOf(f->c, k);
            std::vector<Found<Case>*> chosen(mine.begin(),
                                             mine.begin() + std::min(perKnob, mine.size()));
            std::sort(mine.begin(), mine.end(), [](auto* a, auto* b) { return a->need > b->need; });
            for (size_t i = 0, added = 0; i < mine.size() && added < perKnob; ++i)
                if (std::find(chosen.begin(), chosen.end(), mine[i]) == chosen.end()) {
                    chosen.push_back(mine[i]);
                    ++added;
                }
            // And the most populous of each sampling not yet chosen.
            for (Sampling sampling : {Sampling::Nearest, Sampling::Bilinear}) {
                auto of = [&](const Found<Case>* f) { return samplingOf(f->c) == sampling; };
                if (std::any_of(chosen.begin(), chosen.end(), of)) continue;
                Found<Case>* best = nullptr;
                for (Found<Case>* f : mine)
                    if (of(f) && (!best || f->pixels > best->pixels)) best = f;
                if (best) chosen.push_back(best);
            }
            for (Found<Case>* f : chosen)
                std::printf("    {%s, %s, %" PRId64 ", %.3g},\n", caseText(f->c).c_str(),
                            knobName(k), f->pixels, f->need);
        }
    }

  private:
    const char* name_;
    std::vector<Knob> knobs_;
    std::vector<Found<Case>> found_;
    bool firstOnly_;
    int64_t tried_ = 0;
};

std::mt19937_64 rng(20240611);

int64_t uniform(int64_t lo, int64_t hi) {
    return std::uniform_int_distribution<int64_t>(lo, hi)(rng);
}
double real(double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng);
}
Sampling anySampling() {
    return uniform(0, 1) ? Sampling::Bilinear : Sampling::Nearest;
}
PictureSpec randomPicture() {
    if (uniform(0, 3) == 0)
        return {Pattern::Ties, static_cast<uint32_t>(uniform(1, 1000)),
                static_cast<uint8_t>(uniform(0, 1) ? 0 : 254), 0};
    return {Pattern::Random, static_cast<uint32_t>(uniform(1, 1000)), 0, 0};
}

// Stripes of 252 and 0 (and 253, 1; 254, 2): the blend of a row whose
// fractions hardly change is the same value at every pixel of it, so a row
// near a tie gives a row of witnesses.
PictureSpec stripes() {
    return uniform(0, 1) ? PictureSpec{Pattern::Stripes, 0, 252, 0}
                         : PictureSpec{Pattern::Stripes, 0, 0, 252};
}

// Every tilt and perspective case is tried twice: as a witness for any of
// the engine's paths, and for the AVX-512 kernel's fixed-point groups alone.
template <class Case, class FixedCase> struct WithFixed {
    Search<Case>& any;
    Search<FixedCase>& fixed;
    bool done() const { return any.done() && fixed.done(); }
    void tryCase(const Case& c) {
        if (!any.done()) any.tryCase(c);
        if (!fixed.done()) fixed.tryCase({c});
    }
};

void searchTilt(WithFixed<TiltCase, TiltFixedCase> s, int64_t rounds) {
    for (int64_t i = 0; i < 3000 * rounds; ++i) {
        if (s.done()) return;
        TiltCase c;
        c.sampling = anySampling();
        c.picture = uniform(0, 1) ? stripes() : randomPicture();
        const int strategy = static_cast<int>(i % 4);
        if (strategy == 3) {
            // Coherent blends: a centre far away on both axes and an angle
            // of about (n + u)/y1, found by Newton's method, so that every
            // pixel's column fraction is within about 1e-8 of u, where the
            // stripes' blend 252*u (or 252*(1 - u)) is a half-integer: the
            // whole picture sits on a tie, and the double positions (off by
            // 1e-7) or the float fractions (off by 2^-25) fall either side.
            c.w = static_cast<int32_t>(uniform(128, 256));
            c.h = static_cast<int32_t>(uniform(16, 32));
            const int64_t fx = uniform(int64_t{1} << 29, INT32_MAX);
            const int64_t fy = uniform(int64_t{1} << 29, INT32_MAX);
            c.centre = {static_cast<int32_t>(uniform(0, 1) ? fx : -fx),
                        static_cast<int32_t>(uniform(0, 1) ? fy : -fy)};
            // One case in three puts every column near an integer instead:
            // the column whose position crosses 0 changes its base pixel.
            const bool whole = uniform(0, 2) == 0;
            const long double u =
                (whole ? 1 : 1 - (uniform(0, 6) + 0.5L) / 252) + real(-3e-8, 3e-8);
            const long double x1 = c.centre.x, y1 = c.centre.y, xc = c.w / 2, yc = c.h / 2;
            long double a = (uniform(-2, 2) + u) / (y1 - yc);
            for (int k = 0; k < 4; ++k) {
                const long double X = x1 + ((xc - x1) * cosl(a) - (yc - y1) * sinl(a));
                a -= (X - (floorl(X) + u)) / -((xc - x1) * sinl(a) + (yc - y1) * cosl(a));
            }
            c.angle = a;
            c.sampling = whole && uniform(0, 1) ? Sampling::Nearest : Sampling::Bilinear;
            c.picture = whole ? randomPicture() : stripes();
            s.tryCase(c);
            continue;
        }
        if (strategy == 0) {
            // A centre nearby and a turn of a few 1e-6: fractions that change
            // slowly along a row, blended in float over rows of sixteen.
            c.w = static_cast<int32_t>(uniform(128, 256));
            c.h = static_cast<int32_t>(uniform(16, 40));
            c.centre = {static_cast<int32_t>(uniform(0, c.w)),
                        static_cast<int32_t>(uniform(0, c.h))};
            c.angle = real(1e-6, 3e-5) * (uniform(0, 1) ? 1 : -1);
            c.sampling = Sampling::Bilinear;
            c.picture = stripes();
            s.tryCase(c);
            continue;
        }
        c.w = static_cast<int32_t>(strategy == 1 ? uniform(16, 80) : uniform(128, 256));
        c.h = static_cast<int32_t>(strategy == 1 ? uniform(16, 64) : uniform(16, 40));
        // A centre far away on one axis or both, up to the ends of 32 bits.
        auto far = [&]() -> int32_t {
            switch (uniform(0, 3)) {
            case 0:
                return INT32_MIN;
            case 1:
                return INT32_MAX;
            default: {
                const int64_t v = uniform(int64_t{1} << 28, INT32_MAX);
                return static_cast<int32_t>(uniform(0, 1) ? v : -v);
            }
            }
        };
        const int axes = static_cast<int>(uniform(0, 2));
        c.centre = {axes == 1 ? static_cast<int32_t>(uniform(0, c.w)) : far(),
                    axes == 2 ? static_cast<int32_t>(uniform(0, c.h)) : far()};
        // An angle that moves the picture by a few of its sides, R*a; by a
        // whole number of pixels, half the time, so that every position
        // lies near an integer.
        const double R = std::hypot(static_cast<double>(c.centre.x) - c.w / 2.0,
                                    static_cast<double>(c.centre.y) - c.h / 2.0);
        double shift = real(-1.5, 1.5) * std::max(c.w, c.h);
        if (uniform(0, 1)) shift = std::round(shift);
        c.angle = static_cast<long double>(shift) / static_cast<long double>(R);
        if (uniform(0, 7) == 0) c.angle += 2 * std::numbers::pi_v<long double>;
        s.tryCase(c);
    }
}

void searchDistortion(Search<DistortionCase>& s, int64_t rounds) {
    for (int64_t i = 0; i < 2500 * rounds; ++i) {
        if (s.done()) return;
        DistortionCase c;
        // Mostly even sides: their top-left corner sits at radius Rmax.
        const bool even = uniform(0, 3) != 0;
        // One in three wide enough for the float blends' groups of sixteen
        // on either side of the centre.
        c.w = static_cast<int32_t>(uniform(0, 2) == 0 ? uniform(34, 140) : uniform(2, 70));
        c.h = static_cast<int32_t>(uniform(2, 70));
        if (even) {
            c.w += c.w % 2;
            c.h += c.h % 2;
        }
        do
            c.rate = static_cast<int32_t>(uniform(-100, 100));
        while (c.rate == 0);
        c.law = uniform(0, 1) ? engines::DistortionLaw::Square : engines::DistortionLaw::Linear;
        c.sampling = anySampling();
        c.picture = randomPicture();
        s.tryCase(c);
    }
}

void searchPerspective(WithFixed<PerspectiveCase, PerspectiveFixedCase> s, int64_t rounds) {
    for (int64_t i = 0; i < 2500 * rounds; ++i) {
        if (s.done()) return;
        PerspectiveCase c;
        c.w = static_cast<int32_t>(uniform(4, 64));
        c.h = static_cast<int32_t>(uniform(4, 48));
        const int kind = static_cast<int>(uniform(0, 2));
        auto i32 = [](int64_t v) { return static_cast<int32_t>(v); };
        if (kind == 0) { // small integer corners about the frame
            auto x = [&] { return i32(uniform(-c.w, 2 * c.w)); };
            auto y = [&] { return i32(uniform(-c.h, 2 * c.h)); };
            c.corners = {{x(), y()}, {x(), y()}, {x(), y()}, {x(), y()}};
        } else { // a parallelogram, sheared, with sides off parallel by 0 to 2
            const int64_t scale = kind == 1 ? uniform(1, 8) : uniform(1000, 100000000);
            const int64_t bottom = c.w * scale, x0 = uniform(-c.w, c.w) * scale;
            const int64_t shear = uniform(-c.w, c.w) * (kind == 1 ? scale : uniform(1, 3));
            const int64_t off = uniform(-2, 2);
            const int64_t top = -uniform(0, c.h) * scale, base = c.h * scale / 2 + uniform(0, c.h);
            c.corners = {{i32(x0 + shear), i32(top)},
                         {i32(x0 + shear + bottom + off), i32(top + uniform(-1, 1))},
                         {i32(x0 + bottom), i32(base)},
                         {i32(x0), i32(base + uniform(-1, 1))}};
        }
        c.vertical = uniform(0, 2) == 0 ? static_cast<int32_t>(uniform(1, 10)) : 0;
        c.sampling = anySampling();
        c.picture = randomPicture();
        s.tryCase(c);
    }
}

void searchResize(Search<ResizeCase>& s, int64_t rounds) {
    for (int64_t i = 0; i < 400 * rounds; ++i) {
        if (s.done()) return;
        ResizeCase c;
        c.w = static_cast<int32_t>(uniform(2, 200));
        c.nw = static_cast<int32_t>(uniform(2, 300));
        c.h = static_cast<int32_t>(uniform(2, 6));
        c.nh = uniform(0, 1) ? c.h : static_cast<int32_t>(uniform(2, 24));
        // The difference d of two neighbours that puts the most columns'
        // d*u within 1e-9 of a half-integer.
        const long double rx = static_cast<long double>(c.w) / c.nw;
        int best = 1, bestCount = -1;
        for (int d = 1; d <= 250; ++d) {
            int n = 0;
            for (int64_t x = 0; x < c.nw; ++x) {
                const long double fx = static_cast<long double>(x) * rx;
                const long double u = fx - static_cast<long double>(static_cast<int64_t>(fx));
                const long double t = d * u - floorl(d * u);
                n += fabsl(t - 0.5L) < 1e-9L;
            }
            if (n > bestCount) {
                bestCount = n;
                best = d;
            }
        }
        const int a = static_cast<int>(uniform(0, 253 - std::min(best, 253)));
        c.picture = {uniform(0, 1) ? Pattern::Stripes : Pattern::Checker, 0,
                     static_cast<uint8_t>(a), static_cast<uint8_t>(a + best)};
        s.tryCase(c);
    }
}

} // namespace

int main(int argc, char** argv) {
    int64_t rounds = 1;
    bool check = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--check") == 0)
            check = true;
        else
            rounds = std::max<int64_t>(1, std::atoll(argv[i]));
    }
    Search<TiltCase> tilt("tilt", {Knob::Position, Knob::Blend, Knob::Single}, check);
    Search<TiltFixedCase> tiltFixed("tilt, fixed point", {Knob::Position, Knob::Single}, check);
    Search<DistortionCase> distortion("distortion", {Knob::Position, Knob::Blend, Knob::Single},
                                      check);
    Search<PerspectiveCase> perspective("perspective", {Knob::Position, Knob::Blend, Knob::Single},
                                        check);
    Search<PerspectiveFixedCase> perspectiveFixed("perspective, fixed point",
                                                  {Knob::Position, Knob::Single}, check);
    Search<ResizeCase> resize("resampling", {Knob::Blend}, check);
    const auto start = std::chrono::steady_clock::now();
    searchTilt({tilt, tiltFixed}, rounds);
    searchDistortion(distortion, rounds);
    searchPerspective({perspective, perspectiveFixed}, rounds);
    searchResize(resize, rounds);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (check) {
        const bool all = tilt.any() && tiltFixed.any() && distortion.any() && perspective.any() &&
                         perspectiveFixed.any() && resize.any();
        std::printf("witnesses found: tilt %d (fixed point %d), distortion %d, perspective %d "
                    "(fixed point %d), resampling %d (%.1f s)\n",
                    tilt.any(), tiltFixed.any(), distortion.any(), perspective.any(),
                    perspectiveFixed.any(), resize.any(), seconds);
        return all ? 0 : 1;
    }
    std::printf("// talvine_witness_finder %lld: search %.1f s\n", static_cast<long long>(rounds),
                seconds);
    tilt.print(3);
    tiltFixed.print(3);
    distortion.print(3);
    perspective.print(3);
    perspectiveFixed.print(3);
    resize.print(3);
    return 0;
}
