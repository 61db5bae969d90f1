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
#include <QRectF>
#include <QWidget>

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
    // The pixels changed (a new picture, a preview, an undo): the smoothly
    // scaled copy shown below 100 % is made again at the next paint.
    void pictureChanged();
    // What a paint below 100 % draws: the picture scaled smoothly (empty
    // until the first such paint); for tests.
    const QImage& scaledView() const { return view_; }
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
    QImage view_; // the smoothly scaled copy, at the current zoom
    bool grid_ = false;
    bool before_ = false;
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
