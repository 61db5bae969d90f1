// The floating-point settings that the library's arithmetic stands on: the
// x87 unit's for the 80-bit formulas, the SSE unit's (MXCSR) for the
// double-precision fast paths, whose tie tests assume rounding to nearest.
//
// A host may call in with the x87 control word it likes: compilers that have
// long double as double set the precision to 53 bits, which silently rounds
// every long double operation to a double's mantissa, and some runtimes
// unmask floating-point exceptions.  An entry point that computes holds an
// ExtendedPrecision for the length of its work: 64-bit precision, rounding
// to nearest, every exception masked (the x87 unit's initial state), and the
// caller's control word back when it returns, whatever path it leaves by.
// The same goes for MXCSR: rounding to nearest, every exception masked,
// flush-to-zero and denormals-are-zero off, and the host's register back.
// A call back into the host holds a HostPrecision: the host's own words while
// its code runs.  Entries nest: one reached from inside another (a window
// procedure from a control's, while the library's word is in force) keeps
// the outer one's host word; one reached from host code that the library
// called (a message loop's dispatch under HostPrecision) takes that code's
// word as the host's.  Input from the host's loop (a click, a key, a tick)
// enters the library as an entry point does (tk::Application::dispatch).
// Elsewhere than on x86 both do nothing.
#pragma once

#include <cstdint>

namespace talvine {

#if defined(__i386__) || defined(__x86_64__)

// The control word FNINIT sets: all six exceptions masked, 64-bit precision,
// round to nearest.
inline constexpr uint16_t kExtendedControlWord = 0x037F;

inline uint16_t x87ControlWord() {
    uint16_t word;
    __asm__ volatile("fnstcw %0" : "=m"(word));
    return word;
}

inline void setX87ControlWord(uint16_t word) {
    __asm__ volatile("fldcw %0" : : "m"(word));
}

#if defined(__SSE__)
// MXCSR at power-up: all six exceptions masked, round to nearest, no
// flush-to-zero, no denormals-are-zero, no flags.
inline constexpr uint32_t kLibraryMxcsr = 0x1F80;

inline uint32_t mxcsr() {
    uint32_t value;
    __asm__ volatile("stmxcsr %0" : "=m"(value));
    return value;
}

inline void setMxcsr(uint32_t value) {
    __asm__ volatile("ldmxcsr %0" : : "m"(value));
}
#else
inline constexpr uint32_t kLibraryMxcsr = 0;
inline uint32_t mxcsr() {
    return 0;
}
inline void setMxcsr(uint32_t) {}
#endif

// Both units' settings, as one value: what an entry saves and gives back,
// and what a worker thread takes over from the thread that hands it work.
struct FloatingPointState {
    uint16_t x87;
    uint32_t sse;
};

inline FloatingPointState floatingPointState() {
    return {x87ControlWord(), mxcsr()};
}

namespace detail {
// The settings of the host that called the innermost entry point now
// running (plain data: one user-interface thread).
inline FloatingPointState gHost{kExtendedControlWord, kLibraryMxcsr};
// Whether the library's settings are in force: inside an entry and not in
// the host's code it called.
inline bool gInside = false;
// Moves from `from` to `to`; pending x87 exception flags are cleared first
// when `to` unmasks any, so that none raised under `from` traps later (SSE
// exceptions trap only on the instruction that raises them).
inline void switchTo(FloatingPointState from, FloatingPointState to) {
    if (from.x87 != to.x87) {
        if ((to.x87 & 0x3F) != 0x3F) __asm__ volatile("fnclex");
        setX87ControlWord(to.x87);
    }
    if (from.sse != to.sse) setMxcsr(to.sse);
}
} // namespace detail

inline void setFloatingPointState(FloatingPointState state) {
    detail::switchTo(floatingPointState(), state);
}

class ExtendedPrecision {
  public:
    ExtendedPrecision()
        : saved_(floatingPointState()), outer_(detail::gHost), wasInside_(detail::gInside) {
        if (!wasInside_) detail::gHost = saved_;
        detail::gInside = true;
        // Only the x87 exception masks, precision and rounding are ours to
        // set, its reserved bits stay as they were; MXCSR's flags start clear
        // (none of its bits is reserved below 16).
        constexpr uint16_t kOurs = 0x0F3F;
        detail::switchTo(
            saved_, {static_cast<uint16_t>((saved_.x87 & ~kOurs) | (kExtendedControlWord & kOurs)),
                     kLibraryMxcsr});
    }
    ~ExtendedPrecision() {
        detail::switchTo(floatingPointState(), saved_);
        detail::gHost = outer_;
        detail::gInside = wasInside_;
    }
    ExtendedPrecision(const ExtendedPrecision&) = delete;
    ExtendedPrecision& operator=(const ExtendedPrecision&) = delete;

  private:
    FloatingPointState saved_;
    FloatingPointState outer_;
    bool wasInside_;
};

class HostPrecision {
  public:
    HostPrecision() : ours_(floatingPointState()), wasInside_(detail::gInside) {
        detail::gInside = false;
        detail::switchTo(ours_, detail::gHost);
    }
    ~HostPrecision() {
        detail::switchTo(floatingPointState(), ours_);
        detail::gInside = wasInside_;
    }
    HostPrecision(const HostPrecision&) = delete;
    HostPrecision& operator=(const HostPrecision&) = delete;

  private:
    FloatingPointState ours_;
    bool wasInside_;
};

#else

struct FloatingPointState {};
inline FloatingPointState floatingPointState() {
    return {};
}
inline void setFloatingPointState(FloatingPointState) {}

class ExtendedPrecision {
  public:
    ExtendedPrecision() = default;
    ExtendedPrecision(const ExtendedPrecision&) = delete;
    ExtendedPrecision& operator=(const ExtendedPrecision&) = delete;
};

class HostPrecision {
  public:
    HostPrecision() = default;
    HostPrecision(const HostPrecision&) = delete;
    HostPrecision& operator=(const HostPrecision&) = delete;
};

#endif

} // namespace talvine
