// The editor's window: the canvas in a scroll area, the menus (file, edit,
// view, the module's "Géométrie" menu, help) and the status bar.  It only
// forwards input to EditorCore and redraws from it.
#pragma once

#include "EditorCore.h"

#include <QMainWindow>
#include <QWidget>

class QAction;
class QLabel;
class QMenu;
class QScrollArea;

namespace talvine::editor {

Picture fromImage(const QImage& image);
QImage toImage(const Picture& picture);

class Canvas : public QWidget {
    Q_OBJECT
  public:
    explicit Canvas(EditorCore& core, QWidget* parent = nullptr);
    double zoom() const { return zoom_; }
    void setZoom(double zoom);
    // The picture pixel under a point of the widget.
    QPoint toPicture(QPointF at) const;
    void updateSize();

  protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

  private:
    QRectF onScreen(const PixelRect& r) const;
    EditorCore& core_;
    double zoom_ = 1.0;
    bool dragging_ = false;
    QPoint anchor_;
};

class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit MainWindow(EditorCore& core);
    ~MainWindow() override;

    bool openFile(const QString& path);
    bool saveFile(const QString& path);
    void openSample();
    void fit();
    Canvas& canvas() { return *canvas_; }
    QMenu& geometryMenu() { return *geometry_; }
    // The menu entry of command n.
    QAction* commandAction(int n) const;

  private:
    void refresh();
    void about();
    EditorCore& core_;
    Canvas* canvas_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QMenu* geometry_ = nullptr;
    QList<QAction*> commands_;
    QAction* undo_ = nullptr;
    QAction* redo_ = nullptr;
    QAction* save_ = nullptr;
    QLabel* status_ = nullptr;
    QString file_;
};

} // namespace talvine::editor
