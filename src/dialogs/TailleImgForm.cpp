// The form of the resize dialog, as data.
#include "dialogs/TailleImg.h"

namespace talvine::dialogs {
namespace {

using K = tk::ControlKind;

tk::ControlDesc control(K kind, const char* name, const char* parent, const char* caption,
                        tk::Rect bounds, int tab = -1) {
    tk::ControlDesc d;
    d.kind = kind;
    d.name = name;
    d.parent = parent;
    d.caption = caption;
    d.bounds = bounds;
    if (tab >= 0) d.tabOrder = tab;
    return d;
}

tk::ControlDesc on(tk::ControlDesc d, const char* event, const char* handler) {
    d.events.push_back({event, handler});
    return d;
}

tk::ControlDesc percent(const char* name, tk::Rect bounds, const char* handler, int tab) {
    tk::ControlDesc d =
        on(control(K::SpinEdit, name, "Dimensions", "", bounds, tab), "OnChange", handler);
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
    f.events = {{"OnShow", "FormShow"}, {"OnClose", "FormClose"}};

    tk::ControlDesc appliquer =
        on(control(K::BitBtn, "Appliquer", "", "Appliquer", {8, 140, 97, 27}, 1), "OnClick",
           "AppliquerClick");
    appliquer.buttonKind = tk::ButtonKind::Ok;
    tk::ControlDesc annuler =
        on(control(K::BitBtn, "Annuler", "", "", {122, 140, 97, 27}, 2), "OnClick", "AnnulerClick");
    annuler.buttonKind = tk::ButtonKind::Cancel;
    tk::ControlDesc lien =
        on(control(K::CheckBox, "LienHsurL", "", "Conserver le rapport H / L", {8, 90, 211, 17}, 3),
           "OnClick", "LienHsurLClick");
    lien.checked = true;
    tk::ControlDesc lissage =
        control(K::CheckBox, "Lissage", "", "Lissage par interpolation", {8, 112, 211, 17}, 4);
    lissage.checked = false;

    f.controls = {
        control(K::GroupBox, "Dimensions", "", " Nouvelles Dimensions ", {8, 8, 211, 73}, 0),
        appliquer,
        annuler,
        control(K::Label, "Label3", "Dimensions", "Horizontale :", {8, 22, 62, 13}),
        control(K::Label, "Label4", "Dimensions", "Verticale :", {8, 48, 50, 13}),
        on(control(K::EditVal, "DimHorz", "Dimensions", "", {74, 18, 49, 21}, 0), "OnChange",
           "DimHorzChange"),
        on(control(K::EditVal, "DimVert", "Dimensions", "", {74, 44, 49, 21}, 1), "OnChange",
           "DimVertChange"),
        control(K::Label, "Label7", "Dimensions", "pixels", {128, 22, 27, 13}),
        control(K::Label, "Label8", "Dimensions", "pixels", {128, 48, 27, 13}),
        lien,
        lissage,
        percent("TauxH", {160, 18, 45, 22}, "TauxHChange", 2),
        percent("TauxV", {160, 44, 45, 22}, "TauxVChange", 3),
    };
    return f;
}

} // namespace talvine::dialogs
