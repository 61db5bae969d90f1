// The form of the tilt dialog, as data, and the picture it shows.
#include "dialogs/ModifAngle.h"

#include "dialogs/FormParts.h"

#include <cmath>
#include <numbers>

namespace talvine::dialogs {

tk::FormDesc inclineHorzForm() {
    using K = tk::ControlKind;
    auto pickBox = [](const char* name, tk::Rect r, int tab) {
        return tk::ControlDesc{.kind = K::CheckBox, .name = name, .bounds = r, .tabOrder = tab};
    };
    tk::FormDesc f{.name = "InclineHorz",
                   .caption = "Inclinaison de l'horizon",
                   .clientWidth = 281,
                   .clientHeight = 221,
                   .border = tk::BorderStyle::Dialog,
                   .systemMenu = false,
                   .helpIcon = false,
                   .stayOnTop = true,
                   .position = tk::FormPosition::ScreenCenter,
                   .controls = {
                       {.kind = K::BitBtn,
                        .name = "ReInit",
                        .caption = "R\xC3\xA9initialiser",
                        .bounds = {8, 186, 81, 27},
                        .tabOrder = 0},
                       {.kind = K::BitBtn,
                        .name = "Appliquer",
                        .caption = "Appliquer",
                        .bounds = {192, 186, 81, 27},
                        .buttonKind = tk::ButtonKind::Ok,
                        .tabOrder = 1},
                       {.kind = K::BitBtn,
                        .name = "Annuler",
                        .bounds = {100, 186, 81, 27},
                        .buttonKind = tk::ButtonKind::Cancel,
                        .tabOrder = 2},
                       pickBox("PtRot2", {193, 109, 12, 12}, 3),
                       pickBox("PtRot1", {65, 109, 12, 12}, 4),
                       {.kind = K::Timer, .name = "Timer", .enabled = false, .interval = 200},
                       {.kind = K::Image, .name = "AngleRot", .bounds = {60, 60, 168, 112}},
                   }};
    const auto sampling = samplingChoice({8, 4, 265, 45}, 5, "InterBiLin", 18, 100);
    f.controls.insert(f.controls.end(), sampling.begin(), sampling.end());
    return f;
}

tk::Picture angleRotPicture() {
    tk::Picture p{168, 112, std::vector<uint8_t>(168 * 112 * 3)};
    auto set = [&p](int x, int y, uint8_t r, uint8_t g, uint8_t b) {
        if (x < 0 || y < 0 || x >= p.width || y >= p.height) return;
        uint8_t* px = &p.rgb[(static_cast<size_t>(y) * p.width + x) * 3];
        px[0] = r;
        px[1] = g;
        px[2] = b;
    };
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            set(x, y, 255, 255, 192);
    // The level line, 3 pixels thick.
    for (int y = 54; y <= 56; ++y)
        for (int x = 14; x <= 140; ++x)
            set(x, y, 0, 0, 0);
    // A curved double-headed arrow about the right end: an arc of radius 16
    // from 50 degrees above the line to 50 degrees below it.
    constexpr double kPi = std::numbers::pi;
    for (int step = -50; step <= 50; ++step) {
        const double a = step * kPi / 180;
        for (double r = 15; r <= 17; r += 0.5)
            set(140 + static_cast<int>(std::lround(r * std::cos(a))),
                55 + static_cast<int>(std::lround(r * std::sin(a))), 0, 0, 0);
    }
    // An arrowhead at each end of the arc: two strokes 6 pixels long,
    // 30 degrees either side of the way back along the arc.
    for (int sign : {-1, 1}) {
        const double a = sign * 50 * kPi / 180;
        const double tipX = 140 + 16 * std::cos(a), tipY = 55 + 16 * std::sin(a);
        const double back = std::atan2(-sign * std::cos(a), sign * std::sin(a));
        for (double side : {-kPi / 6, kPi / 6})
            for (double t = 0; t <= 6; t += 0.25)
                set(static_cast<int>(std::lround(tipX + t * std::cos(back + side))),
                    static_cast<int>(std::lround(tipY + t * std::sin(back + side))), 0, 0, 0);
    }
    return p;
}

} // namespace talvine::dialogs
