// The library's side of the host link: the registered callback and context,
// the shared picture-changed flag and the always-zero reserved point.
#pragma once

#include "talvine/talvine.h"

#include <cstdint>

namespace talvine {

struct Point {
    int32_t x = 0;
    int32_t y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

// The picture size, width then height.
struct TDimImg {
    int32_t Largeur = 0;
    int32_t Hauteur = 0;
    friend bool operator==(const TDimImg&, const TDimImg&) = default;
};

// Never written: (0, 0) for the life of the library.
inline constexpr Point PtReserve{0, 0};

namespace host {

// The picture-changed flag, cleared by every XchgData call.
extern bool ImgModifiee;

void registerCallback(TProcRetour callback, int32_t context);

// Calls the host back with the registered context; does nothing while no
// callback is registered.
void callBack(Point pt1, Point pt2, int32_t nature, intptr_t param, bool modifiee, bool fin);

// The usual rtImage call: the picture now in the buffer, PtReserve, Param 0.
inline void sendImage(TDimImg size, bool modifiee, bool fin) {
    callBack({size.Largeur, size.Hauteur}, PtReserve, rtImage, 0, modifiee, fin);
}

} // namespace host
} // namespace talvine
