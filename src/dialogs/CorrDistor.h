// TCorrDist, the modal dialog of command 8 ("Coussinet / Barillet"): a
// correction rate on a slider, one of two laws and a sampling choice, each
// setting shown as a preview in the host's own picture.  The whole exchange
// runs inside the host's call: Ouvrir returns when the dialog has closed.
#pragma once

#include "dialogs/PictureDialog.h"
#include "toolkit/BarreCurseur.h"

#include <string>

namespace talvine::dialogs {

tk::FormDesc corrDistForm();

// The two items of TypeDistor.
inline constexpr const char* kLoiLineaire = " en ( 1 + a.R )";
inline constexpr const char* kLoiCarree = "en ( 1 + a.R\xC2\xB2 )";

// PtsInit, PtsTravail, Largeur, Hauteur, Ouvrir (the modal run),
// AppliquerClick, AnnulerClick and FormClose come from PictureDialog.
class TCorrDist : public PictureDialog {
  public:
    explicit TCorrDist(tk::Application& app);

    // Controls, top to bottom.
    tk::GroupBox& TypeProcess;
    tk::RadioButton& Basique;
    tk::RadioButton& InterQuad;
    tk::RadioGroup& TypeDistor;
    tk::Label& Label2;
    tk::Label& Label1;
    tk::Label& TauxB;
    tk::TBarreCurseur& TauxCorr;
    tk::Label& TauxC;
    tk::Button& ReInit;
    tk::Button& Annuler;
    tk::Button& Appliquer;

    // Event handlers.
    void FormShow();
    void TauxCorrChange();
    // One complete correction of PtsInit into PtsTravail, then the preview.
    void TauxCorrMouseUp();
    void BasiqueClick();
    void ReInitClick();
};

// The text of a rate label: |P| / 10 with two decimals and the user's
// separator, then " %".
std::string texteTaux(int position);

} // namespace talvine::dialogs
