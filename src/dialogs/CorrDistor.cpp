#include "dialogs/CorrDistor.h"

#include "core/Cursor.h"
#include "engines/CorrDistor.h"
#include "toolkit/Locale.h"

#include <cstdlib>

namespace talvine::dialogs {

std::string texteTaux(int position) {
    return tk::formatFixed(std::abs(position) / 10.0L, 2, 2) + " %";
}

TCorrDist::TCorrDist(tk::Application& app)
    : PictureDialog(app, corrDistForm(), Kind::Modal),
      TypeProcess(get<tk::GroupBox>("TypeProcess")), Basique(get<tk::RadioButton>("Basique")),
      InterQuad(get<tk::RadioButton>("InterQuad")), TypeDistor(get<tk::RadioGroup>("TypeDistor")),
      Label2(get<tk::Label>("Label2")), Label1(get<tk::Label>("Label1")),
      TauxB(get<tk::Label>("TauxB")), TauxCorr(get<tk::TBarreCurseur>("TauxCorr")),
      TauxC(get<tk::Label>("TauxC")), ReInit(get<tk::Button>("ReInit")),
      Annuler(get<tk::Button>("Annuler")), Appliquer(get<tk::Button>("Appliquer")) {
    using E = tk::EventKind;
    bind(E::Show, this, &TCorrDist::FormShow);
    bind(E::Close, this, &TCorrDist::FormClose);
    // BasiqueClick serves the two sampling buttons and the choice of law.
    for (const char* choice : {"Basique", "InterQuad", "TypeDistor"})
        bind(choice, E::Click, this, &TCorrDist::BasiqueClick);
    bind("TauxCorr", E::Change, this, &TCorrDist::TauxCorrChange);
    bind("TauxCorr", E::MouseUp, this, &TCorrDist::TauxCorrMouseUp);
    bind("ReInit", E::Click, this, &TCorrDist::ReInitClick);
    bind("Annuler", E::Click, this, &TCorrDist::AnnulerClick);
    bind("Appliquer", E::Click, this, &TCorrDist::AppliquerClick);
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
        engines::correctDistortion(PtsInit.data(), PtsTravail.data(), Largeur, Hauteur, p);
    }
    host::ImgModifiee.pictureWritten();
    host::sendImage({Largeur, Hauteur}, host::ImgModifiee, false);
}

void TCorrDist::BasiqueClick() {
    TauxCorrMouseUp();
}

void TCorrDist::ReInitClick() {
    TauxCorr.setPosition(0);
    TauxCorrMouseUp();
    host::ImgModifiee.reset();
}

} // namespace talvine::dialogs
