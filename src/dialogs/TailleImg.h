// TChangeDim, the modal dialog of command 7 ("Redimensionner"): the new size
// in pixels or in percent, linked or not, plain or smoothed resampling.
//
// The two axes are kept in step by their listening flags.  Each axis has a
// pixel field and a percentage; a handler that updates the other control of
// its axis clears the axis's flag first, so that the echo of its own update
// only sets the flag again:
//
//   user types in DimHorz -> DimHorzChange (EcouteH true): EcouteH := false,
//     TauxH := Round(pixels * 100 / W) -> TauxHChange finds EcouteH false,
//     sets it true and stops; with the link on, TauxV := TauxH, whose own
//     handler (EcouteV true) recomputes DimVert.
//
// An update that leaves the other control's text as it was raises no echo,
// so its axis stays deaf for the next change (which only sets the flag).
#pragma once

#include "dialogs/PictureDialog.h"
#include "toolkit/UtilPlus.h"

#include <cstdint>

namespace talvine::dialogs {

// The form as data: controls, captions, ranges and handler names.
tk::FormDesc changeDimForm();

inline constexpr const char* kDivisionParZero = "Division par z\xC3\xA9ro en virgule flottante";
inline constexpr const char* kMemoireInsuffisante = "M\xC3\xA9moire insuffisante";
// A picture with a side of 0 pixels has none to resample: its field of that
// side has no range and takes any number, negative ones included.
inline constexpr const char* kImageVide = "L'image n'a aucun pixel \xC3\xA0 redimensionner";

// PtsInit, PtsTravail, Largeur, Hauteur, Ouvrir (the modal run),
// AppliquerClick and AnnulerClick come from PictureDialog.
class TChangeDim : public PictureDialog {
  public:
    explicit TChangeDim(tk::Application& app);

    // Controls, in declaration order.
    tk::GroupBox& Dimensions;
    tk::Button& Appliquer;
    tk::Button& Annuler;
    tk::Label& Label3;
    tk::Label& Label4;
    tk::TEditVal& DimHorz;
    tk::TEditVal& DimVert;
    tk::Label& Label7;
    tk::Label& Label8;
    tk::CheckBox& LienHsurL;
    tk::CheckBox& Lissage;
    tk::SpinEdit& TauxH;
    tk::SpinEdit& TauxV;

    int32_t NouvLargeur = 0;
    int32_t NouvHauteur = 0;
    bool EcouteH = true;
    bool EcouteV = true;
    bool GarderRapport = true;

    // Event handlers.
    void FormShow();
    void TauxHChange();
    void TauxVChange();
    void DimHorzChange();
    void DimVertChange();
    void LienHsurLClick();
    void FormClose();

    // Replace PtsTravail by a new NouvLargeur x NouvHauteur picture resampled
    // from PtsInit.  A zero dimension or a picture too large to allocate
    // raises a tk::Exception and leaves PtsTravail as it was.
    void RetaillerBasique();
    void RetaillerLisse();

  private:
    PtsImg pixelsAtOpening() const override;
    struct Axis;
    void percentChanged(const Axis& axis);
    void pixelsChanged(const Axis& axis);
    Axis horizontal();
    Axis vertical();
    template <class Kernel> void retailler(Kernel kernel);
};

} // namespace talvine::dialogs
