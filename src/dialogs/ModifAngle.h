// TInclineHorz, the modeless dialog of command 3 ("Inclinaison horizon"):
// the user marks two points of a line that should be level, and the picture
// is turned about the first so that the line comes out horizontal.
//
// Picking (PickBoxes).  A click on a pick box makes it the box waiting for a
// point (CaseEnCours) and starts the timer; every 200 ms the waiting box
// blinks, and if the click left it checked the timer unchecks it, raising one
// more click that IgnorerClic swallows.  A point from the host (NouveauPoint)
// checks the waiting box, stops the blinking and stores the point; with both
// boxes checked the preview is drawn from PtsInit into the host's buffer.
#pragma once

#include "dialogs/PickBoxes.h"
#include "dialogs/PictureDialog.h"

#include <cstdint>

namespace talvine::dialogs {

// The form as data: controls, captions, places and handler names.
tk::FormDesc inclineHorzForm();
// The picture of AngleRot: a level line with a turning arrow at its end.
tk::Picture angleRotPicture();

// "L'écart horizontal entre les deux points ne doit pas être nul"
inline constexpr const char* kEcartNul = "L'\xC3\xA9"
                                         "cart horizontal entre les deux points ne doit pas "
                                         "\xC3\xAA"
                                         "tre nul";

// PtsInit, PtsTravail, Largeur, Hauteur, Ouvrir (sub-mode 0), AppliquerClick,
// AnnulerClick and FormClose come from PictureDialog; CaseEnCours,
// CasePrecedente, IgnorerClic and TimerTimer from PickBoxes.
class TInclineHorz : public PictureDialog, public PickBoxes {
  public:
    explicit TInclineHorz(tk::Application& app);

    // Command 3, sub-mode 1: a point picked on the picture, with the host's
    // buffer.  A report while the dialog is closed, or whose buffer cannot
    // hold the picture, is ignored.
    void NouveauPoint(Point point, TPtImg* imgHote);

    // Controls, in declaration order.
    tk::Button& ReInit;
    tk::Button& Appliquer;
    tk::Button& Annuler;
    tk::CheckBox& PtRot2;
    tk::CheckBox& PtRot1;
    tk::Timer& Timer;
    tk::Image& AngleRot;
    tk::GroupBox& TypeProcess;
    tk::RadioButton& Basique;
    tk::RadioButton& InterBiLin;

    Point Point1;
    Point Point2;
    long double Angle = 0;

    // Event handlers.
    void FormShow();
    void PtRot2Click(tk::Control& sender); // both boxes
    void ReInitClick();

    // Turns PtsInit about Point1 by Angle into PtsTravail, then sends the
    // preview.
    void Pivoter();
};

} // namespace talvine::dialogs
