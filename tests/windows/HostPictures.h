// What the Windows host programs share: the picture every command runs on,
// the end of a command as the host's callback reports it, and the bytes of
// a picture.
#pragma once

#include "core/Host.h"
#include "core/ParamCoul.h"

#include <cstdint>
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

inline void TALVINE_CALL onCallback(int32_t, int32_t pt1x, int32_t pt1y, int32_t, int32_t,
                                    int32_t nature, intptr_t param, int32_t modifiee, int32_t fin) {
    if (!gResult || nature != rtImage || !fin) return;
    gResult->ended = true;
    gResult->applied = (modifiee & 0xFF) != 0;
    gResult->size = {pt1x, pt1y};
    if (param) gResult->picture = PtsImg::share(reinterpret_cast<TPtImg*>(param));
}

} // namespace talvine::hosttest
