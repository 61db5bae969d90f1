// The form of the crop dialog, as data, and the scissors glyph of the
// "Appliquer" buttons.
#include "dialogs/DecoupImg.h"

#include <array>

namespace talvine::dialogs {

namespace {

using K = tk::ControlKind;
using tk::describe;

tk::ControlDesc field(const char* name, const char* parent, tk::Rect bounds, int tab) {
    return describe(K::EditVal, name, parent, "", bounds, tab);
}

} // namespace

tk::FormDesc rogneImgForm() {
    tk::FormDesc f;
    f.name = "RogneImg";
    f.caption = "Rogner";
    f.clientWidth = 201;
    f.clientHeight = 297;
    f.border = tk::BorderStyle::Dialog;
    f.stayOnTop = true;
    f.position = tk::FormPosition::ScreenCenter;

    tk::ControlDesc format =
        describe(K::RadioGroup, "FormatImg", "", " Format ", {8, 168, 185, 89}, 2);
    format.items = {"Libre", "2/3 Horizontal", "2/3 Vertical", "3/4 Horizontal", "3/4 Vertical"};
    format.value = 0;
    tk::ControlDesc appliquer =
        describe(K::BitBtn, "Appliquer", "", "Appliquer", {8, 264, 89, 25}, 3);
    appliquer.buttonKind = tk::ButtonKind::Ok;
    tk::ControlDesc annuler = describe(K::BitBtn, "Annuler", "", "", {104, 264, 89, 25}, 4);
    annuler.buttonKind = tk::ButtonKind::Cancel;

    f.controls = {
        describe(K::GroupBox, "Marges", "", " Marges ", {8, 8, 185, 73}, 0),
        field("MrgG", "Marges", {80, 18, 57, 21}, 0),
        field("MrgH", "Marges", {80, 44, 57, 21}, 1),
        describe(K::GroupBox, "Dimensions", "", " Dimensions ", {8, 88, 185, 73}, 1),
        field("DimHorz", "Dimensions", {80, 18, 57, 21}, 0),
        field("DimVert", "Dimensions", {80, 44, 57, 21}, 1),
        format,
        appliquer,
        annuler,
        describe(K::Label, "Label1", "Marges", "Haute :", {8, 48, 36, 13}),
        describe(K::Label, "Label2", "Marges", "Gauche :", {8, 22, 44, 13}),
        describe(K::Label, "Label3", "Dimensions", "Horizontale :", {8, 22, 62, 13}),
        describe(K::Label, "Label4", "Dimensions", "Verticale :", {8, 48, 50, 13}),
        describe(K::Label, "Label5", "Marges", "pixels", {144, 22, 27, 13}),
        describe(K::Label, "Label6", "Marges", "pixels", {144, 48, 27, 13}),
        describe(K::Label, "Label7", "Dimensions", "pixels", {144, 22, 27, 13}),
        describe(K::Label, "Label8", "Dimensions", "pixels", {144, 48, 27, 13}),
    };
    return f;
}

tk::Picture scissorsGlyph() {
    // 16 colours at most: '.' background (the toolkit's transparent olive),
    // 'k' black, 'g' grey, 'w' white, 'r' red handles, 'b' blue lines.
    static constexpr std::array<const char*, 16> kArt = {
        "................", //
        ".k.....k..wwwww.", //
        ".k.....k..wbbbwk", //
        "..k...k...wwwwwk", //
        "..k...k...wbbbwk", //
        "...k.k....wwwwwk", //
        "...k.k....wbbbwk", //
        "....k.....wwwwwk", //
        "...k.k....wbbbwk", //
        "..rr.rr...wwwwwk", //
        ".r..r..r..wbbbwk", //
        ".r..r..r..wwwwwk", //
        "..rr.rr...kkkkkk", //
        "................", //
        "................", //
        "................", //
    };
    auto colour = [](char c, bool greyed) -> std::array<uint8_t, 3> {
        if (c == '.') return {128, 128, 0};
        if (greyed)
            return c == 'w' ? std::array<uint8_t, 3>{255, 255, 255}
                            : std::array<uint8_t, 3>{128, 128, 128};
        switch (c) {
        case 'k':
            return {0, 0, 0};
        case 'g':
            return {128, 128, 128};
        case 'w':
            return {255, 255, 255};
        case 'r':
            return {255, 0, 0};
        case 'b':
            return {0, 0, 255};
        default:
            return {192, 192, 192};
        }
    };
    tk::Picture p{32, 16, {}};
    p.rgb.reserve(32 * 16 * 3);
    for (const char* row : kArt)
        for (int half = 0; half < 2; ++half)
            for (int x = 0; x < 16; ++x) {
                const auto c = colour(row[x], half == 1);
                p.rgb.insert(p.rgb.end(), c.begin(), c.end());
            }
    return p;
}

} // namespace talvine::dialogs
