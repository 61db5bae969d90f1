// The form of the perspective dialog, as data, and the picture it shows.
#include "dialogs/Perspective.h"

#include "dialogs/FormParts.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace talvine::dialogs {

namespace {

// Fond's place in the client area; the corner boxes sit on its grid.
constexpr int kFondLeft = 64, kFondTop = 84;

tk::ControlDesc cornerBox(const char* name, int dx, int dy, int tab) {
    return tk::ControlDesc{.kind = tk::ControlKind::CheckBox,
                           .name = name,
                           .bounds = {kFondLeft + dx, kFondTop + dy, 12, 12},
                           .tabOrder = tab};
}

} // namespace

tk::FormDesc corrPerspectForm() {
    using K = tk::ControlKind;
    tk::FormDesc f{.name = "CorrPerspect",
                   .caption = "Correction de perspective",
                   .clientWidth = 296,
                   .clientHeight = 234,
                   .border = tk::BorderStyle::Dialog,
                   .systemMenu = false,
                   .helpIcon = true,
                   .stayOnTop = true,
                   .position = tk::FormPosition::ScreenCenter,
                   .controls = {
                       {.kind = K::Label,
                        .name = "Label1",
                        .parent = "TypeProcess",
                        .caption = "Correction verticale",
                        .bounds = {12, 42, 98, 13}},
                       {.kind = K::BarreCurseur,
                        .name = "CorrVert",
                        .parent = "TypeProcess",
                        .bounds = {112, 36, 122, 30},
                        .min = 0,
                        .max = 10,
                        .value = 0,
                        .step = 1,
                        .thumbLength = 15},
                       {.kind = K::Label,
                        .name = "TxCrVert",
                        .parent = "TypeProcess",
                        .caption = "100 %",
                        .bounds = {238, 42, 34, 13},
                        .alignment = tk::Alignment::Right},
                       {.kind = K::Image,
                        .name = "Fond",
                        .bounds = {kFondLeft, kFondTop, 168, 112},
                        .stretch = true},
                       cornerBox("PosHG", 28, 10, 1),
                       cornerBox("PosHD", 143, 10, 2),
                       cornerBox("PosBD", 146, 92, 3),
                       cornerBox("PosBG", 1, 92, 4),
                       {.kind = K::Button,
                        .name = "ReInit",
                        .caption = "R\xC3\xA9initialiser",
                        .bounds = {8, 203, 89, 25},
                        .tabOrder = 5},
                       {.kind = K::Button,
                        .name = "Annuler",
                        .bounds = {104, 203, 89, 25},
                        .buttonKind = tk::ButtonKind::Cancel,
                        .tabOrder = 6},
                       {.kind = K::Button,
                        .name = "Appliquer",
                        .caption = "Appliquer",
                        .bounds = {200, 203, 89, 25},
                        .buttonKind = tk::ButtonKind::Ok,
                        .tabOrder = 7},
                       {.kind = K::Timer, .name = "Timer", .enabled = false, .interval = 200},
                   }};
    const auto sampling = samplingChoice({8, 4, 280, 74}, 0, "InterQuad", 16, 100);
    f.controls.insert(f.controls.begin(), sampling.begin(), sampling.end());
    return f;
}

tk::Picture fondPicture() {
    tk::Picture p{168, 112, std::vector<uint8_t>(168 * 112 * 3)};
    for (size_t i = 0; i < p.rgb.size(); i += 3) {
        p.rgb[i] = 255;
        p.rgb[i + 1] = 255;
        p.rgb[i + 2] = 192;
    }
    auto dot = [&p](int x, int y) {
        if (x < 0 || y < 0 || x >= p.width || y >= p.height) return;
        const size_t at = (static_cast<size_t>(y) * p.width + x) * 3;
        p.rgb[at] = p.rgb[at + 1] = p.rgb[at + 2] = 0;
    };
    auto line = [&dot](double x0, double y0, double x1, double y1) {
        const int steps = static_cast<int>(std::max(std::abs(x1 - x0), std::abs(y1 - y0))) + 1;
        for (int k = 0; k <= steps; ++k) {
            const double t = static_cast<double>(k) / steps;
            dot(static_cast<int>(std::lround(x0 + t * (x1 - x0))),
                static_cast<int>(std::lround(y0 + t * (y1 - y0))));
        }
    };
    // The trapezoid through the centres of the four corner boxes: narrow at
    // the top, as converging verticals look.
    constexpr double topY = 16, bottomY = 98;
    constexpr double topLeft = 34, topRight = 149, bottomLeft = 7, bottomRight = 152;
    constexpr int kColumns = 5, kRows = 4;
    for (int i = 0; i <= kColumns; ++i) {
        const double t = static_cast<double>(i) / kColumns;
        line(bottomLeft + t * (bottomRight - bottomLeft), bottomY,
             topLeft + t * (topRight - topLeft), topY);
    }
    for (int j = 0; j <= kRows; ++j) {
        const double t = static_cast<double>(j) / kRows; // 0 at the top
        const double y = topY + t * (bottomY - topY);
        line(topLeft + t * (bottomLeft - topLeft), y, topRight + t * (bottomRight - topRight), y);
    }
    return p;
}

} // namespace talvine::dialogs
