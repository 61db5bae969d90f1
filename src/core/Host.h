// The library's side of the host link: the registered callback and context,
// the shared picture-changed flag and the always-zero reserved point.
#pragma once

#include "core/Geometry.h"
#include "talvine/talvine.h"

#include <cstdint>

namespace talvine {

// Never written: (0, 0) for the life of the library.
inline constexpr Point PtReserve{0, 0};

namespace host {

// ImgModifiee, the picture-changed flag: one value shared by every command,
// passed to the host as Modifiee.  It reads as a bool; its writers are these
// operations, and nothing else changes it:
class PictureChangedFlag {
  public:
    constexpr operator bool() const { return changed_; }

    // XchgData, at every call, and a library started afresh: false.
    void newCall() { changed_ = false; }
    // A command wrote a picture into the host's buffer: the instant commands,
    // and every preview of the distortion and perspective dialogs (the tilt's
    // previews leave the flag as it is): true.
    void pictureWritten() { changed_ = true; }
    // A dialog back to the picture it opened on (the tilt's and the
    // perspective's FormShow, the distortion's ReInitClick): false.
    void reset() { changed_ = false; }
    // The closing buttons: Appliquer true, Annuler false.
    void applied() { changed_ = true; }
    void cancelled() { changed_ = false; }

  private:
    bool changed_ = false;
};

// Plain storage, constant-initialised: nothing runs at load or unload.
inline constinit PictureChangedFlag ImgModifiee;

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
