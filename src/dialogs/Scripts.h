// The five dialogs driven as a user drives them, through the automation API:
// the steps a user takes in each (the points picked, the fields typed, the
// slider dragged, the closing buttons), written once for every program that
// answers the dialogs without a screen (the command-line tool, the host test
// programs, the benchmarks, the fuzz targets).
//
// The scripts never call an entry point.  The host opens the dialog
// (XchgData, sub-mode 0) and, where a step needs it, reports what its user
// picked on the picture through the callback it hands in (XchgData,
// sub-mode 1), so that each program calls the entry point its own way.  The
// modal dialogs' steps are queued, to run inside the call that opens them;
// the modeless dialogs' steps run at once, after that call.
//
//   BoxWatcher boxes(ui);
//   ui.queue(...);                                         // modal: queueResize
//   XchgData(TALVINE_CMD_INCLINAISON, ..., 0, ...);       // the host opens
//   pickTilt(ui, {from, to, true}, [&](Point p) { XchgData(..., 1, ...); });
//   if (!boxes.first()) apply(ui, TALVINE_CMD_INCLINAISON);
#pragma once

#include "core/Geometry.h"
#include "toolkit/Automation.h"

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace talvine::dialogs::scripts {

// The pick boxes blink at 200 ms: the user waits past the first tick before
// clicking the picture.
inline constexpr int kPickPauseMs = 300;

// The host's side of a pick: it reports the point its user picked on the
// picture to the open dialog.
using PointReport = std::function<void(Point)>;

// The dialogs by their command (TALVINE_CMD_*).  formName throws
// std::invalid_argument for a command that opens no dialog.
std::string_view formName(int command);
// The resize and the distortion: their steps are queued before the call.
bool opensModal(int command);
// The tilt, the crop and the perspective: open after the call, they take the
// host's reports (sub-mode 1) of points or a selection.
bool takesReports(int command);
bool isOpen(const tk::Automation& ui, int command);
// The closing buttons.
void apply(tk::Automation& ui, int command);
void cancel(tk::Automation& ui, int command);

// Enters a whole value in one edit, as a paste does.  Typed key by key, each
// prefix would move the linked fields too, and a prefix that leaves the other
// control as it was makes the axis miss the next key (2 then 20 then 200 in
// TauxH on a picture 2 pixels high leaves the height at 0).
void paste(tk::Automation& ui, std::string_view path, int value);

// Tilt (TALVINE_CMD_INCLINAISON): the line from `from` to `to` comes out
// level, turned about `from`.
struct Tilt {
    Point from;
    Point to;
    bool bilinear = false;
};
// The sampling, then each point: its pick box clicked, a pause, the host's
// report.  The dialog stays open.
void pickTilt(tk::Automation& ui, const Tilt& tilt, const PointReport& report);

// Crop (TALVINE_CMD_ROGNER).
struct Crop {
    std::array<int, 4> rect{}; // left margin, top margin, width, height
    int format = 0;            // FormatImg's item: free, 2/3H, 2/3V, 3/4H, 3/4V
};
// The format, then the four fields typed over.  The dialog stays open.
void typeCrop(tk::Automation& ui, const Crop& crop);
// After a refusal: a field in error holds the close back, so the fields are
// put right (0) first, then the dialog is cancelled.
void cancelCrop(tk::Automation& ui);

// Resize (TALVINE_CMD_REDIMENSIONNER), modal.
enum class SizeBy { Width, Height, Both, Percent };
struct Resize {
    SizeBy by = SizeBy::Percent;
    int first = 100; // the width, the height, or the percentage
    int second = 0;  // the height, for SizeBy::Both
    bool smooth = false;
};
// Queues one turn of the dialog's loop: the smoothing, the size pasted in
// (the sides unlinked first for SizeBy::Both), then Appliquer.
void queueResize(tk::Automation& ui, const Resize& resize);

// Distortion (TALVINE_CMD_DISTORSION), modal.
struct Distortion {
    int rate = 0; // the slider, -100 to 100
    int law = 1;  // 1: (1 + a.R), 2: (1 + a.R²)
    bool bilinear = false;
};
// Queues a turn for each step: the law and the sampling when they differ
// from the dialog's opening state, the slider dragged, then Appliquer.
void queueDistortion(tk::Automation& ui, const Distortion& distortion);

// Perspective (TALVINE_CMD_PERSPECTIVE).
struct Perspective {
    std::array<Point, 4> corners; // top-left, top-right, bottom-right, bottom-left
    int vertical = 5;             // the vertical stretch's slider, 0 to 10
    bool bilinear = false;
};
// The stretch, the sampling, then each corner: its pick box clicked, a
// pause, the host's report.  The dialog stays open.
void pickPerspective(tk::Automation& ui, const Perspective& perspective, const PointReport& report);

// Watches the boxes the dialogs show for as long as it lives, instead of
// leaving them to the headless backend's record alone.  One at a time: it
// takes the backend's one listener, and lets it go at destruction.
class BoxWatcher {
  public:
    explicit BoxWatcher(tk::Automation& ui);
    ~BoxWatcher();
    BoxWatcher(const BoxWatcher&) = delete;
    BoxWatcher& operator=(const BoxWatcher&) = delete;

    // The text of the first box shown since the watch began.
    const std::optional<std::string>& first() const { return first_; }

  private:
    tk::Application& app_;
    tk::HeadlessBackend& backend_;
    std::optional<std::string> first_;
};

} // namespace talvine::dialogs::scripts
