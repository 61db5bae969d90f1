#include "dialogs/PictureDialog.h"

#include <algorithm>

namespace talvine::dialogs {

PictureDialog::PictureDialog(tk::Application& app, const tk::FormDesc& desc, Kind kind)
    : tk::Form(app, desc), kind_(kind) {}

void PictureDialog::Ouvrir(TPtImg* img, TDimImg dimImg) {
    try {
        Largeur = dimImg.Largeur;
        Hauteur = dimImg.Hauteur;
        PtsTravail = PtsImg::share(img);
        PtsInit = pixelsAtOpening();
        pictureTaken();
        if (kind_ == Kind::Modal) {
            showModal();
        } else {
            const intptr_t shape = kind_ == Kind::PicksRectangle ? 1 : 0;
            host::callBack({Largeur, Hauteur}, PtReserve, rtSaisie, shape, false, false);
            // Already shown (opened again before it closed), it does not run
            // FormShow again: the picking state stays as the user left it.
            show();
        }
    } catch (...) {
        // A failed opening ends the command quietly.
    }
    if (kind_ == Kind::Modal) PtsInit.clear();
}

void PictureDialog::AppliquerClick() {
    host::ImgModifiee.applied();
    if (kind_ != Kind::Modal) close();
}

void PictureDialog::AnnulerClick() {
    host::ImgModifiee.cancelled();
    if (kind_ != Kind::Modal) close();
}

void PictureDialog::FormClose() {
    PtsInit.clear();
    host::sendImage({Largeur, Hauteur}, host::ImgModifiee, true);
}

bool PictureDialog::takesReport(const TPtImg* imgHote) const {
    return visible() && holdsPicture(imgHote, Largeur, Hauteur);
}

void PictureDialog::restorePicture() {
    const int64_t count = std::min(PtsInit.size(), PtsTravail.size());
    std::copy_n(PtsInit.data(), count, PtsTravail.data());
    host::sendImage({Largeur, Hauteur}, false, false);
}

} // namespace talvine::dialogs
