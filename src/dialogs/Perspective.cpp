#include "dialogs/Perspective.h"

#include "core/Cursor.h"

#include <string>

namespace talvine::dialogs {

TCorrPerspect::TCorrPerspect(tk::Application& app)
    : PictureDialog(app, corrPerspectForm(), Kind::PicksPoints),
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

void TCorrPerspect::FormShow() {
    host::ImgModifiee.reset();
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
    if (!takesReport(imgHote)) return;
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
        drawn = engines::correctPerspective(PtsInit.data(), PtsTravail.data(), Largeur, Hauteur,
                                            {corners, CorrVert.position(), sampling});
    }
    if (!drawn) return;
    host::ImgModifiee.pictureWritten();
    host::sendImage({Largeur, Hauteur}, host::ImgModifiee, false);
}

void TCorrPerspect::ReInitClick() {
    FormShow();
    restorePicture();
}

} // namespace talvine::dialogs
