#include "EditorCore.h"

#include "CleanCrop.h"
#include "platform/PartageMem.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstring>
#include <dlfcn.h>
#include <new>
#include <thread>
#include <utility>

// The status texts are marked for Qt's translation tools (context
// "EditorCore"); the view translates them, this file needs no Qt.
#ifndef QT_TRANSLATE_NOOP
#define QT_TRANSLATE_NOOP(context, text) text
#endif

namespace talvine::editor {
namespace {

constexpr int32_t kContext = 0x45445452; // checked on every callback
EditorCore* gEditor = nullptr;

// The block this process's allocator is published in.
const TBlocPartage& block() {
    const uintptr_t address = platform::modulePartageMem().blockAddress();
    if (!address) throw EditorError("the shared memory allocator is not running");
    return *reinterpret_cast<const TBlocPartage*>(address);
}

int32_t* header(TPtsImg handle) {
    return reinterpret_cast<int32_t*>(reinterpret_cast<uint8_t*>(handle) - 8);
}

void TALVINE_CALL onCallback(int32_t contexte, int32_t pt1x, int32_t pt1y, int32_t pt2x,
                             int32_t pt2y, int32_t nature, intptr_t param, int32_t modifiee,
                             int32_t fin) {
    if (contexte != kContext || !gEditor) return;
    gEditor->callback(pt1x, pt1y, pt2x, pt2y, nature, param, (modifiee & 0xFF) != 0, fin != 0);
}

template <class F> F symbol(void* module, const char* name) {
    void* p = dlsym(module, name);
    if (!p) throw EditorError(std::string("the module has no entry point ") + name);
    return reinterpret_cast<F>(p);
}

} // namespace

PixelArray PixelArray::make(int32_t count) {
    PixelArray a;
    if (count <= 0) return a;
    const auto bytes = static_cast<intptr_t>(8 + int64_t{count} * 3);
    auto* raw = static_cast<uint8_t*>(block().Allouer(bytes));
    if (!raw) throw std::bad_alloc();
    auto* fields = reinterpret_cast<int32_t*>(raw);
    fields[0] = 1;
    fields[1] = count;
    a.handle_ = reinterpret_cast<TPtsImg>(raw + 8);
    return a;
}

PixelArray PixelArray::share(TPtsImg handle) {
    PixelArray a;
    if (handle) {
        std::atomic_ref<int32_t>(header(handle)[0]).fetch_add(1);
        a.handle_ = handle;
    }
    return a;
}

PixelArray::PixelArray(const PixelArray& other) : PixelArray(share(other.handle_)) {}

PixelArray& PixelArray::operator=(const PixelArray& other) {
    if (this != &other) *this = share(other.handle_);
    return *this;
}

PixelArray::PixelArray(PixelArray&& other) noexcept : handle_(other.handle_) {
    other.handle_ = nullptr;
}

PixelArray& PixelArray::operator=(PixelArray&& other) noexcept {
    if (this != &other) {
        release();
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

PixelArray::~PixelArray() {
    release();
}

void PixelArray::release() {
    if (!handle_) return;
    if (std::atomic_ref<int32_t>(header(handle_)[0]).fetch_sub(1) == 1)
        block().Liberer(header(handle_));
    handle_ = nullptr;
}

int32_t PixelArray::size() const {
    return handle_ ? header(handle_)[1] : 0;
}

EditorCore::EditorCore(const std::string& modulePath) {
    if (gEditor) throw EditorError("one editor at a time");
    // As every host: the process's allocator is published before the module
    // starts, so that pictures cross the boundary both ways.
    if (!platform::startPartageMem())
        throw EditorError("the shared memory allocator could not be set up");
    module_ = dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module_) {
        const char* why = dlerror();
        throw EditorError("cannot load " + modulePath + ": " + (why ? why : "unknown error"));
    }
    try {
        adrRetour_ = symbol<decltype(adrRetour_)>(module_, "AdrRetour");
        xchgData_ = symbol<decltype(xchgData_)>(module_, "XchgData");
        auto prmDll =
            symbol<const char*(TALVINE_CALL*)(int32_t*, int32_t*, const char**)>(module_, "PrmDLL");
        auto addMenu = symbol<const char*(TALVINE_CALL*)(int32_t*)>(module_, "AddMenu");
        const char* title = nullptr;
        identity_.description = fromCp1252(prmDll(&identity_.major, &identity_.minor, &title));
        int32_t count = 0;
        identity_.title = fromCp1252(addMenu(&count));
        for (int32_t n = 1; n <= count; ++n) {
            int32_t index = n;
            identity_.captions.push_back(fromCp1252(addMenu(&index)));
        }
    } catch (...) {
        dlclose(module_);
        throw;
    }
    gEditor = this;
    adrRetour_(&onCallback, kContext);
}

EditorCore::~EditorCore() {
    adrRetour_(nullptr, 0);
    gEditor = nullptr;
    // Our arrays go back before the module (which uses our allocator) goes.
    buffer_ = PixelArray();
    dlclose(module_);
}

namespace {

// A whole picture's bytes: past a few megabytes, in bands on up to four
// threads (the copy is bound by memory, which one core does not fill; the
// library's memcpy streams past the caches on its own).
void copyBytes(uint8_t* to, const uint8_t* from, size_t bytes) {
    constexpr size_t kBand = 8 << 20;
    const size_t threads = std::clamp<size_t>(
        std::min<size_t>(bytes / kBand, std::thread::hardware_concurrency()), 1, 4);
    if (threads <= 1) {
        std::memcpy(to, from, bytes);
        return;
    }
    // Bands on 4 KB boundaries, each thread writing pages of its own.
    auto edge = [&](size_t k) {
        return k == threads ? bytes : bytes / threads * k & ~size_t{4095};
    };
    std::vector<std::jthread> pool;
    for (size_t k = 1; k < threads; ++k)
        pool.emplace_back(
            [=] { std::memcpy(to + edge(k), from + edge(k), edge(k + 1) - edge(k)); });
    std::memcpy(to, from, edge(1));
}

} // namespace

void EditorCore::setBuffer(const Picture& p) {
    PixelArray a = PixelArray::make(p.width * p.height);
    if (!p.rgb.empty()) copyBytes(a.bytes(), p.rgb.data(), p.rgb.size());
    buffer_ = std::move(a);
    width_ = p.width;
    height_ = p.height;
}

void EditorCore::open(const Picture& picture) {
    if (busy()) throw EditorError("a command is running");
    if (picture.width < 0 || picture.height < 0 ||
        int64_t{picture.width} * picture.height > INT32_MAX / 3 ||
        picture.rgb.size() != static_cast<size_t>(picture.width) * picture.height * 3)
        throw EditorError("the picture's size does not match its pixels");
    setBuffer(picture);
    opened();
}

void EditorCore::open(PixelArray pixels, int32_t width, int32_t height) {
    if (busy()) throw EditorError("a command is running");
    if (width < 0 || height < 0 || int64_t{width} * height != pixels.size())
        throw EditorError("the picture's size does not match its pixels");
    buffer_ = std::move(pixels);
    width_ = width;
    height_ = height;
    opened();
}

void EditorCore::opened() {
    undo_.clear();
    redo_.clear();
    revision_ = savedRevision_ = nextRevision_++;
    changed();
    stateChanged();
}

Picture EditorCore::picture() const {
    Picture p;
    p.width = width_;
    p.height = height_;
    const size_t bytes = static_cast<size_t>(width_) * static_cast<size_t>(height_) * 3;
    if (bytes) {
        p.rgb.resize(bytes);
        copyBytes(p.rgb.data(), buffer_.bytes(), bytes);
    }
    return p;
}

const std::vector<EditorCore::Box>& EditorCore::boxes() const {
    // The pick boxes of this module's two point-picking dialogs, in the
    // order of their numbers.
    static const std::vector<Box> tilt = {
        {"PtRot1", QT_TRANSLATE_NOOP("EditorCore", "the left box on the line"),
         QT_TRANSLATE_NOOP("EditorCore", "a point at the left of the horizon")},
        {"PtRot2", QT_TRANSLATE_NOOP("EditorCore", "the right box on the line"),
         QT_TRANSLATE_NOOP("EditorCore", "a point at the right of the horizon")}};
    static const std::vector<Box> perspective = {
        {"PosHG", QT_TRANSLATE_NOOP("EditorCore", "the top-left box"),
         QT_TRANSLATE_NOOP("EditorCore", "the top-left corner of the trapezoid")},
        {"PosHD", QT_TRANSLATE_NOOP("EditorCore", "the top-right box"),
         QT_TRANSLATE_NOOP("EditorCore", "the top-right corner")},
        {"PosBD", QT_TRANSLATE_NOOP("EditorCore", "the bottom-right box"),
         QT_TRANSLATE_NOOP("EditorCore", "the bottom-right corner")},
        {"PosBG", QT_TRANSLATE_NOOP("EditorCore", "the bottom-left box"),
         QT_TRANSLATE_NOOP("EditorCore", "the bottom-left corner")}};
    static const std::vector<Box> none;
    if (mode_ != Mode::PickPoint) return none;
    const int n = static_cast<int>(identity_.captions.size());
    if (command_ == 3 && n == 9) return tilt;
    if (command_ == 9 && n == 9) return perspective;
    return none;
}

int EditorCore::boxNumber(const std::string& name) const {
    const auto& b = boxes();
    for (size_t k = 0; k < b.size(); ++k)
        if (name == b[k].name) return static_cast<int>(k) + 1;
    return 0;
}

std::vector<Marker> EditorCore::markers() const {
    std::vector<Marker> shown;
    const auto& b = boxes();
    for (size_t k = 0; k < b.size() && k < stored_.size(); ++k) {
        if (!stored_[k] || waiting_ == static_cast<int>(k) + 1) continue;
        if (probe_ && probe_(b[k].name) != 1) continue; // unchecked: not used
        shown.push_back(*stored_[k]);
    }
    return shown;
}

void EditorCore::dialogClicked(const std::string& name) {
    if (mode_ != Mode::PickPoint) return;
    if (const int k = boxNumber(name)) {
        waiting_ = k;
        missed_ = false;
    } else if (name == "ReInit") {
        waiting_ = 0;
        missed_ = false;
        previewed_.reset();
        previewedCorners_.reset();
        stored_.assign(boxes().size(), std::nullopt);
    }
    stateChanged();
}

std::string StatusText::english() const {
    std::string out = form;
    for (size_t k = 0; k < args.size(); ++k) {
        const std::string key = "%" + std::to_string(k + 1);
        if (const size_t at = out.find(key); at != std::string::npos)
            out.replace(at, key.size(), args[k]);
    }
    return out;
}

StatusText EditorCore::statusText() const {
    switch (mode_) {
    case Mode::PickPoint: {
        const auto& b = boxes();
        if (b.empty()) return {QT_TRANSLATE_NOOP("EditorCore", "Click a point on the picture"), {}};
        if (waiting_)
            return {QT_TRANSLATE_NOOP("EditorCore", "Click %1 on the picture"),
                    {b[waiting_ - 1].point}};
        const std::vector<Marker> shown = markers();
        if (shown.size() == b.size())
            return {QT_TRANSLATE_NOOP("EditorCore",
                                      "%1 points set: a click on the picture redraws the preview "
                                      "with the dialog's current settings (a change of sampling "
                                      "shows at that click); Appliquer keeps it"),
                    {std::to_string(b.size())}};
        size_t next = 0;
        while (next < shown.size() && shown[next].number == static_cast<int>(next) + 1)
            ++next;
        if (missed_)
            return {QT_TRANSLATE_NOOP("EditorCore", "That click was not taken: first click %1 in "
                                                    "the dialog, then %2 on the picture"),
                    {b[next].box, b[next].point}};
        return {QT_TRANSLATE_NOOP("EditorCore", "Click %1 in the dialog, then %2 on the picture"),
                {b[next].box, b[next].point}};
    }
    case Mode::SelectRect:
        return {QT_TRANSLATE_NOOP("EditorCore", "Drag a rectangle on the picture, or type it in "
                                                "the dialog; Appliquer crops to it"),
                {}};
    case Mode::Idle:
        break;
    }
    // The distortion's dialog computes its preview when the mouse lets go of
    // the slider; keys only move the labels.
    if (command_ == TALVINE_CMD_DISTORSION)
        return {QT_TRANSLATE_NOOP("EditorCore", "The preview is computed when the mouse releases "
                                                "the slider; Appliquer keeps it"),
                {}};
    if (busy()) return {QT_TRANSLATE_NOOP("EditorCore", "Working..."), {}};
    return {QT_TRANSLATE_NOOP("EditorCore", "Ready"), {}};
}

void EditorCore::run(int command) {
    if (busy()) throw EditorError("a command is running");
    if (command < 1 || command > static_cast<int>(identity_.captions.size()))
        throw EditorError("no such command");
    before_ = std::make_shared<Picture>(picture());
    command_ = command;
    ended_ = false;
    frame_.reset();
    selection_.reset();
    waiting_ = 0;
    missed_ = false;
    stored_.clear();
    previewed_.reset();
    previewedCorners_.reset();
    stateChanged();
    xchgData_(command, 0, 0, 0, 0, width_, height_, 0, 0, buffer_.handle(), nullptr, 0, 0);
    // A command that returns without its final callback and without asking
    // for picks is over (a closed modal dialog): whatever its previews left
    // in the buffer goes.
    if (!ended_ && mode_ == Mode::Idle) {
        setBuffer(*before_);
        endCommand();
        changed();
    }
}

void EditorCore::pickPoint(int32_t x, int32_t y) {
    if (mode_ != Mode::PickPoint) return;
    // Positions: the far edges (x = width, y = height) are the picture's
    // too, where a suggested corner lies.
    if (x < 0 || y < 0 || x > width_ || y > height_) return;
    const PixelArray buffer = buffer_; // ours for the call, whatever the callbacks do
    const auto& b = boxes();
    stored_.resize(b.size());
    std::vector<int> before;
    for (const Box& box : b)
        before.push_back(probe_ ? probe_(box.name) : -1);
    const int waited = waiting_;
    const bool wasComplete = !b.empty() && markers().size() == b.size();
    xchgData_(command_, 0, 0, x, y, width_, height_, 1, 0, nullptr, buffer.handle(), 0, 0);
    if (mode_ != Mode::PickPoint || &boxes() != &b) return; // the command ended meanwhile
    // The box that took the point is the one waiting, now checked.
    bool taken = false;
    for (size_t k = 0; k < b.size(); ++k) {
        const int number = static_cast<int>(k) + 1;
        const bool checked = probe_ ? probe_(b[k].name) == 1 : number == waited;
        if (checked && (before[k] != 1 || number == waited)) {
            stored_[k] = Marker{number, x, y};
            taken = true;
        }
    }
    waiting_ = 0;
    missed_ = !taken && !wasComplete && !b.empty();
    // Every box checked: the dialog has drawn its preview from them.
    const std::vector<Marker> shown = markers();
    if (command_ == 3 && shown.size() == 2) previewed_ = std::pair{shown[0], shown[1]};
    if (command_ == 9 && shown.size() == 4)
        previewedCorners_ = std::array<Marker, 4>{shown[0], shown[1], shown[2], shown[3]};
    stateChanged();
}

void EditorCore::dragSelection(int32_t ax, int32_t ay, int32_t tx, int32_t ty) {
    if (mode_ != Mode::SelectRect || width_ <= 0 || height_ <= 0) return;
    ax = std::clamp(ax, 0, width_);
    ay = std::clamp(ay, 0, height_);
    tx = std::clamp(tx, 0, width_);
    ty = std::clamp(ty, 0, height_);
    int64_t w = tx > ax ? tx - ax : ax - tx;
    int64_t h = ty > ay ? ty - ay : ay - ty;
    // width : height of each format: 2/3 and 3/4, lying or standing.
    static constexpr int kRatio[5][2] = {{0, 0}, {3, 2}, {2, 3}, {4, 3}, {3, 4}};
    if (format_ >= 1 && format_ <= 4) {
        const int rw = kRatio[format_][0], rh = kRatio[format_][1];
        if (w * rh <= h * rw) {
            h = w * rh / rw;
        } else {
            w = h * rw / rh;
        }
    }
    PixelRect r;
    r.width = static_cast<int32_t>(w);
    r.height = static_cast<int32_t>(h);
    r.x = tx >= ax ? ax : ax - r.width;
    r.y = ty >= ay ? ay : ay - r.height;
    selection_ = r;
    stateChanged();
}

void EditorCore::moveSelectionTo(int32_t x, int32_t y) {
    if (mode_ != Mode::SelectRect || !selection_) return;
    PixelRect r = *selection_;
    r.x = std::clamp(x, 0, std::max(0, width_ - r.width));
    r.y = std::clamp(y, 0, std::max(0, height_ - r.height));
    selection_ = r;
    stateChanged();
}

void EditorCore::offerSelection(const PixelRect& r) {
    if (mode_ != Mode::SelectRect) return;
    PixelRect k;
    k.x = std::clamp(r.x, 0, width_);
    k.y = std::clamp(r.y, 0, height_);
    k.width = std::clamp(r.width, 0, width_ - k.x);
    k.height = std::clamp(r.height, 0, height_ - k.y);
    selection_ = k;
    stateChanged();
    finishSelection();
}

std::array<ScreenPoint, 8> selectionHandles(const PixelRect& r, double zoom) {
    const double left = r.x * zoom, top = r.y * zoom;
    const double width = r.width * zoom, height = r.height * zoom;
    const double right = left + width, bottom = top + height;
    const double cx = left + width / 2, cy = top + height / 2;
    return {ScreenPoint{left, top},     {cx, top},    {right, top},   {right, cy},
            ScreenPoint{right, bottom}, {cx, bottom}, {left, bottom}, {left, cy}};
}

int handleAt(const PixelRect& r, double zoom, ScreenPoint at) {
    const auto handles = selectionHandles(r, zoom);
    for (int k = 0; k < 8; ++k)
        if (std::abs(handles[k].x - at.x) <= kHandleSide &&
            std::abs(handles[k].y - at.y) <= kHandleSide)
            return k;
    return -1;
}

bool onRectangle(const PixelRect& r, double zoom, ScreenPoint at) {
    const double left = r.x * zoom, top = r.y * zoom;
    const double right = left + r.width * zoom, bottom = top + r.height * zoom;
    if (left == right || top == bottom) return false;
    return at.x >= left && at.x <= right && at.y >= top && at.y <= bottom;
}

namespace {

// The pixel under a point of the canvas ...
int32_t pixelUnder(double at, double zoom) {
    return static_cast<int32_t>(std::floor(at / zoom));
}

// ... and the edge between pixels nearest to it.
int32_t edgeNear(double at, double zoom) {
    return static_cast<int32_t>(std::lround(at / zoom));
}

} // namespace

int EditorCore::selectionHandleAt(ScreenPoint at, double zoom) const {
    if (!selection_ || mode_ != Mode::SelectRect) return -1;
    return handleAt(*selection_, zoom, at);
}

bool EditorCore::selectionHolds(ScreenPoint at, double zoom) const {
    return selection_ && mode_ == Mode::SelectRect && onRectangle(*selection_, zoom, at);
}

void EditorCore::pressSelection(ScreenPoint at, double zoom) {
    if (mode_ != Mode::SelectRect) return;
    const int32_t px = pixelUnder(at.x, zoom), py = pixelUnder(at.y, zoom);
    const auto sel = selection_;
    press_.handle = selectionHandleAt(at, zoom);
    if (sel && press_.handle >= 0) {
        // The corner or the side across from the handle stays put.
        press_.kind = Press::Resize;
        press_.start = *sel;
        const int32_t x0 = sel->x, y0 = sel->y, x1 = sel->x + sel->width, y1 = sel->y + sel->height;
        static constexpr int kFixed[8][2] = {{1, 1}, {0, 1}, {0, 1}, {0, 0},
                                             {0, 0}, {0, 0}, {1, 0}, {1, 0}};
        press_.anchorX = kFixed[press_.handle][0] ? x1 : x0;
        press_.anchorY = kFixed[press_.handle][1] ? y1 : y0;
    } else if (sel && onRectangle(*sel, zoom, at)) {
        press_.kind = Press::Move;
        press_.start = *sel;
        press_.grabX = px - sel->x;
        press_.grabY = py - sel->y;
    } else {
        press_.kind = Press::New;
        press_.start = sel ? *sel : PixelRect{};
        press_.anchorX = px;
        press_.anchorY = py;
        dragSelection(px, py, px, py);
    }
}

void EditorCore::dragPressedSelection(ScreenPoint at, double zoom) {
    const int32_t px = pixelUnder(at.x, zoom), py = pixelUnder(at.y, zoom);
    switch (press_.kind) {
    case Press::None:
        return;
    case Press::New:
        dragSelection(press_.anchorX, press_.anchorY, px, py);
        return;
    case Press::Move:
        moveSelectionTo(px - press_.grabX, py - press_.grabY);
        return;
    case Press::Resize: {
        // Edges lie between pixels: the nearest one to the pointer.  A side
        // handle moves one coordinate; the other stays on the far side.
        int32_t tx = edgeNear(at.x, zoom), ty = edgeNear(at.y, zoom);
        const PixelRect& s = press_.start;
        const int32_t x1 = s.x + s.width, y1 = s.y + s.height;
        const int h = press_.handle;
        if (h == 1 || h == 5) tx = press_.anchorX == s.x ? x1 : s.x;
        if (h == 3 || h == 7) ty = press_.anchorY == s.y ? y1 : s.y;
        dragSelection(press_.anchorX, press_.anchorY, tx, ty);
        return;
    }
    }
}

void EditorCore::releaseSelection() {
    if (press_.kind == Press::None) return;
    const SelectionPress was = std::exchange(press_, SelectionPress{});
    const auto sel = selection_;
    if (was.kind == Press::New && (!sel || sel->width == 0 || sel->height == 0) &&
        was.start.width > 0 && was.start.height > 0)
        offerSelection(was.start); // a click without a drag keeps the rectangle
    else
        finishSelection();
}

std::optional<PixelRect> EditorCore::cropToResult(bool keepProportion) const {
    if (warpRevision_ != revision_ || busy()) return std::nullopt;
    return cleanRect(keepProportion);
}

std::optional<PixelRect> EditorCore::cleanRect(bool keepProportion) const {
    if (!warp_) return std::nullopt;
    if (warp_->distortion)
        return hosts::distortionCrop(width_, height_, *warp_->distortion, keepProportion);
    return hosts::uprightCrop(width_, height_, warp_->tilt, warp_->perspective, keepProportion);
}

std::optional<StatusText> EditorCore::takeWarpNote() {
    return std::exchange(warpNote_, std::nullopt);
}

std::optional<EditorCore::Warp> EditorCore::appliedWarp() const {
    // The sampling when it cannot be read: the blend, whose clean pixels are
    // clean for the nearest pixel too.
    auto blends = [this](const char* interpolated) { return !probe_ || probe_(interpolated) != 0; };
    Warp w;
    if (command_ == 3 && previewed_) {
        const auto& [from, to] = *previewed_;
        w.tilt = hosts::TiltStep{{from.x, from.y}, {to.x, to.y}, blends("InterBiLin")};
    } else if (command_ == 9 && previewedCorners_ && probe_) {
        const int vertical = probe_("CorrVert");
        if (vertical < 0 || vertical > 10) return std::nullopt;
        hosts::PerspectiveStep step;
        for (size_t k = 0; k < 4; ++k)
            step.corners[k] = {(*previewedCorners_)[k].x, (*previewedCorners_)[k].y};
        step.vertical = vertical;
        step.bilinear = blends("InterQuad");
        w.perspective = step;
    } else if (command_ == 8 && probe_) {
        const int position = probe_("TauxCorr"), square = probe_("TypeDistor1");
        if (position < -100 || position > 100 || square < 0) return std::nullopt;
        w.distortion = hosts::DistortionStep{position, square == 1 ? 2 : 1, blends("InterQuad")};
    } else {
        return std::nullopt;
    }
    return w;
}

void EditorCore::finishSelection() {
    if (mode_ != Mode::SelectRect || !selection_) return;
    unreported_ = false;
    const PixelRect r = *selection_;
    if (r.width <= 0 || r.height <= 0) return;
    const PixelArray buffer = buffer_;
    xchgData_(command_, r.x, r.y, 0, 0, r.width, r.height, 1, 4, nullptr, buffer.handle(), 0, 0);
}

void EditorCore::undo() {
    if (!canUndo()) return;
    Step step = std::move(undo_.back());
    undo_.pop_back();
    redo_.push_back({picture(), step.name, revision_});
    setBuffer(step.picture);
    revision_ = step.revision;
    changed();
    stateChanged();
}

void EditorCore::redo() {
    if (!canRedo()) return;
    Step step = std::move(redo_.back());
    redo_.pop_back();
    undo_.push_back({picture(), step.name, revision_});
    setBuffer(step.picture);
    revision_ = step.revision;
    changed();
    stateChanged();
}

void EditorCore::replacePicture(const Picture& picture, const std::string& name) {
    if (busy()) throw EditorError("a command is running");
    if (picture.width <= 0 || picture.height <= 0 ||
        int64_t{picture.width} * picture.height > kMaxPixels ||
        picture.rgb.size() != static_cast<size_t>(picture.width) * picture.height * 3)
        throw EditorError("the picture's size does not match its pixels");
    undo_.push_back({this->picture(), name, revision_});
    redo_.clear();
    setBuffer(picture);
    revision_ = nextRevision_++;
    changed();
    stateChanged();
}

void EditorCore::markSaved() {
    savedRevision_ = revision_;
    stateChanged();
}

void EditorCore::endCommand() {
    command_ = 0;
    ended_ = true;
    mode_ = Mode::Idle;
    frame_.reset();
    selection_.reset();
    waiting_ = 0;
    missed_ = false;
    stored_.clear();
    unreported_ = false;
    press_ = SelectionPress{};
    before_.reset();
    stateChanged();
}

void EditorCore::callback(int32_t pt1x, int32_t pt1y, int32_t pt2x, int32_t pt2y, int32_t nature,
                          intptr_t param, bool modifiee, bool fin) {
    switch (nature) {
    case rtSaisie:
        if (!busy()) return;
        mode_ = (param & 0xFF) == 1 ? Mode::SelectRect : Mode::PickPoint;
        if (mode_ == Mode::SelectRect) format_ = static_cast<int>(param >> 8 & 0xFF);
        selection_.reset();
        stateChanged();
        return;
    case rtFormat:
        format_ = static_cast<int>(param >> 8 & 0xFF);
        if (format_ > 4) format_ = 0;
        if (selection_ && mode_ == Mode::SelectRect) {
            // The rectangle takes the new proportion from its top-left
            // corner; the dialog hears of it once this call is over.
            const PixelRect r = *selection_;
            dragSelection(r.x, r.y, r.x + r.width, r.y + r.height);
            unreported_ = true;
        }
        stateChanged();
        return;
    case rtCadre: {
        PixelRect r{std::min(pt1x, pt2x), std::min(pt1y, pt2y), 0, 0};
        r.width = static_cast<int32_t>(std::abs(int64_t{pt2x} - pt1x));
        r.height = static_cast<int32_t>(std::abs(int64_t{pt2y} - pt1y));
        frame_ = r;
        selection_ = r; // one rectangle, whichever way it was set
        unreported_ = false;
        stateChanged();
        return;
    }
    case rtImage:
        break;
    default:
        return;
    }
    const int64_t count = int64_t{pt1x} * pt1y;
    const bool sizeOk = pt1x >= 0 && pt1y >= 0 && count <= INT32_MAX;
    if (!fin) {
        // A preview in the buffer, at the size given.
        if (sizeOk && count <= buffer_.size()) {
            width_ = pt1x;
            height_ = pt1y;
        }
        changed();
        return;
    }
    if (!busy()) return;
    if (!modifiee) {
        setBuffer(*before_);
    } else if (sizeOk) {
        bool kept = false;
        if (param != 0) {
            // A new array: our own reference to it.
            PixelArray result = PixelArray::share(reinterpret_cast<TPtsImg>(param));
            if (result.size() >= count) {
                buffer_ = std::move(result);
                kept = true;
            }
        } else if (buffer_.size() >= count) {
            kept = true;
        }
        if (kept) {
            width_ = pt1x;
            height_ = pt1y;
            // The picture before the command goes to the history, moved
            // unless someone else still reads it.
            Picture previous = before_.use_count() == 1 ? std::move(*before_) : *before_;
            before_.reset();
            undo_.push_back({std::move(previous), identity_.captions[command_ - 1], revision_});
            revision_ = nextRevision_++;
            // A warp's clean crop stays on offer for its picture, whatever
            // comes after (an undo back to it offers it again).
            if (command_ == 3 || command_ == 8 || command_ == 9) {
                warp_ = appliedWarp();
                warpRevision_ = revision_;
                warpCommand_ = command_;
                warpNote_.reset();
                if (!warp_)
                    warpNote_ = {QT_TRANSLATE_NOOP("EditorCore",
                                                   "Crop to result is not offered: the "
                                                   "correction's settings could not be read "
                                                   "from its dialog"),
                                 {}};
                else if (!cleanRect(false))
                    warpNote_ = {QT_TRANSLATE_NOOP("EditorCore",
                                                   "Crop to result is not offered: no pixel of "
                                                   "the result was computed from inside the "
                                                   "picture"),
                                 {}};
            }
            redo_.clear();
        } else {
            setBuffer(*before_); // a result the buffer cannot hold: nothing lost
        }
    } else {
        setBuffer(*before_);
    }
    endCommand();
    changed();
}

void EditorCore::changed() {
    if (onPictureChanged) onPictureChanged();
}

void EditorCore::stateChanged() {
    if (onStateChanged) onStateChanged();
}

} // namespace talvine::editor
