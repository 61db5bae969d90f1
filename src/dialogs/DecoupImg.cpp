#include "dialogs/DecoupImg.h"

#include "dialogs/Commands.h"
#include "engines/DecoupImg.h"
#include "toolkit/Application.h"

#include <algorithm>
#include <climits>
#include <string>

namespace talvine::dialogs {
namespace {

TRogneImg* gRogneImg = nullptr;

// One past an edge, as the callback's 32-bit slot can carry it.
int32_t pastEdge(int32_t start, int32_t length) {
    return static_cast<int32_t>(std::clamp<int64_t>(int64_t{start} + length, INT32_MIN, INT32_MAX));
}

} // namespace

TRogneImg::TRogneImg(tk::Application& app)
    : tk::Form(app, rogneImgForm()), Marges(get<tk::GroupBox>("Marges")),
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

void TRogneImg::Ouvrir(TPtImg* img, TDimImg dimImg) {
    Largeur = dimImg.Largeur;
    Hauteur = dimImg.Hauteur;
    try {
        PtsTravail = PtsImg::share(img);
        PtsInit = PtsTravail.clone();
        CadreX = 0;
        CadreY = 0;
        CadreL = Largeur;
        CadreH = Hauteur;
        host::callBack({Largeur, Hauteur}, PtReserve, rtSaisie, 1, false, false);
        // Already shown (opened again before it closed): the fields and the
        // format stay as the user left them; only the rectangle starts afresh.
        show();
    } catch (...) {
        // A failed opening ends the command without a word.
    }
}

void TRogneImg::NouvelleSelection(Point pt1, Point, TDimImg dimImg, int32_t codeSel,
                                  TPtImg* imgHote) {
    // Only an open dialog takes a selection; a report after the command
    // ended changes nothing, as in the tilt and perspective dialogs.
    if (!visible() || !holdsPicture(imgHote, Largeur, Hauteur)) return;
    if (codeSel == 4) {
        MrgG.setText(std::to_string(pt1.x));
        MrgH.setText(std::to_string(pt1.y));
        DimHorz.setText(std::to_string(dimImg.Largeur));
        DimVert.setText(std::to_string(dimImg.Hauteur));
    }
    CadreX = pt1.x;
    CadreY = pt1.y;
    CadreL = dimImg.Largeur;
    CadreH = dimImg.Hauteur;
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
    CadreX = MrgG.Valeur;
    CadreY = MrgH.Valeur;
    CadreL = DimHorz.Valeur;
    CadreH = DimVert.Valeur;
    host::callBack({CadreX, CadreY}, {pastEdge(CadreX, CadreL), pastEdge(CadreY, CadreH)}, rtCadre,
                   1, host::ImgModifiee, false);
}

void TRogneImg::FormatImgClick() {
    host::callBack({0, 0}, {0, 0}, rtFormat, FormatImg.itemIndex() * 256 + 1, false, false);
}

void TRogneImg::AppliquerClick() {
    verifyFields();
    host::ImgModifiee = true;
    // Only the part of the rectangle inside the picture is copied, and the
    // final callback reports that part.
    const engines::Cadre done =
        engines::copierCadre(PtsInit.data(), Largeur, Hauteur, {CadreX, CadreY, CadreL, CadreH},
                             PtsTravail.data(), PtsTravail.size());
    CadreX = done.x;
    CadreY = done.y;
    CadreL = done.largeur;
    CadreH = done.hauteur;
    close();
}

void TRogneImg::AnnulerClick() {
    host::ImgModifiee = false;
    close();
}

void TRogneImg::FormClose() {
    verifyFields(); // an invalid field holds the close back
    // After either button the host is told the size of the part of the
    // rectangle inside the picture (what Appliquer cut out), never a
    // reported selection as it came.
    const engines::Cadre kept =
        engines::clipCadre({CadreX, CadreY, CadreL, CadreH}, Largeur, Hauteur);
    host::sendImage({kept.largeur, kept.hauteur}, host::ImgModifiee, true);
    PtsInit.clear();
}

TRogneImg* rogneImg() {
    return gRogneImg;
}

void startDecoupImg() {
    gRogneImg = &tk::application().createForm<TRogneImg>();
}

// The application object destroys the dialog with every form it owns.
void stopDecoupImg() {
    gRogneImg = nullptr;
}

void ouvrirRognage(TPtImg* img, TDimImg dim) {
    if (gRogneImg) gRogneImg->Ouvrir(img, dim);
}

void nouvelleSelection(Point pt1, TDimImg dim, int32_t codeSel, TPtImg* imgHote) {
    if (gRogneImg) gRogneImg->NouvelleSelection(pt1, PtReserve, dim, codeSel, imgHote);
}

} // namespace talvine::dialogs
