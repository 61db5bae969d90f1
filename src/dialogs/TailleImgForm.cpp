// The form of the resize dialog, as data.
#include "dialogs/TailleImg.h"

namespace talvine::dialogs {
namespace {

using K = tk::ControlKind;
using tk::describe;

tk::ControlDesc percent(const char* name, tk::Rect bounds, int tab) {
    tk::ControlDesc d = describe(K::SpinEdit, name, "Dimensions", "", bounds, tab);
    d.min = 0;
    d.max = 800;
    d.step = 10;
    d.value = 100;
    return d;
}

} // namespace

tk::FormDesc changeDimForm() {
    tk::FormDesc f;
    f.name = "ChangeDim";
    f.caption = "Redimensionner";
    f.clientWidth = 227;
    f.clientHeight = 175;
    f.border = tk::BorderStyle::Dialog;
    f.stayOnTop = false;
    f.position = tk::FormPosition::ScreenCenter;

    tk::ControlDesc appliquer =
        describe(K::BitBtn, "Appliquer", "", "Appliquer", {8, 140, 97, 27}, 1);
    appliquer.buttonKind = tk::ButtonKind::Ok;
    tk::ControlDesc annuler = describe(K::BitBtn, "Annuler", "", "", {122, 140, 97, 27}, 2);
    annuler.buttonKind = tk::ButtonKind::Cancel;
    tk::ControlDesc lien =
        describe(K::CheckBox, "LienHsurL", "", "Conserver le rapport H / L", {8, 90, 211, 17}, 3);
    lien.checked = true;
    tk::ControlDesc lissage =
        describe(K::CheckBox, "Lissage", "", "Lissage par interpolation", {8, 112, 211, 17}, 4);
    lissage.checked = false;

    f.controls = {
        describe(K::GroupBox, "Dimensions", "", " Nouvelles Dimensions ", {8, 8, 211, 73}, 0),
        appliquer,
        annuler,
        describe(K::Label, "Label3", "Dimensions", "Horizontale :", {8, 22, 62, 13}),
        describe(K::Label, "Label4", "Dimensions", "Verticale :", {8, 48, 50, 13}),
        describe(K::EditVal, "DimHorz", "Dimensions", "", {74, 18, 49, 21}, 0),
        describe(K::EditVal, "DimVert", "Dimensions", "", {74, 44, 49, 21}, 1),
        describe(K::Label, "Label7", "Dimensions", "pixels", {128, 22, 27, 13}),
        describe(K::Label, "Label8", "Dimensions", "pixels", {128, 48, 27, 13}),
        lien,
        lissage,
        percent("TauxH", {160, 18, 45, 22}, 2),
        percent("TauxV", {160, 44, 45, 22}, 3),
    };
    return f;
}

} // namespace talvine::dialogs
