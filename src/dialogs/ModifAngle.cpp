#include "dialogs/ModifAngle.h"

#include "core/Cursor.h"
#include "dialogs/Commands.h"
#include "engines/ModifAngle.h"
#include "toolkit/Application.h"

#include <algorithm>

namespace talvine::dialogs {
namespace {

TInclineHorz* gInclineHorz = nullptr;

} // namespace

TInclineHorz::TInclineHorz(tk::Application& app)
    : tk::Form(app, inclineHorzForm()),
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

void TInclineHorz::Ouvrir(TPtImg* img, TDimImg dimImg) {
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

void TInclineHorz::FormShow() {
    host::ImgModifiee = false;
    reinitialiserCases();
    Basique.setChecked(true);
}

void TInclineHorz::PtRot2Click(tk::Control& sender) {
    caseCliquee(sender);
}

void TInclineHorz::NouveauPoint(Point point, TPtImg* imgHote) {
    if (!visible() || !holdsPicture(imgHote, Largeur, Hauteur)) return;
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
        engines::pivoter(PtsInit.data(), PtsTravail.data(), Largeur, Hauteur,
                         {Point1, Angle, sampling});
    }
    host::sendImage({Largeur, Hauteur}, host::ImgModifiee, false);
}

void TInclineHorz::ReInitClick() {
    FormShow();
    const int64_t count = std::min(PtsInit.size(), PtsTravail.size());
    std::copy_n(PtsInit.data(), count, PtsTravail.data());
    host::sendImage({Largeur, Hauteur}, false, false);
}

void TInclineHorz::AppliquerClick() {
    host::ImgModifiee = true;
    close();
}

void TInclineHorz::AnnulerClick() {
    host::ImgModifiee = false;
    close();
}

void TInclineHorz::FormClose() {
    PtsInit.clear();
    host::sendImage({Largeur, Hauteur}, host::ImgModifiee, true);
}

TInclineHorz* inclineHorz() {
    return gInclineHorz;
}

void startModifAngle() {
    gInclineHorz = &tk::application().createForm<TInclineHorz>();
}

// The application object destroys the dialog with every form it owns.
void stopModifAngle() {
    gInclineHorz = nullptr;
}

void ouvrirInclinaison(TPtImg* img, TDimImg dim) {
    if (gInclineHorz) gInclineHorz->Ouvrir(img, dim);
}

void nouveauPointInclinaison(Point point, TPtImg* imgHote) {
    if (gInclineHorz) gInclineHorz->NouveauPoint(point, imgHote);
}

} // namespace talvine::dialogs
