#include "engines/DecoupImg.h"

#include <algorithm>
#include <cstring>

namespace talvine::engines {

Cadre clipRect(Cadre cadre, int32_t w, int32_t h) {
    auto clip = [](int32_t start, int32_t length, int32_t limit, int32_t& outStart,
                   int32_t& outLength) {
        const int64_t lo = std::clamp<int64_t>(start, 0, limit);
        const int64_t hi = std::clamp<int64_t>(int64_t{start} + std::max(length, 0), lo, limit);
        outStart = static_cast<int32_t>(lo);
        outLength = static_cast<int32_t>(hi - lo);
    };
    Cadre out;
    clip(cadre.x, cadre.largeur, std::max(w, 0), out.x, out.largeur);
    clip(cadre.y, cadre.hauteur, std::max(h, 0), out.y, out.hauteur);
    return out;
}

namespace {

Cadre checked(int32_t w, int32_t h, Cadre cadre, int64_t dstLength) {
    const Cadre c = clipRect(cadre, w, h);
    if (int64_t{c.largeur} * c.hauteur > dstLength)
        throw std::length_error("crop destination too short");
    return c;
}

} // namespace

namespace reference {

Cadre copyRect(const TPtImg* src, int32_t w, int32_t h, Cadre cadre, TPtImg* dst,
               int64_t dstLength) {
    const Cadre c = checked(w, h, cadre, dstLength);
    for (int64_t r = 0; r < c.hauteur; ++r)
        for (int64_t col = 0; col < c.largeur; ++col)
            dst[r * c.largeur + col] = src[(c.y + r) * w + c.x + col];
    return c;
}

} // namespace reference

Cadre copyRect(const TPtImg* src, int32_t w, int32_t h, Cadre cadre, TPtImg* dst,
               int64_t dstLength) {
    const Cadre c = checked(w, h, cadre, dstLength);
    const auto rowBytes = static_cast<size_t>(c.largeur) * sizeof(TPtImg);
    if (rowBytes == 0) return c;
    for (int64_t r = 0; r < c.hauteur; ++r)
        std::memcpy(dst + r * c.largeur, src + (c.y + r) * w + c.x, rowBytes);
    return c;
}

} // namespace talvine::engines
