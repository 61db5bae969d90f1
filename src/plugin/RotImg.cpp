#include "plugin/RotImg.h"

#include "core/Cursor.h"
#include "engines/RotImg.h"
#include "platform/Scratch.h"

#include <cstring>

namespace talvine {
namespace {

// A picture without pixels (W x 0 or 0 x H, any other side) has nothing to
// move: the kernels are not asked, since their row buffers are sized by one
// side alone and would be as large as that side for nothing.
bool hasPixels(TDimImg dim) {
    return dim.Largeur > 0 && dim.Hauteur > 0;
}

using Turn = void (*)(const TPtImg*, TPtImg*, int32_t, int32_t);

// A quarter turn reads from a private copy of the picture and writes the
// host's array in place; the size it reports is the turned one.  When the
// copy cannot be made the picture is left as it was and no callback is made
// (std::bad_alloc reaches XchgData's guard).
void turn(TPtImg* img, TDimImg dim, Turn kernel) {
    BusyCursor busy;
    const size_t bytes = static_cast<size_t>(dim.Largeur) * static_cast<size_t>(dim.Hauteur) * 3;
    platform::Scratch copy(bytes);
    if (bytes > 0) std::memcpy(copy.data(), img, bytes);
    if (hasPixels(dim))
        kernel(static_cast<const TPtImg*>(copy.data()), img, dim.Largeur, dim.Hauteur);
    host::ImgModifiee.pictureWritten();
    host::sendImage({dim.Hauteur, dim.Largeur}, host::ImgModifiee, true);
}

} // namespace

void TournerAntiHoraire(TPtImg* img, TDimImg dim) {
    turn(img, dim, engines::quarterTurnCcw);
}

void TournerHoraire(TPtImg* img, TDimImg dim) {
    turn(img, dim, engines::quarterTurnCw);
}

// The mirrors swap pixels in place: every pixel ends where the copy-based
// formulation puts it, without the temporary.
void MiroirHorz(TPtImg* img, TDimImg dim) {
    if (hasPixels(dim)) engines::mirrorLeftRight(img, dim.Largeur, dim.Hauteur);
    host::ImgModifiee.pictureWritten();
    host::sendImage(dim, host::ImgModifiee, true);
}

void MiroirVert(TPtImg* img, TDimImg dim) {
    if (hasPixels(dim)) engines::mirrorTopBottom(img, dim.Largeur, dim.Hauteur);
    host::ImgModifiee.pictureWritten();
    host::sendImage(dim, host::ImgModifiee, true);
}

} // namespace talvine
