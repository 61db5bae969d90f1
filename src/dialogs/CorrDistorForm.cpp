// The form of the distortion dialog, as data.
#include "dialogs/CorrDistor.h"

#include "dialogs/FormParts.h"

namespace talvine::dialogs {

tk::FormDesc corrDistForm() {
    using K = tk::ControlKind;
    tk::FormDesc f{
        .name = "CorrDist",
        .caption = "Correction de distorsion",
        .clientWidth = 296,
        .clientHeight = 185,
        .border = tk::BorderStyle::Dialog,
        .systemMenu = false,
        .helpIcon = true,
        .stayOnTop = false,
        .position = tk::FormPosition::ScreenCenter,
        .controls = {
            {.kind = K::RadioGroup,
             .name = "TypeDistor",
             .caption = " Type de distorsion ",
             .bounds = {8, 50, 280, 41},
             .items = {kLoiLineaire, kLoiCarree},
             .columns = 2,
             .value = 0,
             .tabOrder = 1},
            {.kind = K::Label,
             .name = "Label2",
             .caption = "Coussinet",
             .bounds = {72, 98, 47, 13}},
            {.kind = K::Label,
             .name = "Label1",
             .caption = "Barillet",
             .bounds = {180, 98, 37, 13}},
            {.kind = K::Label,
             .name = "TauxB",
             .caption = "TauxB",
             .bounds = {4, 122, 50, 13},
             .alignment = tk::Alignment::Right},
            {.kind = K::BarreCurseur,
             .name = "TauxCorr",
             .bounds = {58, 112, 180, 34},
             .min = -100,
             .max = 100,
             .value = 0,
             .step = 10,
             .tabOrder = 2},
            {.kind = K::Label, .name = "TauxC", .caption = "TauxC", .bounds = {242, 122, 50, 13}},
            {.kind = K::Button,
             .name = "ReInit",
             .caption = "R\xC3\xA9initialiser",
             .bounds = {8, 152, 89, 25},
             .tabOrder = 3},
            {.kind = K::Button,
             .name = "Annuler",
             .bounds = {104, 152, 89, 25},
             .buttonKind = tk::ButtonKind::Cancel,
             .tabOrder = 4},
            {.kind = K::Button,
             .name = "Appliquer",
             .caption = "Appliquer",
             .bounds = {200, 152, 89, 25},
             .buttonKind = tk::ButtonKind::Ok,
             .tabOrder = 5},
        }};
    const auto sampling = samplingChoice({8, 4, 280, 41}, 0, "InterQuad", 16, 120);
    f.controls.insert(f.controls.begin(), sampling.begin(), sampling.end());
    return f;
}

} // namespace talvine::dialogs
