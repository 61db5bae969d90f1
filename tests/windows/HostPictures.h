// What the Windows host programs share: the picture every command runs on,
// the end of a command as the host's callback reports it, the bytes of a
// picture, and a watch on the floating-point settings the host's code runs
// with.
#pragma once

#include "core/ExtendedPrecision.h"
#include "core/Host.h"
#include "core/ParamCoul.h"
#include "dialogs/Scripts.h"
#include "plugin/Library.h"
#include "toolkit/Automation.h"

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

namespace talvine::hosttest {

inline constexpr int32_t kW = 131, kH = 87;

// A picture of noise: every byte differs from its neighbours, so that any
// misplaced pixel shows.
inline PtsImg source() {
    PtsImg picture(kW * kH);
    std::mt19937 rng(20261208);
    auto* bytes = reinterpret_cast<uint8_t*>(picture.data());
    for (int64_t i = 0; i < int64_t{kW} * kH * 3; ++i)
        bytes[i] = static_cast<uint8_t>(rng() >> 24);
    return picture;
}

inline std::vector<uint8_t> bytesOf(const TPtImg* pixels, TDimImg size) {
    const auto* b = reinterpret_cast<const uint8_t*>(pixels);
    return std::vector<uint8_t>(b, b + int64_t{size.Largeur} * size.Hauteur * 3);
}

// The end of a command: its last rtImage with Fin 1.
struct Result {
    PtsImg picture;
    TDimImg size{};
    bool applied = false;
    bool ended = false;
};

inline Result* gResult = nullptr;

// The floating-point settings the host chose for its whole life, and the
// times its code found others: in a callback, or after an entry point or a
// piece of input returned.  MXCSR's flags are not settings.
inline FloatingPointState gHostSettings = floatingPointState();
inline int gForeignSettings = 0;

inline void checkHostSettings() {
#if defined(__i386__) || defined(__x86_64__)
    const FloatingPointState now = floatingPointState();
    if (now.x87 != gHostSettings.x87 || (now.sse & ~0x3Fu) != (gHostSettings.sse & ~0x3Fu))
        ++gForeignSettings;
#endif
}

inline void TALVINE_CALL onCallback(int32_t, int32_t pt1x, int32_t pt1y, int32_t, int32_t,
                                    int32_t nature, intptr_t param, int32_t modifiee, int32_t fin) {
    checkHostSettings();
    if (!gResult || nature != rtImage || !fin) return;
    gResult->ended = true;
    gResult->applied = (modifiee & 0xFF) != 0;
    gResult->size = {pt1x, pt1y};
    if (param) gResult->picture = PtsImg::share(reinterpret_cast<TPtImg*>(param));
}

// The instant commands and the modeless dialogs leave their result in the
// host's buffer; the resize hands over a new array.
inline void takeResult(Result& r, const PtsImg& buffer) {
    if (r.picture.handle() == buffer.handle() || !r.picture.handle()) r.picture = buffer;
}

using XchgDataFn = decltype(&::XchgData);

// Runs one command on a fresh copy of the source through `xchg`, with
// `drive` answering its dialog through the linked library's automation API
// (after the opening call, or queued before it for the modal ones).
using Drive = std::function<void(tk::Automation&, PtsImg&)>;
inline Result run(XchgDataFn xchg, int command, const Drive& drive, bool modal) {
    Result r;
    r.picture = source();
    r.size = {kW, kH};
    gResult = &r;
    tk::Automation ui(talvine::application());
    if (modal) drive(ui, r.picture);
    PtsImg buffer = r.picture;
    xchg(command, 0, 0, 0, 0, kW, kH, 0, 0, buffer.handle(), nullptr, 0, 0);
    checkHostSettings();
    if (!modal && drive) drive(ui, buffer);
    checkHostSettings();
    gResult = nullptr;
    takeResult(r, buffer);
    return r;
}
// The same, modal when the command's dialog is.
inline Result run(XchgDataFn xchg, int command, const Drive& drive) {
    return run(xchg, command, drive, dialogs::scripts::opensModal(command));
}

// The host reports a point picked on its picture to the open dialog.
inline void report(XchgDataFn xchg, int command, Point p, PtsImg& buffer) {
    xchg(command, 0, 0, p.x, p.y, kW, kH, 1, 0, nullptr, buffer.handle(), 0, 0);
    checkHostSettings();
}

// The host's side of a dialog script's picks: `report` through `xchg`.
inline dialogs::scripts::PointReport reports(XchgDataFn xchg, int command, PtsImg& buffer) {
    return [xchg, command, &buffer](Point p) { report(xchg, command, p, buffer); };
}

} // namespace talvine::hosttest
