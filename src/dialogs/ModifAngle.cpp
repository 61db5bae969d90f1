#include "dialogs/ModifAngle.h"

#include "core/Cursor.h"
#include "engines/ModifAngle.h"
#include "toolkit/Application.h"

namespace talvine::dialogs {

TInclineHorz::TInclineHorz(tk::Application& app)
    : PictureDialog(app, inclineHorzForm(), Kind::PicksPoints),
      PickBoxes(get<tk::Timer>("Timer"),
                {&get<tk::CheckBox>("PtRot1"), &get<tk::CheckBox>("PtRot2")}),
      ReInit(get<tk::Button>("ReInit")), Appliquer(get<tk::Button>("Appliquer")),
      Annuler(get<tk::Button>("Annuler")), PtRot2(get<tk::CheckBox>("PtRot2")),
      PtRot1(get<tk::CheckBox>("PtRot1")), Timer(get<tk::Timer>("Timer")),
      AngleRot(get<tk::Image>("AngleRot")), TypeProcess(get<tk::GroupBox>("TypeProcess")),
      Basique(get<tk::RadioButton>("Basique")), InterBiLin(get<tk::RadioButton>("InterBiLin")) {
    AngleRot.setPicture(angleRotPicture());
    using E = tk::EventKind;
    bind(E::Show, this, &TInclineHorz::FormShow);
    bind(E::Close, this, &TInclineHorz::FormClose);
    // PtRot2Click serves both pick boxes.
    bind("PtRot1", E::Click, this, &TInclineHorz::PtRot2Click);
    bind("PtRot2", E::Click, this, &TInclineHorz::PtRot2Click);
    bind("Timer", E::Timer, this, &TInclineHorz::TimerTimer);
    bind("ReInit", E::Click, this, &TInclineHorz::ReInitClick);
    bind("Appliquer", E::Click, this, &TInclineHorz::AppliquerClick);
    bind("Annuler", E::Click, this, &TInclineHorz::AnnulerClick);
}

void TInclineHorz::FormShow() {
    host::ImgModifiee.reset();
    reinitialiserCases();
    Basique.setChecked(true);
}

void TInclineHorz::PtRot2Click(tk::Control& sender) {
    caseCliquee(sender);
}

void TInclineHorz::NouveauPoint(Point point, TPtImg* imgHote) {
    if (!takesReport(imgHote)) return;
    const tk::CheckBox* picked = prendrePoint();
    if (picked == &PtRot1) Point1 = point;
    if (picked == &PtRot2) Point2 = point;
    PtsTravail = PtsImg::share(imgHote);
    if (PtRot1.checked() && PtRot2.checked()) {
        const auto angle = engines::tiltAngle(Point1, Point2);
        if (!angle) {
            // The warning must not hide behind the dialog.
            setStayOnTop(false);
            app().showWarning(kEcartNul);
            setStayOnTop(true);
            return;
        }
        Angle = *angle;
        Pivoter();
    }
}

void TInclineHorz::Pivoter() {
    {
        BusyCursor busy;
        const engines::Sampling sampling =
            InterBiLin.checked() ? engines::Sampling::Bilinear : engines::Sampling::Nearest;
        engines::tilt(PtsInit.data(), PtsTravail.data(), Largeur, Hauteur,
                      {Point1, Angle, sampling});
    }
    host::sendImage({Largeur, Hauteur}, host::ImgModifiee, false);
}

void TInclineHorz::ReInitClick() {
    FormShow();
    restorePicture();
}

} // namespace talvine::dialogs
