#include "Canvas.h"

#include "ViewPixels.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace talvine::editor {

Canvas::Canvas(EditorCore& core, QWidget* parent) : QWidget(parent), core_(core) {
    setMouseTracking(true);
    updateSize();
}

void Canvas::setZoom(double zoom) {
    zoom_ = std::clamp(zoom, 1.0 / 64, 16.0);
    updateSize();
    update();
}

void Canvas::updateSize() {
    // A hair under the exact product, so that a fitted picture never gets a
    // scroll bar from rounding.
    setFixedSize(std::max(1, static_cast<int>(std::ceil(core_.width() * zoom_ - 1e-6))),
                 std::max(1, static_cast<int>(std::ceil(core_.height() * zoom_ - 1e-6))));
    setCursor(core_.mode() == Mode::Idle ? Qt::ArrowCursor : Qt::CrossCursor);
}

QPoint Canvas::toPicture(QPointF at) const {
    return {static_cast<int>(std::floor(at.x() / zoom_)),
            static_cast<int>(std::floor(at.y() / zoom_))};
}

QPointF Canvas::toWidget(QPointF pixel) const {
    return {(pixel.x() + 0.5) * zoom_, (pixel.y() + 0.5) * zoom_};
}

QRectF Canvas::onScreen(const PixelRect& r) const {
    return {r.x * zoom_, r.y * zoom_, r.width * zoom_, r.height * zoom_};
}

void Canvas::paintMarkers(QPainter& p) {
    const std::vector<Marker> markers = core_.markers();
    if (markers.empty()) return;
    p.setRenderHint(QPainter::Antialiasing);
    // Lines first: the tilt's two ends, or the trapezoid's sides between
    // corners that are set.  A dark casing under a light line reads on sky
    // and on shadow.
    QPainterPath path;
    const bool closed = core_.command() == 9;
    auto at = [&](int number) -> const Marker* {
        for (const Marker& m : markers)
            if (m.number == number) return &m;
        return nullptr;
    };
    const int count = closed ? 4 : 2;
    for (int k = 1; k <= count; ++k) {
        const Marker* a = at(k);
        const Marker* b = at(k == count ? 1 : k + 1);
        if (!a || !b || (!closed && k == count)) continue;
        path.moveTo(toWidget(QPointF(a->x, a->y)));
        path.lineTo(toWidget(QPointF(b->x, b->y)));
    }
    p.setPen(QPen(QColor(0, 0, 0, 200), 4));
    p.drawPath(path);
    p.setPen(QPen(QColor(255, 210, 0), 2));
    p.drawPath(path);
    QFont font = p.font();
    font.setBold(true);
    p.setFont(font);
    for (const Marker& m : markers) {
        const QPointF c = toWidget(QPointF(m.x, m.y));
        p.setPen(QPen(Qt::black, 3));
        p.setBrush(QColor(255, 210, 0));
        p.drawEllipse(c, 9, 9);
        p.setPen(Qt::black);
        p.drawText(QRectF(c.x() - 9, c.y() - 9, 18, 18), Qt::AlignCenter,
                   QString::number(m.number));
    }
    p.setBrush(Qt::NoBrush);
}

void Canvas::pictureChanged() {
    stale_ = true;
}

void Canvas::setGrid(bool shown) {
    if (grid_ == shown) return;
    grid_ = shown;
    if (scaled_) stale_ = true; // the scaled view carries it
    update();
}

void Canvas::setShowBefore(bool before) {
    if (before_ == before) return;
    before_ = before;
    stale_ = true;
    update();
}

std::vector<Canvas::GridLine> Canvas::gridLines() const {
    // Eight cells across the shorter side, light lines on a dark casing so
    // that they read on sky and on shadow, on whole pixels.
    const double w = core_.width() * zoom_, h = core_.height() * zoom_;
    const double step = std::max(8.0, std::min(w, h) / 8);
    const int right = static_cast<int>(std::lround(w)), bottom = static_cast<int>(std::lround(h));
    std::vector<GridLine> lines;
    for (const auto& [colour, width] : {std::pair{0x6e000000u, 3}, std::pair{0x96ffffffu, 1}}) {
        const int half = width / 2;
        for (double x = step; x < w; x += step)
            lines.push_back(
                {QRect(static_cast<int>(std::lround(x)) - half, 0, width, bottom), colour});
        for (double y = step; y < h; y += step)
            lines.push_back(
                {QRect(0, static_cast<int>(std::lround(y)) - half, right, width), colour});
    }
    return lines;
}

void Canvas::paintGrid(QPainter& p) {
    for (const GridLine& line : gridLines())
        p.fillRect(line.rect, QColor::fromRgba(line.argb));
}

namespace {

// The picture's pixels under a rectangle of the widget, at `zoom`.
QRect under(const QRect& r, double zoom) {
    const int left = static_cast<int>(std::floor(r.left() / zoom));
    const int top = static_cast<int>(std::floor(r.top() / zoom));
    const int right = static_cast<int>(std::ceil((r.right() + 1) / zoom));
    const int bottom = static_cast<int>(std::ceil((r.bottom() + 1) / zoom));
    return {left, top, right - left, bottom - top};
}

} // namespace

void Canvas::buildView(const uint8_t* pixels, int width, int height, const QRect& exposed) {
    const QRect whole(0, 0, width, height);
    if (zoom_ < 1) {
        // Below 100 %, the whole picture scaled smoothly, once per picture
        // and zoom: thin poles stay whole and edges do not sparkle.
        const QSize shown(std::max(1, static_cast<int>(std::lround(width * zoom_))),
                          std::max(1, static_cast<int>(std::lround(height * zoom_))));
        if (!stale_ && scaled_ && view_.size() == shown) return;
        if (view_.size() != shown || view_.format() != QImage::Format_RGB32)
            view_ = QImage(shown, QImage::Format_RGB32);
        if (view_.isNull()) return; // out of memory: nothing to show
        auto* bits = reinterpret_cast<uint32_t*>(view_.bits());
        const ptrdiff_t stride = view_.bytesPerLine() / 4;
        scaleDownRgb(pixels, ptrdiff_t{width} * 3, width, height, bits, stride, shown.width(),
                     shown.height());
        // The grid laid into the pixels once: a painter's translucent fill
        // of its thin lines, row by row, took 3.5 ms a paint.
        if (grid_)
            for (const GridLine& line : gridLines())
                tintRect(bits, stride, shown.width(), shown.height(), line.rect.x(), line.rect.y(),
                         line.rect.width(), line.rect.height(), line.argb);
        part_ = whole;
        scaled_ = true;
    } else {
        // From 100 %, the pixels that show, and some around them so that a
        // scroll does not make them again at every step; each paints as a
        // square of its own.
        const QRect need = under(exposed, zoom_) & whole;
        if (!stale_ && !scaled_ && part_.contains(need)) return;
        const int margin = 256;
        const QRect around =
            visibleRegion().boundingRect().adjusted(-margin, -margin, margin, margin);
        const QRect part = (under(around, zoom_) | need) & whole;
        if (view_.size() != part.size() || view_.format() != QImage::Format_RGB32)
            view_ = QImage(part.size(), QImage::Format_RGB32);
        if (view_.isNull()) return;
        convertRgb(pixels, ptrdiff_t{width} * 3, part.x(), part.y(), part.width(), part.height(),
                   reinterpret_cast<uint32_t*>(view_.bits()), view_.bytesPerLine() / 4);
        part_ = part;
        scaled_ = false;
    }
    stale_ = false;
    ++builds_;
}

void Canvas::paintEvent(QPaintEvent* e) {
    QPainter p(this);
    const Picture* before = before_ ? core_.pictureBeforeCommand() : nullptr;
    const uint8_t* pixels = before ? before->rgb.data() : core_.pixels();
    const int width = before ? before->width : core_.width();
    const int height = before ? before->height : core_.height();
    const QRect exposed = e->rect() & rect();
    if (width > 0 && height > 0 && !exposed.isEmpty()) {
        buildView(pixels, width, height, exposed);
        if (!view_.isNull() && scaled_)
            p.drawImage(exposed.topLeft(), view_, exposed);
        else if (!view_.isNull())
            p.drawImage(QRectF(part_.x() * zoom_, part_.y() * zoom_, part_.width() * zoom_,
                               part_.height() * zoom_),
                        view_);
    }
    if (grid_ && !(scaled_ && !view_.isNull())) paintGrid(p);
    if (auto sel = core_.selection(); sel && core_.mode() == Mode::SelectRect)
        paintSelection(p, *sel);
    paintSuggestions(p);
    paintMarkers(p);
}

void Canvas::setShowLines(bool shown) {
    if (lines_ == shown) return;
    lines_ = shown;
    update();
}

void Canvas::paintSuggestions(QPainter& p) {
    if (!suggestions_ || !suggestions_->analysed() || core_.command() != suggestions_->command())
        return;
    p.setRenderHint(QPainter::Antialiasing);
    if (lines_)
        for (const analysis::Line& l : suggestions_->lines()) {
            const QPointF a = toWidget(QPointF(l.x0, l.y0)), b = toWidget(QPointF(l.x1, l.y1));
            p.setPen(
                QPen(l.used ? QColor(0, 230, 255) : QColor(255, 80, 200, 150), l.used ? 2 : 1));
            p.drawLine(a, b);
        }
    // Rings where the suggested points lie: a pick near one takes it.
    for (const Marker& m : suggestions_->points()) {
        const QPointF c = toWidget(QPointF(m.x, m.y));
        for (const auto& [colour, width] :
             {std::pair{QColor(0, 0, 0, 200), 4}, std::pair{QColor(0, 230, 255), 2}}) {
            p.setPen(QPen(colour, width));
            p.drawEllipse(c, kSnap, kSnap);
        }
        // The number on the picture's side of the ring: a corner's ring
        // lies on the picture's edge.
        const double sx = 2 * m.x < core_.width() ? 1 : -1, sy = 2 * m.y < core_.height() ? 1 : -1;
        const QPointF label = c + QPointF(sx, sy) * (1.6 * kSnap);
        p.setPen(QColor(0, 230, 255));
        p.drawText(QRectF(label.x() - kSnap, label.y() - kSnap, 2 * kSnap, 2 * kSnap),
                   Qt::AlignCenter, QString::number(m.number));
    }
}

namespace {

ScreenPoint screenPoint(QPointF at) {
    return {at.x(), at.y()};
}

} // namespace

void Canvas::paintSelection(QPainter& p, const PixelRect& sel) {
    // The picture outside darkened, the edge light over a dark casing, so
    // that it reads on sky and on shadow; handles to move and resize it.
    const QRectF r = onScreen(sel);
    QPainterPath outside;
    outside.setFillRule(Qt::OddEvenFill);
    outside.addRect(QRectF(0, 0, core_.width() * zoom_, core_.height() * zoom_));
    outside.addRect(r);
    p.fillPath(outside, QColor(0, 0, 0, 130));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 0, 0, 170), 3));
    p.drawRect(r);
    p.setPen(QPen(Qt::white, 1));
    p.drawRect(r);
    p.setBrush(Qt::white);
    p.setPen(QPen(Qt::black, 1));
    for (ScreenPoint h : selectionHandles(sel, zoom_))
        p.drawRect(QRectF(h.x - kHandleSide / 2, h.y - kHandleSide / 2, kHandleSide, kHandleSide));
    p.setBrush(Qt::NoBrush);
}

void Canvas::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    if (core_.mode() == Mode::PickPoint) {
        // Near a suggestion, the suggestion itself: the user need not aim.
        if (suggestions_ && suggestions_->command() == core_.command()) {
            const QPointF exact((e->position().x()) / zoom_ - 0.5, e->position().y() / zoom_ - 0.5);
            if (const auto s = suggestions_->near(exact.x(), exact.y(), kSnap / zoom_)) {
                core_.pickPoint(s->x, s->y);
                return;
            }
        }
        const QPoint at = toPicture(e->position());
        core_.pickPoint(at.x(), at.y());
        return;
    }
    core_.pressSelection(screenPoint(e->position()), zoom_);
}

void Canvas::mouseMoveEvent(QMouseEvent* e) {
    const QPoint at = toPicture(e->position());
    if (at.x() >= 0 && at.y() >= 0 && at.x() < core_.width() && at.y() < core_.height())
        emit pointerMoved(at);
    else
        emit pointerLeft();
    if (core_.selectionPressed()) {
        core_.dragPressedSelection(screenPoint(e->position()), zoom_);
        return;
    }
    // The cursor tells what a press there would do.
    if (core_.mode() != Mode::SelectRect) return;
    static const Qt::CursorShape kShapes[8] = {
        Qt::SizeFDiagCursor, Qt::SizeVerCursor, Qt::SizeBDiagCursor, Qt::SizeHorCursor,
        Qt::SizeFDiagCursor, Qt::SizeVerCursor, Qt::SizeBDiagCursor, Qt::SizeHorCursor};
    const ScreenPoint point = screenPoint(e->position());
    if (const int h = core_.selectionHandleAt(point, zoom_); h >= 0)
        setCursor(kShapes[h]);
    else
        setCursor(core_.selectionHolds(point, zoom_) ? Qt::SizeAllCursor : Qt::CrossCursor);
}

void Canvas::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || !core_.selectionPressed()) return;
    mouseMoveEvent(e);
    core_.releaseSelection();
}

void Canvas::leaveEvent(QEvent*) {
    emit pointerLeft();
}

} // namespace talvine::editor
