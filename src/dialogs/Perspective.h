// TCorrPerspect, the modeless dialog of command 9 ("Perspective"): the user
// marks the four corners of a trapezoid on the picture, one at a time, and
// the picture is mapped so that its sides come out vertical.
//
// Picking works as in the tilt dialog (PickBoxes), with four boxes sitting on the corners
// of the grid drawn in Fond: a click makes a box wait (and blink), the timer
// unchecks it if the click checked it (IgnorerClic swallows that click), and
// the host's next point checks it and stores its corner.  With all four
// boxes checked, every point draws the preview from PtsInit again, with the
// sampling choice and vertical correction of the moment.
#pragma once

#include "dialogs/PickBoxes.h"
#include "dialogs/PictureDialog.h"
#include "engines/Perspective.h"
#include "toolkit/BarreCurseur.h"

#include <array>
#include <cstdint>

namespace talvine::dialogs {

tk::FormDesc corrPerspectForm();
// The picture of Fond: a grid whose vertical lines converge upwards.
tk::Picture fondPicture();

// PtsInit, PtsTravail, Largeur, Hauteur, Ouvrir (sub-mode 0), AppliquerClick,
// AnnulerClick and FormClose come from PictureDialog; CaseEnCours,
// CasePrecedente, IgnorerClic and TimerTimer from PickBoxes.
class TCorrPerspect : public PictureDialog, public PickBoxes {
  public:
    explicit TCorrPerspect(tk::Application& app);

    // Command 9, sub-mode 1.  A report while the dialog is closed, or whose
    // buffer cannot hold the picture, is ignored.
    void NouveauPoint(Point point, TPtImg* imgHote);

    // Controls, in declaration order.
    tk::GroupBox& TypeProcess;
    tk::RadioButton& Basique;
    tk::RadioButton& InterQuad;
    tk::Label& Label1;
    tk::TBarreCurseur& CorrVert;
    tk::Label& TxCrVert;
    tk::Image& Fond;
    tk::CheckBox& PosHG;
    tk::CheckBox& PosHD;
    tk::CheckBox& PosBD;
    tk::CheckBox& PosBG;
    tk::Button& ReInit;
    tk::Button& Annuler;
    tk::Button& Appliquer;
    tk::Timer& Timer;

    Point CoinHG;
    Point CoinHD;
    Point CoinBD;
    Point CoinBG;
    // The normalised trapezoid of the last run.
    std::array<engines::PointR, 4> Trapeze{};

    // Event handlers.
    void FormShow();
    void PosHGClick(tk::Control& sender); // all four boxes
    void CorrVertChange();
    void ReInitClick();

    // Maps PtsInit into PtsTravail and sends the preview.  Corners that
    // leave the mapping undefined give no preview and no callback.
    void CorrigerPerspective();
};

} // namespace talvine::dialogs
