#include "dialogs/DecoupImg.h"

#include <algorithm>
#include <climits>
#include <string>

namespace talvine::dialogs {
namespace {

// One past an edge, as the callback's 32-bit slot can carry it.
int32_t pastEdge(int32_t start, int32_t length) {
    return static_cast<int32_t>(std::clamp<int64_t>(int64_t{start} + length, INT32_MIN, INT32_MAX));
}

} // namespace

TRogneImg::TRogneImg(tk::Application& app)
    : PictureDialog(app, rogneImgForm(), Kind::PicksRectangle), Marges(get<tk::GroupBox>("Marges")),
      MrgG(get<tk::TEditVal>("MrgG")), MrgH(get<tk::TEditVal>("MrgH")),
      Dimensions(get<tk::GroupBox>("Dimensions")), DimHorz(get<tk::TEditVal>("DimHorz")),
      DimVert(get<tk::TEditVal>("DimVert")), FormatImg(get<tk::RadioGroup>("FormatImg")),
      Appliquer(get<tk::Button>("Appliquer")), Annuler(get<tk::Button>("Annuler")) {
    Appliquer.setGlyph(scissorsGlyph());
    using E = tk::EventKind;
    bind(E::Show, this, &TRogneImg::FormShow);
    bind(E::Close, this, &TRogneImg::FormClose);
    // DimVertKeyUp serves the four numeric fields.
    for (const char* field : {"MrgG", "MrgH", "DimHorz", "DimVert"})
        bind(field, E::KeyUp, this, &TRogneImg::DimVertKeyUp);
    bind("FormatImg", E::Click, this, &TRogneImg::FormatImgClick);
    bind("Appliquer", E::Click, this, &TRogneImg::AppliquerClick);
    bind("Annuler", E::Click, this, &TRogneImg::AnnulerClick);
}

void TRogneImg::pictureTaken() {
    // Opened again while shown, the fields and the format stay as the user
    // left them; only the rectangle starts afresh.
    Cadre = {0, 0, Largeur, Hauteur};
}

void TRogneImg::NouvelleSelection(Point pt1, Point, TDimImg dimImg, int32_t codeSel,
                                  TPtImg* imgHote) {
    // Only an open dialog takes a selection; a report after the command
    // ended changes nothing, as in the tilt and perspective dialogs.
    if (!takesReport(imgHote)) return;
    if (codeSel == TALVINE_CODESEL_CHAMPS) {
        MrgG.setText(std::to_string(pt1.x));
        MrgH.setText(std::to_string(pt1.y));
        DimHorz.setText(std::to_string(dimImg.Largeur));
        DimVert.setText(std::to_string(dimImg.Hauteur));
    }
    Cadre = {pt1.x, pt1.y, dimImg.Largeur, dimImg.Hauteur};
    PtsTravail = PtsImg::share(imgHote);
}

void TRogneImg::FormShow() {
    MrgH.Initialiser(0, 0, Hauteur);
    MrgG.Initialiser(0, 0, Largeur);
    DimHorz.Initialiser(Largeur, 0, Largeur);
    DimVert.Initialiser(Hauteur, 0, Hauteur);
    FormatImg.setItemIndex(0); // runs FormatImgClick when another format was left selected
}

void TRogneImg::verifyFields() {
    MrgG.Verifier();
    MrgH.Verifier();
    DimHorz.Verifier();
    DimVert.Verifier();
}

void TRogneImg::DimVertKeyUp(tk::Control& sender) {
    if (sender.text().empty()) return;
    verifyFields();
    Cadre = {MrgG.Valeur, MrgH.Valeur, DimHorz.Valeur, DimVert.Valeur};
    host::callBack({CadreX, CadreY}, {pastEdge(CadreX, CadreL), pastEdge(CadreY, CadreH)}, rtCadre,
                   1, host::ImgModifiee, false);
}

void TRogneImg::FormatImgClick() {
    host::callBack({0, 0}, {0, 0}, rtFormat, FormatImg.itemIndex() * 256 + 1, false, false);
}

void TRogneImg::AppliquerClick() {
    verifyFields();
    host::ImgModifiee.applied();
    // Only the part of the rectangle inside the picture is copied, and the
    // final callback reports that part.
    Cadre = engines::copyRect(PtsInit.data(), Largeur, Hauteur, Cadre, PtsTravail.data(),
                              PtsTravail.size());
    close();
}

void TRogneImg::FormClose() {
    verifyFields(); // an invalid field holds the close back
    // After either button the host is told the size of the part of the
    // rectangle inside the picture (what Appliquer cut out), never a
    // reported selection as it came.
    const engines::Cadre kept = engines::clipRect(Cadre, Largeur, Hauteur);
    host::sendImage({kept.largeur, kept.hauteur}, host::ImgModifiee, true);
    PtsInit.clear();
}

} // namespace talvine::dialogs
