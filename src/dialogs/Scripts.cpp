#include "dialogs/Scripts.h"

#include "core/Host.h" // the public header's command numbers, TALVINE_CMD_*
#include "toolkit/Controls.h"

#include <stdexcept>

namespace talvine::dialogs::scripts {
namespace {

std::string path(int command, std::string_view control) {
    return std::string(formName(command)) + "." + std::string(control);
}

// A pick box clicked, the user's pause while it starts blinking, then the
// host's report of the point picked.
void pick(tk::Automation& ui, const std::string& box, Point point, const PointReport& report) {
    ui.click(box);
    ui.advance(kPickPauseMs);
    report(point);
}

} // namespace

std::string_view formName(int command) {
    switch (command) {
    case TALVINE_CMD_INCLINAISON:
        return "InclineHorz";
    case TALVINE_CMD_ROGNER:
        return "RogneImg";
    case TALVINE_CMD_REDIMENSIONNER:
        return "ChangeDim";
    case TALVINE_CMD_DISTORSION:
        return "CorrDist";
    case TALVINE_CMD_PERSPECTIVE:
        return "CorrPerspect";
    default:
        throw std::invalid_argument("command " + std::to_string(command) + " opens no dialog");
    }
}

bool opensModal(int command) {
    return command == TALVINE_CMD_REDIMENSIONNER || command == TALVINE_CMD_DISTORSION;
}

bool takesReports(int command) {
    return command == TALVINE_CMD_INCLINAISON || command == TALVINE_CMD_ROGNER ||
           command == TALVINE_CMD_PERSPECTIVE;
}

bool isOpen(const tk::Automation& ui, int command) {
    return ui.visible(formName(command));
}

void apply(tk::Automation& ui, int command) {
    ui.click(path(command, "Appliquer"));
}

void cancel(tk::Automation& ui, int command) {
    ui.click(path(command, "Annuler"));
}

void paste(tk::Automation& ui, std::string_view path, int value) {
    ui.focus(path);
    auto& field = ui.get<tk::Edit>(path);
    ui.app().dispatch([&] {
        field.selectAll();
        field.replaceSelection(std::to_string(value));
    });
}

// Tilt ------------------------------------------------------------------------

void pickTilt(tk::Automation& ui, const Tilt& tilt, const PointReport& report) {
    if (tilt.bilinear) ui.click("InclineHorz.InterBiLin");
    pick(ui, "InclineHorz.PtRot1", tilt.from, report);
    pick(ui, "InclineHorz.PtRot2", tilt.to, report);
}

// Crop ------------------------------------------------------------------------

namespace {
constexpr std::array<const char*, 4> kCropFields = {"RogneImg.MrgG", "RogneImg.MrgH",
                                                    "RogneImg.DimHorz", "RogneImg.DimVert"};
}

void typeCrop(tk::Automation& ui, const Crop& crop) {
    if (crop.format != 0) ui.clickItem("RogneImg.FormatImg", crop.format);
    for (size_t k = 0; k < kCropFields.size(); ++k)
        ui.replaceText(kCropFields[k], std::to_string(crop.rect[k]));
}

void cancelCrop(tk::Automation& ui) {
    for (const char* field : kCropFields)
        ui.replaceText(field, "0");
    cancel(ui, TALVINE_CMD_ROGNER);
}

// Resize ----------------------------------------------------------------------

void queueResize(tk::Automation& ui, const Resize& resize) {
    ui.queue([&ui, o = resize] {
        ui.setChecked("ChangeDim.Lissage", o.smooth);
        switch (o.by) {
        case SizeBy::Width:
            paste(ui, "ChangeDim.DimHorz", o.first);
            break;
        case SizeBy::Height:
            paste(ui, "ChangeDim.DimVert", o.first);
            break;
        case SizeBy::Percent:
            paste(ui, "ChangeDim.TauxH", o.first);
            break;
        case SizeBy::Both:
            ui.setChecked("ChangeDim.LienHsurL", false);
            paste(ui, "ChangeDim.DimHorz", o.first);
            paste(ui, "ChangeDim.DimVert", o.second);
            break;
        }
        apply(ui, TALVINE_CMD_REDIMENSIONNER);
    });
}

// Distortion ------------------------------------------------------------------

void queueDistortion(tk::Automation& ui, const Distortion& distortion) {
    // The dialog opens on the first law and the nearest pixel.
    if (distortion.law == 2) ui.queue([&ui] { ui.clickItem("CorrDist.TypeDistor", 1); });
    if (distortion.bilinear) ui.queue([&ui] { ui.click("CorrDist.InterQuad"); });
    ui.queue([&ui, rate = distortion.rate] { ui.dragSlider("CorrDist.TauxCorr", rate); });
    ui.queue([&ui] { apply(ui, TALVINE_CMD_DISTORSION); });
}

// Perspective -----------------------------------------------------------------

void pickPerspective(tk::Automation& ui, const Perspective& perspective,
                     const PointReport& report) {
    static constexpr std::array<const char*, 4> kBoxes = {
        "CorrPerspect.PosHG", "CorrPerspect.PosHD", "CorrPerspect.PosBD", "CorrPerspect.PosBG"};
    ui.dragSlider("CorrPerspect.CorrVert", perspective.vertical);
    if (perspective.bilinear) ui.click("CorrPerspect.InterQuad");
    for (size_t k = 0; k < kBoxes.size(); ++k)
        pick(ui, kBoxes[k], perspective.corners[k], report);
}

// Boxes -----------------------------------------------------------------------

BoxWatcher::BoxWatcher(tk::Automation& ui) : app_(ui.app()), backend_(ui.headless()) {
    backend_.listen([this](const tk::Box& box) {
        if (!first_) first_ = box.text;
    });
}

BoxWatcher::~BoxWatcher() {
    // A view plugged in meanwhile has destroyed the backend listened to.
    if (app_.headless() == &backend_) backend_.listen(nullptr);
}

} // namespace talvine::dialogs::scripts
