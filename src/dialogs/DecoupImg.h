// TRogneImg, the modeless dialog of command 6 ("Rogner format : libre, 2/3,
// 3/4"): a rectangle typed as margins and sizes or drawn in the host, five
// proportions forwarded to the host's selection tool, and the crop into the
// host's buffer.
//
// The rectangle Cadre (CadreX, CadreY, CadreL, CadreH) is what Appliquer cuts out.
// It is the whole picture at opening, the fields' values after a key release
// in one of them, and the host's selection after a selection report.  It is
// clipped to the picture when the crop is made (docs/RESAMPLING.md).
#pragma once

#include "dialogs/PictureDialog.h"
#include "engines/DecoupImg.h"
#include "toolkit/UtilPlus.h"

#include <cstdint>

namespace talvine::dialogs {

tk::FormDesc rogneImgForm();

// The glyph of the two "Appliquer" buttons: scissors beside a sheet of paper,
// then its greyed copy, two 16 x 16 images side by side.
tk::Picture scissorsGlyph();

// PtsInit, PtsTravail, Largeur, Hauteur, Ouvrir (sub-mode 0: the rectangle
// selection asked of the host) and AnnulerClick come from PictureDialog.
class TRogneImg : public PictureDialog {
  public:
    explicit TRogneImg(tk::Application& app);

    // Sub-mode 1: the host's selection, its corner in pt1 and its size in
    // dimImg.  CodeSel 4 shows it in the fields too.  A report while the
    // dialog is closed, or whose buffer cannot hold the picture (null, or
    // fewer than Largeur x Hauteur pixels), is ignored.
    void NouvelleSelection(Point pt1, Point pt2, TDimImg dimImg, int32_t codeSel, TPtImg* imgHote);

    tk::GroupBox& Marges;
    tk::TEditVal& MrgG;
    tk::TEditVal& MrgH;
    tk::GroupBox& Dimensions;
    tk::TEditVal& DimHorz;
    tk::TEditVal& DimVert;
    tk::RadioGroup& FormatImg;
    tk::Button& Appliquer;
    tk::Button& Annuler;

    // The crop rectangle, also under its four names.
    engines::Cadre Cadre;
    int32_t& CadreX = Cadre.x;
    int32_t& CadreY = Cadre.y;
    int32_t& CadreL = Cadre.largeur;
    int32_t& CadreH = Cadre.hauteur;

    void FormShow();
    void DimVertKeyUp(tk::Control& sender); // the four fields
    void FormatImgClick();
    void AppliquerClick();
    void FormClose();

  private:
    void pictureTaken() override;
    void verifyFields();
};

} // namespace talvine::dialogs
