// TCorrDist, the modal dialog of command 8 ("Coussinet / Barillet"): a
// correction rate on a slider, one of two laws and a sampling choice, each
// setting shown as a preview in the host's own picture.  The whole exchange
// runs inside the host's call: Ouvrir returns when the dialog has closed.
#pragma once

#include "core/Host.h"
#include "core/ParamCoul.h"
#include "toolkit/BarreCurseur.h"
#include "toolkit/Form.h"

#include <cstdint>
#include <string>

namespace talvine::dialogs {

tk::FormDesc corrDistForm();

// The two items of TypeDistor.
inline constexpr const char* kLoiLineaire = " en ( 1 + a.R )";
inline constexpr const char* kLoiCarree = "en ( 1 + a.R\xC2\xB2 )";

class TCorrDist : public tk::Form {
  public:
    explicit TCorrDist(tk::Application& app);

    // Command 8: takes the picture and runs the dialog modally.  Nothing
    // escapes.
    void Ouvrir(TPtImg* img, TDimImg dimImg);

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

    PtsImg PtsInit;
    PtsImg PtsTravail;
    int32_t Largeur = 0;
    int32_t Hauteur = 0;

    // Event handlers.
    void FormShow();
    void TauxCorrChange();
    // One complete correction of PtsInit into PtsTravail, then the preview.
    void TauxCorrMouseUp();
    void BasiqueClick();
    void ReInitClick();
    void AnnulerClick();
    void AppliquerClick();
    void FormClose();
};

// The text of a rate label: |P| / 10 with two decimals and the user's
// separator, then " %".
std::string texteTaux(int position);

TCorrDist* corrDist();

} // namespace talvine::dialogs
