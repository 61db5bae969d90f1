#include "dialogs/Perspective.h"

#include "core/Cursor.h"
#include "dialogs/Commands.h"
#include "toolkit/Application.h"

#include <algorithm>
#include <string>

namespace talvine::dialogs {
namespace {

TCorrPerspect* gCorrPerspect = nullptr;

} // namespace

TCorrPerspect::TCorrPerspect(tk::Application& app)
    : tk::Form(app, corrPerspectForm()),
      PickBoxes(get<tk::Timer>("Timer"),
                {&get<tk::CheckBox>("PosHG"), &get<tk::CheckBox>("PosHD"),
                 &get<tk::CheckBox>("PosBD"), &get<tk::CheckBox>("PosBG")}),
      TypeProcess(get<tk::GroupBox>("TypeProcess")), Basique(get<tk::RadioButton>("Basique")),
      InterQuad(get<tk::RadioButton>("InterQuad")), Label1(get<tk::Label>("Label1")),
      CorrVert(get<tk::TBarreCurseur>("CorrVert")), TxCrVert(get<tk::Label>("TxCrVert")),
      Fond(get<tk::Image>("Fond")), PosHG(get<tk::CheckBox>("PosHG")),
      PosHD(get<tk::CheckBox>("PosHD")), PosBD(get<tk::CheckBox>("PosBD")),
      PosBG(get<tk::CheckBox>("PosBG")), ReInit(get<tk::Button>("ReInit")),
      Annuler(get<tk::Button>("Annuler")), Appliquer(get<tk::Button>("Appliquer")),
      Timer(get<tk::Timer>("Timer")) {
    Fond.setPicture(fondPicture());
    using E = tk::EventKind;
    bind(E::Show, this, &TCorrPerspect::FormShow);
    bind(E::Close, this, &TCorrPerspect::FormClose);
    // PosHGClick serves all four corner boxes.
    for (const char* box : {"PosHG", "PosHD", "PosBD", "PosBG"})
        bind(box, E::Click, this, &TCorrPerspect::PosHGClick);
    bind("Timer", E::Timer, this, &TCorrPerspect::TimerTimer);
    bind("CorrVert", E::Change, this, &TCorrPerspect::CorrVertChange);
    bind("ReInit", E::Click, this, &TCorrPerspect::ReInitClick);
    bind("Annuler", E::Click, this, &TCorrPerspect::AnnulerClick);
    bind("Appliquer", E::Click, this, &TCorrPerspect::AppliquerClick);
}

void TCorrPerspect::Ouvrir(TPtImg* img, TDimImg dimImg) {
    try {
        Largeur = dimImg.Largeur;
        Hauteur = dimImg.Hauteur;
        PtsTravail = PtsImg::share(img);
        PtsInit = PtsTravail.clone();
        host::callBack({Largeur, Hauteur}, PtReserve, rtSaisie, 0, false, false);
        show();
    } catch (...) {
        // A failed opening ends quietly; the dialog may not appear.
    }
}

void TCorrPerspect::FormShow() {
    host::ImgModifiee = false;
    Basique.setChecked(true);
    CorrVert.setPosition(5);
    reinitialiserCases();
}

void TCorrPerspect::PosHGClick(tk::Control& sender) {
    caseCliquee(sender);
}

void TCorrPerspect::CorrVertChange() {
    TxCrVert.setText(std::to_string(CorrVert.position() * 10) + " %");
}

void TCorrPerspect::NouveauPoint(Point point, TPtImg* imgHote) {
    if (!visible() || !holdsPicture(imgHote, Largeur, Hauteur)) return;
    const tk::CheckBox* picked = prendrePoint();
    if (picked == &PosHG) CoinHG = point;
    if (picked == &PosHD) CoinHD = point;
    if (picked == &PosBD) CoinBD = point;
    if (picked == &PosBG) CoinBG = point;
    PtsTravail = PtsImg::share(imgHote);
    if (PosHG.checked() && PosHD.checked() && PosBD.checked() && PosBG.checked())
        CorrigerPerspective();
}

void TCorrPerspect::CorrigerPerspective() {
    const engines::Corners corners{CoinHG, CoinHD, CoinBD, CoinBG};
    bool drawn = false;
    {
        BusyCursor busy;
        if (const auto fuite = engines::calculerFuite(corners, Largeur)) Trapeze = fuite->trapeze;
        const engines::Sampling sampling =
            Basique.checked() ? engines::Sampling::Nearest : engines::Sampling::Bilinear;
        drawn = engines::corrigerPerspective(PtsInit.data(), PtsTravail.data(), Largeur, Hauteur,
                                             {corners, CorrVert.position(), sampling});
    }
    if (!drawn) return;
    host::ImgModifiee = true;
    host::sendImage({Largeur, Hauteur}, host::ImgModifiee, false);
}

void TCorrPerspect::ReInitClick() {
    FormShow();
    const int64_t count = std::min(PtsInit.size(), PtsTravail.size());
    std::copy_n(PtsInit.data(), count, PtsTravail.data());
    host::sendImage({Largeur, Hauteur}, false, false);
}

void TCorrPerspect::AnnulerClick() {
    host::ImgModifiee = false;
    close();
}

void TCorrPerspect::AppliquerClick() {
    host::ImgModifiee = true;
    close();
}

void TCorrPerspect::FormClose() {
    PtsInit.clear();
    host::sendImage({Largeur, Hauteur}, host::ImgModifiee, true);
}

TCorrPerspect* corrPerspect() {
    return gCorrPerspect;
}

void startPerspective() {
    gCorrPerspect = &tk::application().createForm<TCorrPerspect>();
}

// The application object destroys the dialog with every form it owns.
void stopPerspective() {
    gCorrPerspect = nullptr;
}

void ouvrirPerspective(TPtImg* img, TDimImg dim) {
    if (gCorrPerspect) gCorrPerspect->Ouvrir(img, dim);
}

void nouveauPointPerspective(Point point, TPtImg* imgHote) {
    if (gCorrPerspect) gCorrPerspect->NouveauPoint(point, imgHote);
}

} // namespace talvine::dialogs
