#include "dialogs/TailleImg.h"

#include "core/Cursor.h"
#include "dialogs/DecoupImg.h"
#include "engines/TailleImg.h"

#include <climits>
#include <cmath>
#include <new>
#include <string>

namespace talvine::dialogs {
namespace {

// Round(a / b), ties to even, with the division in extended precision.
int64_t roundedQuotient(int64_t a, int32_t b) {
    return static_cast<int64_t>(rintl(static_cast<long double>(a) / b));
}

// Eight times a side, kept within the field's 32 bits.
int32_t eightTimes(int32_t side) {
    return static_cast<int32_t>(std::min<int64_t>(int64_t{side} * 8, INT32_MAX));
}

int clampToInt(int64_t v) {
    return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX));
}

} // namespace

struct TChangeDim::Axis {
    tk::TEditVal& pixels;
    tk::SpinEdit& percent;
    tk::SpinEdit& otherPercent;
    int32_t size;
    bool& listening;
};

TChangeDim::TChangeDim(tk::Application& app)
    : PictureDialog(app, changeDimForm(), Kind::Modal), Dimensions(get<tk::GroupBox>("Dimensions")),
      Appliquer(get<tk::Button>("Appliquer")), Annuler(get<tk::Button>("Annuler")),
      Label3(get<tk::Label>("Label3")), Label4(get<tk::Label>("Label4")),
      DimHorz(get<tk::TEditVal>("DimHorz")), DimVert(get<tk::TEditVal>("DimVert")),
      Label7(get<tk::Label>("Label7")), Label8(get<tk::Label>("Label8")),
      LienHsurL(get<tk::CheckBox>("LienHsurL")), Lissage(get<tk::CheckBox>("Lissage")),
      TauxH(get<tk::SpinEdit>("TauxH")), TauxV(get<tk::SpinEdit>("TauxV")) {
    Appliquer.setGlyph(scissorsGlyph());
    using E = tk::EventKind;
    bind(E::Show, this, &TChangeDim::FormShow);
    bind(E::Close, this, &TChangeDim::FormClose);
    bind("TauxH", E::Change, this, &TChangeDim::TauxHChange);
    bind("TauxV", E::Change, this, &TChangeDim::TauxVChange);
    bind("DimHorz", E::Change, this, &TChangeDim::DimHorzChange);
    bind("DimVert", E::Change, this, &TChangeDim::DimVertChange);
    bind("LienHsurL", E::Click, this, &TChangeDim::LienHsurLClick);
    bind("Appliquer", E::Click, this, &TChangeDim::AppliquerClick);
    bind("Annuler", E::Click, this, &TChangeDim::AnnulerClick);
}

TChangeDim::Axis TChangeDim::horizontal() {
    return {DimHorz, TauxH, TauxV, Largeur, EcouteH};
}
TChangeDim::Axis TChangeDim::vertical() {
    return {DimVert, TauxV, TauxH, Hauteur, EcouteV};
}

// The modal dialog shows no preview and writes nothing into the host's array,
// and the host waits in its call until the dialog closes: the pixels as they
// were at opening are the array itself, shared rather than copied (a copy
// would be a third picture's worth of memory).
PtsImg TChangeDim::pixelsAtOpening() const {
    return PtsTravail;
}

void TChangeDim::FormShow() {
    EcouteH = true;
    EcouteV = true;
    GarderRapport = true;
    LienHsurL.setChecked(true);
    DimHorz.Initialiser(Largeur, 0, eightTimes(Largeur));
    DimVert.Initialiser(Hauteur, 0, eightTimes(Hauteur));
    TauxH.setValue(100);
    TauxV.setValue(100);
    EcouteH = true;
    EcouteV = true;
}

void TChangeDim::percentChanged(const Axis& axis) {
    if (!axis.listening) { // the echo of our own update of the pixel field
        axis.listening = true;
        return;
    }
    axis.listening = false;
    const int64_t p = axis.percent.value();
    axis.pixels.setText(std::to_string(roundedQuotient(p * axis.size, 100)));
    if (GarderRapport) axis.otherPercent.setValue(axis.percent.value());
}

void TChangeDim::pixelsChanged(const Axis& axis) {
    if (!axis.listening || axis.pixels.text().empty()) {
        axis.listening = true;
        return;
    }
    axis.listening = false;
    axis.pixels.Verifier(); // a failure leaves the axis deaf for its next change
    // A side of 0 pixels has no percentage to derive: its field has no range
    // and takes any number, but every percentage of 0 pixels is 0, so the
    // percentage stays as it is.
    if (axis.size == 0) return;
    axis.percent.setValue(
        clampToInt(roundedQuotient(int64_t{axis.pixels.Valeur} * 100, axis.size)));
    if (GarderRapport) axis.otherPercent.setValue(axis.percent.value());
}

void TChangeDim::TauxHChange() {
    percentChanged(horizontal());
}
void TChangeDim::TauxVChange() {
    percentChanged(vertical());
}
void TChangeDim::DimHorzChange() {
    pixelsChanged(horizontal());
}
void TChangeDim::DimVertChange() {
    pixelsChanged(vertical());
}

void TChangeDim::LienHsurLClick() {
    if (LienHsurL.checked()) {
        GarderRapport = true;
        TauxV.setValue(TauxH.value());
    } else {
        GarderRapport = false;
    }
}

void TChangeDim::FormClose() {
    if (host::ImgModifiee) {
        {
            BusyCursor busy;
            DimHorz.Verifier();
            DimVert.Verifier();
            NouvLargeur = DimHorz.Valeur;
            NouvHauteur = DimVert.Valeur;
            if (Lissage.checked())
                RetaillerLisse();
            else
                RetaillerBasique();
        }
        host::callBack({NouvLargeur, NouvHauteur}, PtReserve, rtImage,
                       reinterpret_cast<intptr_t>(PtsTravail.handle()), host::ImgModifiee, true);
    }
    PtsInit.clear();
}

template <class Kernel> void TChangeDim::retailler(Kernel kernel) {
    // The steps W / NW and H / NH come first: a zero side fails before the
    // new array exists.
    if (NouvLargeur == 0 || NouvHauteur == 0) throw tk::Exception(kDivisionParZero);
    // Then a picture without pixels, whatever size was typed for it.
    if (Largeur == 0 || Hauteur == 0 || NouvLargeur < 0 || NouvHauteur < 0)
        throw tk::Exception(kImageVide);
    const int64_t length = engines::resizedLength(NouvLargeur, NouvHauteur);
    if (length > INT32_MAX) throw tk::Exception(kMemoireInsuffisante);
    PtsImg fresh;
    try {
        fresh = PtsImg(static_cast<int32_t>(length));
    } catch (const std::bad_alloc&) {
        throw tk::Exception(kMemoireInsuffisante);
    }
    kernel(PtsInit.data(), Largeur, Hauteur, fresh.data(), NouvLargeur, NouvHauteur);
    // The host's array stays as it was; the dialog now holds the new one alone.
    PtsTravail = std::move(fresh);
}

void TChangeDim::RetaillerBasique() {
    retailler(engines::resizeNearest);
}
void TChangeDim::RetaillerLisse() {
    retailler(engines::resizeSmoothed);
}

} // namespace talvine::dialogs
