// The editor's logic, apart from its widgets: the plug-in module it loaded,
// the picture (a pixel array shared with the module), the undo and redo
// history of whole pictures, what the module's callbacks asked for (pick a
// point, draw a rectangle of a given proportion, show a frame) and the
// reports the canvas sends back.  Everything here runs without a display;
// the widgets only forward input and redraw.
//
// The editor sees the module through the public C header only.
#pragma once

#include "talvine/talvine.h"

#include "CleanCrop.h"
#include "Cp1252.h"
#include "UprightCrop.h"
#include <array>
#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

#include <string>
#include <vector>

namespace talvine::editor {

struct EditorError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// 8-bit RGB, row-major, top row first.
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgb;
    friend bool operator==(const Picture&, const Picture&) = default;
};

// The rectangle and the clean crop after a tilt are shared with the tool.
using hosts::cleanCrop;
using hosts::PixelRect;

// A reference to a pixel array of the process-wide shared allocator, laid out
// as the public header says (count at -4, reference count at -8).
class PixelArray {
  public:
    PixelArray() = default;
    // A new array of `count` pixels (not cleared); throws when memory fails.
    static PixelArray make(int32_t count);
    // Another reference to an existing array (null: the empty array).
    static PixelArray share(TPtsImg handle);
    PixelArray(const PixelArray& other);
    PixelArray& operator=(const PixelArray& other);
    PixelArray(PixelArray&& other) noexcept;
    PixelArray& operator=(PixelArray&& other) noexcept;
    ~PixelArray();

    TPtsImg handle() const { return handle_; }
    int32_t size() const;
    uint8_t* bytes() const { return reinterpret_cast<uint8_t*>(handle_); }

  private:
    void release();
    TPtsImg handle_ = nullptr;
};

using hosts::fromCp1252;

enum class Mode { Idle, PickPoint, SelectRect };

// A point stored by the open dialog: the number of its pick box (1, 2 for
// the tilt's ends; 1 to 4 for the perspective's corners, clockwise from top
// left) and where it lies in picture pixels.
struct Marker {
    int number = 0;
    int32_t x = 0;
    int32_t y = 0;
    friend bool operator==(const Marker&, const Marker&) = default;
};

// How the open dialog's pick boxes look: 1 checked, 0 unchecked,
// kUnreadControl no such box shown.  The widgets answer it; without an
// answer no point is taken as stored.
using BoxProbe = std::function<int(const std::string& box)>;
// What a probe answers for a control it cannot read: below every slider's
// range (a slider may stand at -1).
inline constexpr int kUnreadControl = INT_MIN;

// The selection rectangle on the canvas.  The canvas shows the picture at
// `zoom` screen pixels per picture pixel; its points are in screen pixels
// from the picture's top-left corner.
struct ScreenPoint {
    double x = 0;
    double y = 0;
    friend bool operator==(const ScreenPoint&, const ScreenPoint&) = default;
};

// A handle's side on the screen.  A handle also takes the points that lie
// within this distance of its centre, across and down.
inline constexpr double kHandleSide = 7;

// The eight handles of `r` shown at `zoom`, clockwise from the top-left
// corner: the corners and the middles of the sides.
std::array<ScreenPoint, 8> selectionHandles(const PixelRect& r, double zoom);
// The handle of `r` under a point, 0 to 7 (where handles overlap, on a small
// rectangle, the first of them), -1 for none.
int handleAt(const PixelRect& r, double zoom, ScreenPoint at);
// Whether a point lies on `r` shown at `zoom`, its edges included; a
// rectangle without width or height has none.
bool onRectangle(const PixelRect& r, double zoom, ScreenPoint at);

struct Identity {
    std::string description; // UTF-8
    int32_t major = 0;
    int32_t minor = 0;
    std::string title;                 // UTF-8: the menu's title
    std::vector<std::string> captions; // UTF-8: command n is captions[n - 1]
};

// A status text: a form with %1, %2... and the texts that fill them.
struct StatusText {
    const char* form = "";
    std::vector<std::string> args;
    std::string english() const;
};

class EditorCore {
  public:
    // Publishes the process's shared allocator (the first time), loads the
    // module at `modulePath` and registers the callback.  One editor at a
    // time.  Throws EditorError with a line for the user.
    explicit EditorCore(const std::string& modulePath);
    // The largest picture the module can be handed: its arrays count pixels
    // of 3 bytes in 32 bits.
    static constexpr int64_t kMaxPixels = INT32_MAX / 3;
    ~EditorCore();
    EditorCore(const EditorCore&) = delete;
    EditorCore& operator=(const EditorCore&) = delete;

    const Identity& identity() const { return identity_; }

    // What the widgets redraw from.  Each is called after the change.
    std::function<void()> onPictureChanged;
    std::function<void()> onStateChanged; // mode, frame, selection, history

    // A new picture: the history starts again.
    void open(const Picture& picture);
    // The same for pixels already in an array of the shared allocator
    // (width * height of them), taken over without a copy.
    void open(PixelArray pixels, int32_t width, int32_t height);
    // The picture shown: the first width x height pixels of the buffer.
    Picture picture() const;
    // The picture as it was when the running command started (nullptr when
    // none runs): what the before/after key shows.
    const Picture* pictureBeforeCommand() const {
        return busy() && before_ && before_->width > 0 ? before_.get() : nullptr;
    }
    // The same picture, shared: it stays as it is for whoever holds it
    // (a worker analysing it), whatever the command does next.
    std::shared_ptr<const Picture> sharedPictureBeforeCommand() const {
        return pictureBeforeCommand() ? before_ : nullptr;
    }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    const uint8_t* pixels() const { return buffer_.bytes(); }

    // Starts command n (1..count) on the picture.  Modal commands return
    // when their dialog closes; modeless ones leave the editor in a picking
    // mode until their final callback.
    void run(int command);
    // A command started and not yet over.
    bool busy() const { return command_ != 0; }
    int command() const { return command_; }
    Mode mode() const { return mode_; }
    // What the status bar says: for a picking dialog, what to do next in
    // its own terms; as a form and the texts that fill it (English, marked
    // for translation in the context "EditorCore"), and in English.
    StatusText statusText() const;
    std::string status() const { return statusText().english(); }

    // The open dialog's controls, as the widgets see them: a box or a
    // radio button 1 when checked, 0 when not; a slider its position;
    // kUnreadControl for a control it cannot read.
    void setBoxProbe(BoxProbe probe) { probe_ = std::move(probe); }
    // The user clicked control `name` in the open dialog: a pick box now
    // waits for its point; "ReInit" starts the picking again.
    void dialogClicked(const std::string& name);
    // The points stored by the open dialog, by box number.
    std::vector<Marker> markers() const;
    // The pick box waiting for a point (its number), 0 for none.
    int waitingBox() const { return waiting_; }

    // The canvas: a point picked (picture pixels) ...
    void pickPoint(int32_t x, int32_t y);
    // ... or a rectangle dragged from `anchor` to `to`, kept inside the
    // picture and to the proportion of the last format asked for.
    void dragSelection(int32_t anchorX, int32_t anchorY, int32_t toX, int32_t toY);
    void finishSelection();
    // The rectangle moved, its size kept, inside the picture (reported by
    // finishSelection).
    void moveSelectionTo(int32_t x, int32_t y);
    // The rectangle changed in a callback (a new format) and the dialog
    // does not know it yet: finishSelection, once the call is over, tells it.
    bool selectionUnreported() const { return unreported_; }
    // While a rectangle is being chosen: `r` (kept inside the picture)
    // becomes the selection and is reported to the dialog.
    void offerSelection(const PixelRect& r);

    // The canvas's hand on the rectangle while one is being chosen (points
    // of the canvas, the picture shown at `zoom`; see ScreenPoint).  The
    // handle under a point (handleAt), -1 for none or when no rectangle is
    // being chosen ...
    int selectionHandleAt(ScreenPoint at, double zoom) const;
    // ... whether the point lies on the rectangle, where a press takes hold
    // of it to move it ...
    bool selectionHolds(ScreenPoint at, double zoom) const;
    // ... a press of the button: on a handle, the corner or the side
    // across from it stays put and a drag resizes the rectangle; elsewhere
    // on it, a drag moves it; off it, a new rectangle starts at the pixel
    // under the pointer ...
    void pressSelection(ScreenPoint at, double zoom);
    // ... the pointer moved with the button held: a handle takes the edge
    // between pixels nearest to the pointer (a side's handle one coordinate
    // only, the other staying on the far side), a move follows the pixel
    // under it, a new rectangle spans from where it started to that pixel;
    // always inside the picture and to the format's proportion
    // (dragSelection, moveSelectionTo) ...
    void dragPressedSelection(ScreenPoint at, double zoom);
    // ... and the button let go: the rectangle is reported to the dialog.
    // A press off the rectangle that drew none (a click without a drag)
    // keeps the rectangle there was, offered again.
    void releaseSelection();
    // Whether the button is held on the rectangle (since pressSelection).
    bool selectionPressed() const { return press_.kind != Press::None; }

    // After an applied tilt, perspective or distortion correction, while it
    // is the picture shown: the largest rectangle whose every pixel the
    // command computed from inside the picture, of the picture's
    // proportions or of any.
    std::optional<PixelRect> cropToResult(bool keepProportion) const;
    // The command (3, 9 or 8) of that correction while its picture is the
    // one shown, else 0.
    int warpShown() const { return warpRevision_ == revision_ ? warpCommand_ : 0; }
    // Once after each applied correction whose clean crop cannot be
    // offered: why (its dialog's settings could not be read, or no pixel of
    // the result is clean).
    std::optional<StatusText> takeWarpNote();
    std::optional<PixelRect> selection() const { return selection_; }
    // The proportion index of the last rtFormat (0: free).
    int format() const { return format_; }
    // The rectangle of the last rtCadre (right and bottom exclusive).
    std::optional<PixelRect> frame() const { return frame_; }

    bool canUndo() const { return !undo_.empty() && !busy(); }
    bool canRedo() const { return !redo_.empty() && !busy(); }
    void undo();
    void redo();
    // The caption of the command that undo or redo would take back or make
    // again (empty when there is none).
    std::string undoName() const { return undo_.empty() ? std::string() : undo_.back().name; }
    std::string redoName() const { return redo_.empty() ? std::string() : redo_.back().name; }

    // A picture made elsewhere (the tool's upright) becomes the picture, as
    // one step of the history named `name`.
    void replacePicture(const Picture& picture, const std::string& name);

    // Whether the picture differs from the one last opened or saved (an
    // undo back to it counts as unchanged).
    bool modified() const { return revision_ != savedRevision_; }
    // The state of the picture shown: each change, undo and redo gives
    // another (what an analysis of the picture was made for).
    uint64_t revision() const { return revision_; }
    // The picture shown is the one now in its file.
    void markSaved();

    // The callback, routed here by the registered function.
    void callback(int32_t pt1x, int32_t pt1y, int32_t pt2x, int32_t pt2y, int32_t nature,
                  intptr_t param, bool modifiee, bool fin);

  private:
    void setBuffer(const Picture& picture);
    void opened(); // a new picture in the buffer: history cleared, views told
    void endCommand();
    void changed();
    void stateChanged();

    void* module_ = nullptr;
    void(TALVINE_CALL* adrRetour_)(TProcRetour, int32_t) = nullptr;
    void(TALVINE_CALL* xchgData_)(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                  int32_t, int32_t, TPtsImg, TPtsImg, int32_t, int32_t) = nullptr;
    Identity identity_;

    PixelArray buffer_;
    int32_t width_ = 0;
    int32_t height_ = 0;
    // A whole picture of the history, the command that left it and its
    // revision (every state of the picture has its own).
    struct Step {
        Picture picture;
        std::string name;
        uint64_t revision = 0;
    };
    // The picture when the command started: never changed while it is
    // shared, handed to the history when the command's result is kept.
    std::shared_ptr<Picture> before_;
    std::vector<Step> undo_;
    std::vector<Step> redo_;
    uint64_t revision_ = 0;
    uint64_t savedRevision_ = 0;
    uint64_t nextRevision_ = 1;

    struct Box {
        const char* name;  // the dialog's control
        const char* box;   // the control, for the status bar
        const char* point; // what its point is
    };
    const std::vector<Box>& boxes() const;
    int boxNumber(const std::string& name) const;
    BoxProbe probe_;
    int waiting_ = 0;
    std::vector<std::optional<Marker>> stored_;
    bool missed_ = false; // the last click came while no box waited
    bool unreported_ = false;
    // The two points of the tilt's last preview.
    std::optional<std::pair<Marker, Marker>> previewed_;
    // The four corners of the perspective's last preview.
    std::optional<std::array<Marker, 4>> previewedCorners_;
    // The correction applied to the picture of revision `warpRevision_`:
    // what its clean crop is computed from.
    struct Warp {
        std::optional<hosts::TiltStep> tilt;
        std::optional<hosts::PerspectiveStep> perspective;
        std::optional<hosts::DistortionStep> distortion;
    };
    std::optional<Warp> warp_;
    uint64_t warpRevision_ = 0;
    int warpCommand_ = 0;
    std::optional<StatusText> warpNote_;
    // The warp the command that just ended applied, from its points and its
    // dialog's settings (read through the probe; nothing when one cannot
    // be read).
    std::optional<Warp> appliedWarp() const;
    // The clean rectangle of the picture `warp_` made.
    std::optional<PixelRect> cleanRect(bool keepProportion) const;

    // The press on the rectangle that the button still holds.
    enum class Press { None, New, Resize, Move };
    struct SelectionPress {
        Press kind = Press::None;
        int32_t anchorX = 0; // the fixed corner (edges, in picture pixels)
        int32_t anchorY = 0;
        int handle = -1;   // the handle being dragged
        int32_t grabX = 0; // where in the rectangle a move took hold
        int32_t grabY = 0;
        PixelRect start; // the rectangle when the press began
    };
    SelectionPress press_;

    int command_ = 0;
    bool ended_ = false;
    Mode mode_ = Mode::Idle;
    int format_ = 0;
    std::optional<PixelRect> frame_;
    std::optional<PixelRect> selection_;
};

} // namespace talvine::editor
