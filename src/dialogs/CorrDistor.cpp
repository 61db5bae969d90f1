#include "dialogs/CorrDistor.h"

#include "core/Cursor.h"
#include "dialogs/Commands.h"
#include "engines/CorrDistor.h"
#include "toolkit/Application.h"
#include "toolkit/Locale.h"

#include <cstdlib>

namespace talvine::dialogs {
namespace {

TCorrDist* gCorrDist = nullptr;

tk::HandlerTable handlers(TCorrDist* d) {
    tk::HandlerTable t;
    t.add("FormShow", d, &TCorrDist::FormShow)
        .add("FormClose", d, &TCorrDist::FormClose)
        .add("TauxCorrChange", d, &TCorrDist::TauxCorrChange)
        .add("TauxCorrMouseUp", d, &TCorrDist::TauxCorrMouseUp)
        .add("BasiqueClick", d, &TCorrDist::BasiqueClick)
        .add("ReInitClick", d, &TCorrDist::ReInitClick)
        .add("AnnulerClick", d, &TCorrDist::AnnulerClick)
        .add("AppliquerClick", d, &TCorrDist::AppliquerClick);
    return t;
}

} // namespace

std::string texteTaux(int position) {
    return tk::formatFixed(std::abs(position) / 10.0L, 2, 2) + " %";
}

TCorrDist::TCorrDist(tk::Application& app)
    : tk::Form(app, corrDistForm(), handlers(this)), TypeProcess(get<tk::GroupBox>("TypeProcess")),
      Basique(get<tk::RadioButton>("Basique")), InterQuad(get<tk::RadioButton>("InterQuad")),
      TypeDistor(get<tk::RadioGroup>("TypeDistor")), Label2(get<tk::Label>("Label2")),
      Label1(get<tk::Label>("Label1")), TauxB(get<tk::Label>("TauxB")),
      TauxCorr(get<tk::TBarreCurseur>("TauxCorr")), TauxC(get<tk::Label>("TauxC")),
      ReInit(get<tk::Button>("ReInit")), Annuler(get<tk::Button>("Annuler")),
      Appliquer(get<tk::Button>("Appliquer")) {}

void TCorrDist::Ouvrir(TPtImg* img, TDimImg dimImg) {
    try {
        Largeur = dimImg.Largeur;
        Hauteur = dimImg.Hauteur;
        PtsTravail = PtsImg::share(img);
        PtsInit = PtsTravail.clone();
        showModal();
    } catch (...) {
        // Whatever ends the modal loop abnormally ends the command quietly.
    }
    PtsInit.clear();
}

void TCorrDist::FormShow() {
    {
        // Back to the defaults without computing: the choices' handlers
        // stay silent.
        tk::Control::QuietScope q1(Basique), q2(InterQuad), q3(TypeDistor);
        Basique.setChecked(true);
        TypeDistor.setItemIndex(0);
    }
    TauxCorr.setPosition(0);
    TauxCorrChange();
}

void TCorrDist::TauxCorrChange() {
    const int p = TauxCorr.position();
    if (p == 0) {
        TauxB.setText("0 %");
        TauxC.setText("0 %");
        TauxB.setVisible(true);
        TauxC.setVisible(true);
    } else if (p > 0) {
        TauxB.setVisible(false);
        TauxC.setText(texteTaux(p));
        TauxC.setVisible(true);
    } else {
        TauxB.setText(texteTaux(p));
        TauxB.setVisible(true);
        TauxC.setVisible(false);
    }
}

void TCorrDist::TauxCorrMouseUp() {
    {
        BusyCursor busy;
        const engines::DistortionParams p{
            TauxCorr.position(),
            TypeDistor.itemIndex() == 1 ? engines::DistortionLaw::Square
                                        : engines::DistortionLaw::Linear,
            Basique.checked() ? engines::Sampling::Nearest : engines::Sampling::Bilinear};
        engines::corrigerDistorsion(PtsInit.data(), PtsTravail.data(), Largeur, Hauteur, p);
    }
    host::ImgModifiee = true;
    host::sendImage({Largeur, Hauteur}, host::ImgModifiee, false);
}

void TCorrDist::BasiqueClick() {
    TauxCorrMouseUp();
}

void TCorrDist::ReInitClick() {
    TauxCorr.setPosition(0);
    TauxCorrMouseUp();
    host::ImgModifiee = false;
}

void TCorrDist::AnnulerClick() {
    host::ImgModifiee = false;
}

void TCorrDist::AppliquerClick() {
    host::ImgModifiee = true;
}

void TCorrDist::FormClose() {
    PtsInit.clear();
    host::sendImage({Largeur, Hauteur}, host::ImgModifiee, true);
}

TCorrDist* corrDist() {
    return gCorrDist;
}

void startCorrDistor() {
    gCorrDist = &tk::application().createForm<TCorrDist>();
}

// The application object destroys the dialog with every form it owns.
void stopCorrDistor() {
    gCorrDist = nullptr;
}

void ouvrirDistorsion(TPtImg* img, TDimImg dim) {
    if (gCorrDist) gCorrDist->Ouvrir(img, dim);
}

} // namespace talvine::dialogs
