#include "MainWindow.h"

#include "Scene.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>

#include <cmath>
#include <cstring>

namespace talvine::editor {

Picture fromImage(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    Picture p;
    p.width = rgb.width();
    p.height = rgb.height();
    p.rgb.resize(static_cast<size_t>(p.width) * p.height * 3);
    for (int y = 0; y < p.height; ++y)
        std::memcpy(p.rgb.data() + static_cast<size_t>(y) * p.width * 3, rgb.constScanLine(y),
                    static_cast<size_t>(p.width) * 3);
    return p;
}

QImage toImage(const Picture& p) {
    if (p.width <= 0 || p.height <= 0) return {};
    QImage image(p.rgb.data(), p.width, p.height, p.width * 3, QImage::Format_RGB888);
    return image.copy();
}

Canvas::Canvas(EditorCore& core, QWidget* parent) : QWidget(parent), core_(core) {
    setMouseTracking(false);
    updateSize();
}

void Canvas::setZoom(double zoom) {
    zoom_ = std::clamp(zoom, 1.0 / 16, 16.0);
    updateSize();
    update();
}

void Canvas::updateSize() {
    setFixedSize(std::max(1, static_cast<int>(std::ceil(core_.width() * zoom_))),
                 std::max(1, static_cast<int>(std::ceil(core_.height() * zoom_))));
    setCursor(core_.mode() == Mode::Idle ? Qt::ArrowCursor : Qt::CrossCursor);
}

QPoint Canvas::toPicture(QPointF at) const {
    return {static_cast<int>(std::floor(at.x() / zoom_)),
            static_cast<int>(std::floor(at.y() / zoom_))};
}

QRectF Canvas::onScreen(const PixelRect& r) const {
    return {r.x * zoom_, r.y * zoom_, r.width * zoom_, r.height * zoom_};
}

void Canvas::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (core_.width() > 0 && core_.height() > 0) {
        const QImage image(core_.pixels(), core_.width(), core_.height(), core_.width() * 3,
                           QImage::Format_RGB888);
        p.drawImage(QRectF(0, 0, core_.width() * zoom_, core_.height() * zoom_), image);
    }
    p.setBrush(Qt::NoBrush);
    if (auto frame = core_.frame()) {
        p.setPen(QPen(Qt::yellow, 1, Qt::DashLine));
        p.drawRect(onScreen(*frame).adjusted(0, 0, -1, -1));
    }
    if (auto sel = core_.selection()) {
        p.setPen(QPen(Qt::cyan, 1, Qt::DotLine));
        p.drawRect(onScreen(*sel).adjusted(0, 0, -1, -1));
    }
}

void Canvas::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    const QPoint at = toPicture(e->position());
    if (core_.mode() == Mode::PickPoint) {
        core_.pickPoint(at.x(), at.y());
    } else if (core_.mode() == Mode::SelectRect) {
        dragging_ = true;
        anchor_ = at;
        core_.dragSelection(at.x(), at.y(), at.x(), at.y());
    }
}

void Canvas::mouseMoveEvent(QMouseEvent* e) {
    if (!dragging_) return;
    const QPoint at = toPicture(e->position());
    core_.dragSelection(anchor_.x(), anchor_.y(), at.x(), at.y());
}

void Canvas::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || !dragging_) return;
    dragging_ = false;
    const QPoint at = toPicture(e->position());
    core_.dragSelection(anchor_.x(), anchor_.y(), at.x(), at.y());
    core_.finishSelection();
}

MainWindow::MainWindow(EditorCore& core) : core_(core) {
    setObjectName("TalvineEditor");
    canvas_ = new Canvas(core_);
    scroll_ = new QScrollArea;
    scroll_->setWidget(canvas_);
    scroll_->setAlignment(Qt::AlignCenter);
    scroll_->setBackgroundRole(QPalette::Dark);
    setCentralWidget(scroll_);

    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(tr("&Open..."), QKeySequence::Open, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, tr("Open a picture"), QString(),
                                                          tr("Pictures (*.png *.jpg *.jpeg)"));
        if (!path.isEmpty()) openFile(path);
    });
    save_ = file->addAction(tr("&Save as..."), QKeySequence::SaveAs, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, tr("Save the picture"), file_,
                                                          tr("Pictures (*.png *.jpg *.jpeg)"));
        if (!path.isEmpty()) saveFile(path);
    });
    file->addSeparator();
    file->addAction(tr("&Quit"), QKeySequence::Quit, this, &QWidget::close);

    QMenu* edit = menuBar()->addMenu(tr("&Edit"));
    undo_ = edit->addAction(tr("&Undo"), QKeySequence::Undo, this, [this] { core_.undo(); });
    redo_ = edit->addAction(tr("&Redo"), QKeySequence::Redo, this, [this] { core_.redo(); });

    QMenu* view = menuBar()->addMenu(tr("&View"));
    view->addAction(tr("Zoom &in"), QKeySequence::ZoomIn, this,
                    [this] { canvas_->setZoom(canvas_->zoom() * 1.25); });
    view->addAction(tr("Zoom &out"), QKeySequence::ZoomOut, this,
                    [this] { canvas_->setZoom(canvas_->zoom() / 1.25); });
    view->addAction(tr("&Actual size"), QKeySequence(Qt::CTRL | Qt::Key_0), this,
                    [this] { canvas_->setZoom(1.0); });
    view->addAction(tr("&Fit"), QKeySequence(Qt::CTRL | Qt::Key_9), this, [this] { fit(); });

    geometry_ = menuBar()->addMenu(QString::fromStdString(core_.identity().title));
    geometry_->setObjectName("Geometrie");
    int n = 0;
    for (const std::string& caption : core_.identity().captions) {
        const int command = ++n;
        QAction* a = geometry_->addAction(QString::fromStdString(caption), this, [this, command] {
            try {
                core_.run(command);
            } catch (const EditorError& e) {
                QMessageBox::warning(this, tr("Talvine editor"), QString::fromStdString(e.what()));
            }
        });
        commands_.push_back(a);
    }

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->addAction(tr("&About..."), this, [this] { about(); });

    status_ = new QLabel;
    statusBar()->addWidget(status_, 1);

    core_.onPictureChanged = [this] {
        canvas_->updateSize();
        canvas_->update();
    };
    core_.onStateChanged = [this] { refresh(); };
    refresh();
    resize(900, 700);
}

MainWindow::~MainWindow() {
    core_.onPictureChanged = nullptr;
    core_.onStateChanged = nullptr;
}

QAction* MainWindow::commandAction(int n) const {
    return n >= 1 && n <= commands_.size() ? commands_[n - 1] : nullptr;
}

void MainWindow::refresh() {
    const bool idle = !core_.busy();
    for (QAction* a : commands_)
        a->setEnabled(idle && core_.width() > 0);
    undo_->setEnabled(core_.canUndo());
    redo_->setEnabled(core_.canRedo());
    save_->setEnabled(idle);
    status_->setText(QString::fromStdString(core_.status()));
    canvas_->updateSize();
    canvas_->update();
}

bool MainWindow::openFile(const QString& path) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QImage image = reader.read();
    if (image.isNull()) {
        QMessageBox::warning(this, tr("Talvine editor"),
                             tr("Cannot open %1: %2").arg(path, reader.errorString()));
        return false;
    }
    try {
        core_.open(fromImage(image));
    } catch (const EditorError& e) {
        QMessageBox::warning(this, tr("Talvine editor"), QString::fromStdString(e.what()));
        return false;
    }
    file_ = path;
    setWindowTitle(tr("%1 - Talvine editor").arg(QFileInfo(path).fileName()));
    fit();
    return true;
}

bool MainWindow::saveFile(const QString& path) {
    QImageWriter writer(path);
    if (writer.format() == "jpg" || writer.format() == "jpeg") writer.setQuality(92);
    if (!writer.write(toImage(core_.picture()))) {
        QMessageBox::warning(this, tr("Talvine editor"),
                             tr("Cannot save %1: %2").arg(path, writer.errorString()));
        return false;
    }
    file_ = path;
    return true;
}

void MainWindow::openSample() {
    const cli::Picture scene = cli::sampleScene();
    core_.open({scene.width, scene.height, scene.rgb});
    file_.clear();
    setWindowTitle(tr("Sample picture - Talvine editor"));
    fit();
}

void MainWindow::fit() {
    if (core_.width() <= 0 || core_.height() <= 0) return;
    const QSize room = scroll_->viewport()->size();
    const double z = std::min(room.width() / static_cast<double>(core_.width()),
                              room.height() / static_cast<double>(core_.height()));
    canvas_->setZoom(z);
}

void MainWindow::about() {
    const Identity& id = core_.identity();
    QMessageBox::about(this, tr("About the module"),
                       tr("%1\nVersion %2.%3")
                           .arg(QString::fromStdString(id.description))
                           .arg(id.major)
                           .arg(id.minor));
}

} // namespace talvine::editor
