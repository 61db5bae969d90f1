// The editor's canvas: the picture at the window's zoom, with what is drawn
// over it (the grid, the crop rectangle and its handles, the suggested
// points and lines, the markers of the stored points).  It translates the
// mouse into EditorCore's calls, in picture pixels or, for the rectangle's
// handles, in its own points and the zoom; the rules are the core's.
#pragma once

#include "EditorCore.h"
#include "Suggestions.h"

#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QWidget>

#include <cstdint>
#include <vector>

class QPainter;

namespace talvine::editor {

class Canvas : public QWidget {
    Q_OBJECT
  public:
    explicit Canvas(EditorCore& core, QWidget* parent = nullptr);
    double zoom() const { return zoom_; }
    void setZoom(double zoom);
    // The picture pixel under a point of the widget.
    QPoint toPicture(QPointF at) const;
    // Where the centre of a picture pixel lies on the widget.
    QPointF toWidget(QPointF pixel) const;
    void updateSize();
    // A grid over the picture, to judge straightness against.
    void setGrid(bool shown);
    bool gridShown() const { return grid_; }
    // While held: the picture as it was when the command's dialog opened,
    // the markers where they were picked.
    void setShowBefore(bool before);
    bool showingBefore() const { return before_; }
    // The pixels changed (a new picture, a preview, an undo): the view's
    // pixels are made again at the next paint.
    void pictureChanged();
    // What paints draw from, made from the picture once per picture,
    // preview, zoom and before/after switch, in a format the screen takes
    // as it is: below 100 % the whole picture scaled smoothly to the zoom
    // (with the grid laid over it when shown);
    // from 100 % the picture's pixels around what shows, unscaled.  A paint
    // copies from it the part of the widget it exposes, nothing more.
    // Empty until the first paint; for tests.
    const QImage& scaledView() const { return view_; }
    // The picture's pixels that scaledView() holds: all of them below
    // 100 %, a part from 100 %.
    QRect viewPart() const { return part_; }
    // How many times the view was made since the canvas was: it never is
    // for a paint that shows nothing new.
    int viewBuilds() const { return builds_; }
    // The suggested points drawn over the picture, a pick near one snapping
    // to it; and, when `showLines`, the lines they come from.
    void setSuggestions(const Suggestions* suggestions) { suggestions_ = suggestions; }
    void setShowLines(bool shown);
    // How near a pick must be to a suggestion to take it, on the screen.
    static constexpr double kSnap = 12;

  signals:
    // The pointer moved over the picture (picture pixels), or left it.
    void pointerMoved(QPoint pixel);
    void pointerLeft();

  protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void leaveEvent(QEvent* e) override;

  private:
    QImage view_;         // see scaledView()
    QRect part_;          // see viewPart()
    bool scaled_ = false; // view_ is the whole picture scaled below 100 %
    bool stale_ = true;   // the picture changed since view_ was made
    int builds_ = 0;
    // Makes view_ for a paint of `exposed` (widget coordinates) of the
    // picture `pixels` (RGB, width x height).
    void buildView(const uint8_t* pixels, int width, int height, const QRect& exposed);
    bool grid_ = false;
    bool before_ = false;
    struct GridLine {
        QRect rect;    // widget coordinates
        uint32_t argb; // not premultiplied
    };
    std::vector<GridLine> gridLines() const;
    void paintGrid(QPainter& p);
    QRectF onScreen(const PixelRect& r) const;
    void paintMarkers(QPainter& p);
    void paintSuggestions(QPainter& p);
    void paintSelection(QPainter& p, const PixelRect& r);
    EditorCore& core_;
    const Suggestions* suggestions_ = nullptr;
    bool lines_ = false;
    double zoom_ = 1.0;
};

} // namespace talvine::editor
