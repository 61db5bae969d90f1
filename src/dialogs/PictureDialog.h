// PictureDialog: what every picture dialog holds and how each opens and
// closes.  The five dialogs derive from it and keep only what is theirs.
//
//   Ouvrir (sub-mode 0)   Largeur, Hauteur := the picture's size
//                         PtsTravail := the host's array (shared: previews land in it)
//                         PtsInit := the pixels at opening (a private copy; the resize,
//                                    which writes nothing into the host's array, shares it)
//                         modeless: rtSaisie (points or a rectangle), then shown;
//                         modal: shown until closed, then PtsInit released
//   Appliquer / Annuler   the flag set or cleared (host::ImgModifiee), then a
//                         modeless dialog closes (a modal one ends by the button's result)
//   FormClose             PtsInit released, then rtImage with Fin 1
//
// Whatever fails while a dialog opens ends the command quietly: the dialog
// may not appear, and nothing escapes Ouvrir.
#pragma once

#include "core/Host.h"
#include "core/ParamCoul.h"
#include "toolkit/Form.h"

#include <cstdint>

namespace talvine::dialogs {

class PictureDialog : public tk::Form {
  public:
    // How the dialog runs beside the host.
    enum class Kind {
        Modal,          // inside the host's call (resize, distortion)
        PicksPoints,    // modeless; the host reports picked points (tilt, perspective)
        PicksRectangle, // modeless; the host reports a selection (crop)
    };

    void Ouvrir(TPtImg* img, TDimImg dimImg);

    // The closing buttons and the close, for the dialogs that need no more.
    void AppliquerClick();
    void AnnulerClick();
    void FormClose();

    PtsImg PtsInit;
    PtsImg PtsTravail;
    int32_t Largeur = 0;
    int32_t Hauteur = 0;

  protected:
    PictureDialog(tk::Application& app, const tk::FormDesc& desc, Kind kind);
    ~PictureDialog() override = default;

    // Ouvrir's step between taking the picture and calling the host back.
    virtual void pictureTaken() {}
    // The pixels as they were at opening; a private copy unless overridden.
    virtual PtsImg pixelsAtOpening() const { return PtsTravail.clone(); }
    // Whether a report (sub-mode 1) is for this dialog: it is open and the
    // host's buffer holds the picture.
    bool takesReport(const TPtImg* imgHote) const;
    // The re-initialisation's picture: PtsInit copied back into PtsTravail,
    // then rtImage with Modifiee false and Fin 0.
    void restorePicture();

  private:
    Kind kind_;
};

} // namespace talvine::dialogs
