#include "MainWindow.h"

#include "ImageIO.h"
#include "ReadBack.h"
#include "Scene.h"
#include "Screenshots.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialog>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QImageWriter>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QResizeEvent>
#include <QSaveFile>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSlider>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QWheelEvent>

#include <cmath>
#include <cstring>
#include <memory>
#include <new>

namespace talvine::editor {
namespace {

const char* const kTitle = QT_TRANSLATE_NOOP("talvine::editor::MainWindow", "Talvine editor");

// A status text of the core in the user's language: its form and the texts
// that fill it, each through the catalogue.
QString translated(const StatusText& t) {
    QString text = QCoreApplication::translate("EditorCore", t.form);
    for (const std::string& arg : t.args)
        text = text.arg(QCoreApplication::translate("EditorCore", arg.c_str()));
    return text;
}

// The commands of this module that open a dialog.
bool opensDialog(int command) {
    return command == 3 || command >= 6;
}

QString megapixels(int64_t pixels) {
    return QString::number(static_cast<double>(pixels) / 1e6, 'f', 1);
}

std::vector<uint8_t> bytesOf(const QByteArray& a) {
    return {reinterpret_cast<const uint8_t*>(a.constData()),
            reinterpret_cast<const uint8_t*>(a.constData()) + a.size()};
}

bool isJpeg(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == "jpg" || suffix == "jpeg";
}

} // namespace

Picture fromImage(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    if (rgb.isNull() && !image.isNull()) throw std::bad_alloc();
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

MainWindow::MainWindow(EditorCore& core) : core_(core) {
    setObjectName("TalvineEditor");
    // Qt refuses pictures over 128 MB by default; the editor takes as many
    // pixels as the module can be handed (checked before reading).
    QImageReader::setAllocationLimit(
        static_cast<int>(EditorCore::kMaxPixels * 4 / (1024 * 1024) + 1));
    canvas_ = new Canvas(core_);
    scroll_ = new QScrollArea;
    scroll_->setWidget(canvas_);
    scroll_->setAlignment(Qt::AlignCenter);
    scroll_->setBackgroundRole(QPalette::Dark);
    setCentralWidget(scroll_);

    QMenu* file = menuBar()->addMenu(tr("&File"));
    open_ = file->addAction(tr("&Open..."), QKeySequence::Open, this, [this] {
        if (!maybeSave()) return;
        const QString path = QFileDialog::getOpenFileName(
            this, tr("Open a picture"),
            file_.isEmpty() ? QSettings().value("lastFolder").toString() : QFileInfo(file_).path(),
            tr("Pictures (*.png *.jpg *.jpeg *.tif *.tiff *.webp)"));
        if (!path.isEmpty()) openFile(path);
    });
    recent_ = file->addMenu(tr("Open &recent"));
    fillRecent();
    save_ = file->addAction(tr("&Save"), QKeySequence::Save, this, [this] { save(); });
    saveAs_ = file->addAction(tr("Save &as..."), this, [this] { saveAs(); });
    // Qt's standard Save As key is empty outside GNOME and KDE: Ctrl+Shift+S
    // everywhere, the desktop's own first where it has one.
    QList<QKeySequence> saveAsKeys = QKeySequence::keyBindings(QKeySequence::SaveAs);
    if (!saveAsKeys.contains(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)))
        saveAsKeys.append(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    saveAs_->setShortcuts(saveAsKeys);
    file->addSeparator();
    file->addAction(tr("&Quit"), QKeySequence::Quit, this, &QWidget::close);

    QMenu* edit = menuBar()->addMenu(tr("&Edit"));
    // The status bar says what was undone or redone.
    undo_ = edit->addAction(tr("&Undo"), QKeySequence::Undo, this, [this] {
        const QString name = QString::fromStdString(core_.undoName());
        core_.undo();
        statusBar()->showMessage(tr("Undone: %1").arg(name), 5000);
    });
    redo_ = edit->addAction(tr("&Redo"), QKeySequence::Redo, this, [this] {
        const QString name = QString::fromStdString(core_.redoName());
        core_.redo();
        statusBar()->showMessage(tr("Redone: %1").arg(name), 5000);
    });
    edit->addSeparator();
    cropSame_ = edit->addAction(tr("&Crop to result..."), QKeySequence(Qt::CTRL | Qt::Key_K), this,
                                [this] { cropToResult(true); });
    cropAny_ = edit->addAction(tr("Crop to result, any &proportion..."),
                               QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K), this,
                               [this] { cropToResult(false); });
    edit->addSeparator();
    upright_ = edit->addAction(tr("&Upright"), QKeySequence(Qt::CTRL | Qt::Key_U), this,
                               [this] { upright(); });

    QMenu* view = menuBar()->addMenu(tr("&View"));
    view->addAction(tr("Zoom &in"), QKeySequence::ZoomIn, this,
                    [this] { setZoomByHand(canvas_->zoom() * 1.25); });
    view->addAction(tr("Zoom &out"), QKeySequence::ZoomOut, this,
                    [this] { setZoomByHand(canvas_->zoom() / 1.25); });
    view->addAction(tr("&Actual size"), QKeySequence(Qt::CTRL | Qt::Key_0), this,
                    [this] { setZoomByHand(1.0); });
    view->addAction(tr("&Fit"), QKeySequence(Qt::CTRL | Qt::Key_9), this, [this] { fit(); });
    // The grid: on while a tilt or perspective dialog is open, and whenever
    // the user asks for it.
    grid_ = view->addAction(tr("Show &grid"), QKeySequence(Qt::CTRL | Qt::Key_G), this,
                            [this] { refresh(); });
    grid_->setCheckable(true);
    view->addAction(tr("&Find lines"), QKeySequence(Qt::CTRL | Qt::Key_L), this, [this] {
        suggest();
        lines_->setChecked(true);
        refresh();
    });
    lines_ = view->addAction(tr("Show detected &lines"), this, [this] { refresh(); });
    lines_->setCheckable(true);

    geometry_ = menuBar()->addMenu(QString::fromStdString(core_.identity().title));
    geometry_->setObjectName("Geometrie");
    int n = 0;
    for (const std::string& caption : core_.identity().captions) {
        const int command = ++n;
        QString text = QString::fromStdString(caption);
        if (core_.identity().captions.size() == 9 && opensDialog(command)) text += QChar(0x2026);
        QAction* a = geometry_->addAction(text, this, [this, command] { runCommand(command); });
        if (command <= 9) a->setShortcut(QKeySequence(Qt::ALT | (Qt::Key_0 + command)));
        commands_.push_back(a);
    }

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->addAction(tr("&About Talvine..."), this, [this] { about(); });

    status_ = new QLabel;
    status_->setObjectName("status");
    size_ = new QLabel;
    size_->setObjectName("size");
    zoomLabel_ = new QLabel;
    zoomLabel_->setObjectName("zoom");
    pointer_ = new QLabel;
    pointer_->setObjectName("pointer");
    pointer_->setMinimumWidth(pointer_->fontMetrics().horizontalAdvance("00000, 00000"));
    statusBar()->addWidget(status_, 1);
    statusBar()->addPermanentWidget(size_);
    statusBar()->addPermanentWidget(zoomLabel_);
    statusBar()->addPermanentWidget(pointer_);
    connect(canvas_, &Canvas::pointerMoved, this,
            [this](QPoint at) { pointer_->setText(QString("%1, %2").arg(at.x()).arg(at.y())); });
    connect(canvas_, &Canvas::pointerLeft, this, [this] { pointer_->clear(); });

    core_.setBoxProbe([this](const std::string& name) {
        // The open dialog, or, at a modal dialog's final callback, the one
        // that just closed.
        QDialog* d = openDialog();
        if (!d)
            for (const QPointer<QDialog>& w : watched_)
                if (w) d = w;
        const QString control = QString::fromStdString(name);
        if (auto* button = d ? d->findChild<QAbstractButton*>(control) : nullptr;
            button && button->isCheckable())
            return button->isChecked() ? 1 : 0;
        if (auto* slider = d ? d->findChild<QSlider*>(control) : nullptr) return slider->value();
        return kUnreadControl;
    });
    core_.onPictureChanged = [this] { pictureChanged(); };
    core_.onStateChanged = [this] { refresh(); };
    qApp->installEventFilter(this);
    refresh();
    // Two thirds of the screen's free area, and never less than 900 x 700
    // where the screen has room for it.
    QSize start(900, 700);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QSize room = screen->availableGeometry().size();
        start = start.expandedTo(room * 2 / 3).boundedTo(room);
    }
    resize(start);
    restoreGeometry(QSettings().value("geometry").toByteArray());
    setAcceptDrops(true);
}

QStringList MainWindow::recentFiles() const {
    return QSettings().value("recentFiles").toStringList();
}

void MainWindow::remember(const QString& path) {
    // The last eight pictures, newest first, and the folder for the next
    // Open.
    const QString full = QFileInfo(path).absoluteFilePath();
    QStringList files = recentFiles();
    files.removeAll(full);
    files.prepend(full);
    while (files.size() > 8)
        files.removeLast();
    QSettings settings;
    settings.setValue("recentFiles", files);
    settings.setValue("lastFolder", QFileInfo(full).path());
    fillRecent();
}

void MainWindow::fillRecent() {
    recent_->clear();
    for (const QString& path : recentFiles())
        recent_
            ->addAction(QFileInfo(path).fileName(), this,
                        [this, path] {
                            if (maybeSave()) openFile(path);
                        })
            ->setToolTip(path);
    recent_->setEnabled(!recent_->isEmpty());
}

void MainWindow::dragEnterEvent(QDragEnterEvent* e) {
    const QList<QUrl> urls = e->mimeData()->urls();
    if (!urls.isEmpty() && urls.front().isLocalFile()) e->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* e) {
    // A picture file dropped on the window opens, as from File > Open.
    const QList<QUrl> urls = e->mimeData()->urls();
    if (urls.isEmpty() || !urls.front().isLocalFile()) return;
    e->acceptProposedAction();
    const QString path = urls.front().toLocalFile();
    QTimer::singleShot(0, this, [this, path] { openFile(path); });
}

MainWindow::~MainWindow() {
    if (worker_.joinable()) worker_.join();
    qApp->removeEventFilter(this);
    core_.onPictureChanged = nullptr;
    core_.onStateChanged = nullptr;
    core_.setBoxProbe(nullptr);
}

QAction* MainWindow::commandAction(int n) const {
    return n >= 1 && n <= commands_.size() ? commands_[n - 1] : nullptr;
}

// The crop dialog opens with the clean rectangle reported as the
// selection: the user applies it, changes it, or cancels.
void MainWindow::cropToResult(bool keepProportion) {
    const auto rect = core_.cropToResult(keepProportion);
    const int crop = 6;
    if (!rect || core_.identity().captions.size() < static_cast<size_t>(crop)) return;
    runCommand(crop);
    if (core_.busy() && core_.mode() == Mode::SelectRect) core_.offerSelection(*rect);
}

void MainWindow::runCommand(int command) {
    try {
        core_.run(command);
    } catch (const EditorError& e) {
        QMessageBox::warning(this, tr(kTitle), QString::fromStdString(e.what()));
        return;
    }
    if (core_.busy()) {
        if (command == 3 || command == 9) suggest();
        watchDialog();
    }
}

void MainWindow::suggest() {
    // The picture the open dialog works on, as it found it (shared: it does
    // not change); else a copy of the one shown, which the worker reads
    // while the user goes on.
    const int command = core_.command();
    std::shared_ptr<const Picture> picture = core_.sharedPictureBeforeCommand();
    if (!picture) picture = std::make_shared<const Picture>(core_.picture());
    const uint64_t ticket = ++ticket_;
    suggestedRevision_ = core_.revision();
    suggestions_.clear();
    canvas_->update();
    if (int64_t(picture->width) * picture->height < backgroundPixels_) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        Suggestions found;
        found.analyse(*picture, command);
        QApplication::restoreOverrideCursor();
        suggested(std::move(found), ticket);
        return;
    }
    // One analysis at a time: an earlier one is near its end by now.
    if (worker_.joinable()) worker_.join();
    pending_ = true;
    statusBar()->showMessage(tr("Finding the picture's lines…"));
    worker_ = std::thread([this, picture, command, ticket] {
        auto found = std::make_shared<Suggestions>();
        found->analyse(*picture, command);
        // Queued to the window's thread; the window joins this thread
        // before it goes, so it is there to receive it.
        QMetaObject::invokeMethod(
            this, [this, found, ticket] { suggested(std::move(*found), ticket); },
            Qt::QueuedConnection);
    });
}

void MainWindow::suggested(Suggestions found, uint64_t ticket) {
    if (ticket != ticket_) return; // a later analysis was asked for
    pending_ = false;
    // The dialog it was for has closed, or the picture has changed.
    if (found.command() != core_.command() ||
        (!core_.busy() && core_.revision() != suggestedRevision_)) {
        statusBar()->clearMessage();
        return;
    }
    suggestions_ = std::move(found);
    const QString why = QCoreApplication::translate("Suggestions", suggestions_.refusal().c_str());
    const bool points = suggestions_.command() == 3 || suggestions_.command() == 9;
    if (points && !why.isEmpty())
        statusBar()->showMessage(tr("No suggestion: %1").arg(why), 8000);
    else if (!points && suggestions_.level())
        statusBar()->showMessage(tr("Straight lines found: %1; the level is %2 degrees")
                                     .arg(suggestions_.lines().size())
                                     .arg(*suggestions_.level(), 0, 'f', 2),
                                 8000);
    else if (!points)
        statusBar()->showMessage(
            tr("Straight lines found: %1; no level: %2").arg(suggestions_.lines().size()).arg(why),
            8000);
    else
        statusBar()->clearMessage();
    canvas_->update();
}

// Upright in one step: the tool levels, corrects the verticals and crops
// through the same plug-in; its result is one step of the history.
void MainWindow::upright() {
    if (core_.busy()) return;
    QString tool = QCoreApplication::applicationDirPath() + "/talvine";
#ifdef TALVINE_TOOL_PATH
    if (!QFileInfo(tool).isExecutable()) tool = TALVINE_TOOL_PATH;
#endif
    if (!QFileInfo(tool).isExecutable()) tool = QStandardPaths::findExecutable("talvine");
    if (tool.isEmpty()) {
        statusBar()->showMessage(tr("Upright needs the talvine tool, which was not found"), 8000);
        return;
    }
    QTemporaryDir dir;
    const QString in = dir.filePath("in.png"), out = dir.filePath("out.png");
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QString failure;
    try {
        const Picture p = core_.picture();
        cli::WriteOptions write;
        write.compression = 0;
        cli::writePicture(in.toStdString(), cli::PixelsView{p.width, p.height, p.rgb.data()},
                          write);
        QProcess run;
        run.start(tool, {"upright", "--quiet", in, out});
        // A crash has no exit code to go by: only a normal exit with 0 is
        // a result.
        if (!run.waitForFinished(-1) || run.exitStatus() != QProcess::NormalExit ||
            run.exitCode() != 0) {
            failure = QString::fromUtf8(run.readAllStandardError()).trimmed();
            // The tool's line: "talvine: <path>: <why>; nothing was written".
            failure.remove(
                QRegularExpression("^talvine: (" + QRegularExpression::escape(in) + ": )?"));
            if (failure.isEmpty()) failure = run.errorString();
        } else {
            const cli::Picture result = cli::readPicture(out.toStdString());
            core_.replacePicture({result.width, result.height, result.rgb}, "Upright");
        }
    } catch (const std::exception& e) {
        failure = QString::fromStdString(e.what());
    }
    QApplication::restoreOverrideCursor();
    statusBar()->showMessage(failure.isEmpty() ? tr("Upright: levelled, verticals made vertical, "
                                                    "cropped to the clean rectangle")
                                               : tr("Upright: %1").arg(failure),
                             8000);
}

// A modeless dialog is up: its clicks tell which pick box waits, and it is
// moved off the picture.
void MainWindow::watchDialog() {
    QDialog* d = openDialog();
    if (!d) return;
    bool known = false;
    for (const QPointer<QDialog>& w : watched_)
        known = known || w == d;
    if (!known) {
        watched_.push_back(d);
        for (QAbstractButton* b : d->findChildren<QAbstractButton*>()) {
            connect(b, &QAbstractButton::clicked, this,
                    [this, b] { core_.dialogClicked(b->objectName().toStdString()); });
        }
    }
    refresh();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* e) {
    // The before/after key: while a backslash is held over the editor's
    // window, the picture shows as the open dialog found it.
    if ((e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease) &&
        watched->isWidgetType() && static_cast<QWidget*>(watched)->window() == this) {
        auto* key = static_cast<QKeyEvent*>(e);
        if (key->key() == Qt::Key_Backslash && !key->isAutoRepeat()) {
            canvas_->setShowBefore(e->type() == QEvent::KeyPress && core_.busy());
            return true;
        }
    }
    // A fitted picture stays fitted as the window grows or shrinks, until
    // the user zooms.
    if (e->type() == QEvent::Resize && watched == scroll_ && fitted_) fit();
    // Ctrl+wheel over the picture zooms about the pointer.
    if (e->type() == QEvent::Wheel && (watched == canvas_ || watched == scroll_->viewport())) {
        auto* wheel = static_cast<QWheelEvent*>(e);
        if (wheel->modifiers() & Qt::ControlModifier) {
            const int steps = wheel->angleDelta().y();
            if (steps != 0) {
                const QPointF at = scroll_->viewport()->mapFromGlobal(wheel->globalPosition());
                zoomAt(at, std::pow(1.25, steps / 120.0));
            }
            return true;
        }
    }
    if (e->type() == QEvent::Show || e->type() == QEvent::Hide) {
        // The module's dialogs are windows of their own; the editor's boxes
        // and file dialogs belong to it.
        auto* d = qobject_cast<QDialog*>(watched);
        if (d && d->isWindow() && !d->parentWidget() && !qobject_cast<QMessageBox*>(d) &&
            !qobject_cast<QFileDialog*>(d) && !qobject_cast<QInputDialog*>(d)) {
            if (e->type() == QEvent::Show)
                placeDialog(d);
            else
                rememberDialog(d);
        }
    }
    return QMainWindow::eventFilter(watched, e);
}

QRect MainWindow::pictureOnScreen() const {
    const QRect picture(canvas_->mapToGlobal(QPoint(0, 0)), canvas_->size());
    const QRect view(scroll_->viewport()->mapToGlobal(QPoint(0, 0)), scroll_->viewport()->size());
    return picture & view;
}

void MainWindow::placeDialog(QDialog* d) {
    const QString name = d->objectName();
    const QRect picture = pictureOnScreen();
    // Where the user last put it, unless the picture's centre (after a
    // refit, say) now lies under it.
    if (auto it = placed_.find(name); it != placed_.end() && it->moved) {
        const QRect there(it->at, d->frameGeometry().size().expandedTo(d->size()));
        if (picture.isEmpty() || !there.contains(picture.center())) {
            d->move(it->at);
            return;
        }
    }
    // The frame is not known before the first show: room for a title bar.
    const QSize size = d->frameGeometry().size().expandedTo(d->size() + QSize(0, 30));
    const QRect area = screen() ? screen()->availableGeometry() : QRect();
    const QRect frame = frameGeometry();
    const QPoint candidates[] = {
        {frame.right() + 1, frame.top()},                    // beside the window
        {frame.left() - size.width(), frame.top()},          // on its other side
        {picture.right() + 1 - size.width(), picture.top()}, // the picture's corners
        {picture.left(), picture.top()},
        {picture.right() + 1 - size.width(), picture.bottom() + 1 - size.height()},
        {picture.left(), picture.bottom() + 1 - size.height()}};
    QPoint best = d->pos();
    int64_t least = -1;
    for (QPoint at : candidates) {
        QRect r(at, size);
        if (area.isValid()) {
            r.moveLeft(std::clamp(r.left(), area.left(),
                                  std::max(area.left(), area.right() + 1 - r.width())));
            r.moveTop(std::clamp(r.top(), area.top(),
                                 std::max(area.top(), area.bottom() + 1 - r.height())));
        }
        const QRect over = r & picture;
        const int64_t covered = over.isEmpty() ? 0 : int64_t{over.width()} * over.height();
        if (least < 0 || covered < least) {
            least = covered;
            best = r.topLeft();
        }
    }
    d->move(best);
    placed_[name] = {best, false};
}

void MainWindow::rememberDialog(QDialog* d) {
    Placement& p = placed_[d->objectName()];
    if (d->pos() != p.at) {
        p.at = d->pos();
        p.moved = true;
    }
}

void MainWindow::pictureChanged() {
    canvas_->pictureChanged();
    const QSize now(core_.width(), core_.height());
    if (now != shown_) {
        shown_ = now;
        if (fitted_) fit();
    }
    canvas_->updateSize();
    canvas_->update();
    refresh();
}

void MainWindow::refresh() {
    const bool idle = !core_.busy();
    for (QAction* a : commands_)
        a->setEnabled(idle && core_.width() > 0);
    undo_->setEnabled(core_.canUndo());
    redo_->setEnabled(core_.canRedo());
    const QString undoName = QString::fromStdString(core_.undoName());
    const QString redoName = QString::fromStdString(core_.redoName());
    undo_->setText(undoName.isEmpty() ? tr("&Undo") : tr("&Undo %1").arg(undoName));
    redo_->setText(redoName.isEmpty() ? tr("&Redo") : tr("&Redo %1").arg(redoName));
    open_->setEnabled(idle);
    save_->setEnabled(idle);
    const bool offer = idle && core_.cropToResult(true).has_value();
    if (offer && !cropSame_->isEnabled())
        statusBar()->showMessage(
            core_.warpShown() == 3
                ? tr("Straightened: Edit > Crop to result cuts away the corners "
                     "that came from outside the picture")
                : tr("Corrected: Edit > Crop to result keeps the largest rectangle the "
                     "correction computed from inside the picture"),
            15000);
    else if (const auto note = idle ? core_.takeWarpNote() : std::nullopt)
        statusBar()->showMessage(translated(*note), 15000);
    cropSame_->setEnabled(offer);
    cropAny_->setEnabled(idle && core_.cropToResult(false).has_value());
    saveAs_->setEnabled(idle);
    upright_->setEnabled(idle && core_.width() > 0);
    // Suggestions last while their dialog is open; the lines found for the
    // picture shown, while it is.
    if (idle && suggestions_.analysed() &&
        (suggestions_.command() != 0 || core_.revision() != suggestedRevision_))
        suggestions_.clear();
    canvas_->setSuggestions(&suggestions_);
    canvas_->setShowLines(lines_->isChecked());
    status_->setText(translated(core_.statusText()));
    if (core_.selectionUnreported())
        QTimer::singleShot(0, this, [this] {
            if (core_.selectionUnreported()) core_.finishSelection();
        });
    size_->setText(QString("%1 × %2").arg(core_.width()).arg(core_.height()));
    zoomLabel_->setText(QString("%1 %").arg(std::lround(canvas_->zoom() * 100)));
    setWindowTitle(tr("%1[*] - %2").arg(name_.isEmpty() ? tr("Untitled") : name_, tr(kTitle)));
    setWindowModified(core_.modified());
    const bool straightening =
        core_.command() == TALVINE_CMD_INCLINAISON || core_.command() == TALVINE_CMD_PERSPECTIVE;
    canvas_->setGrid(grid_->isChecked() || straightening);
    if (!core_.busy()) canvas_->setShowBefore(false);
    canvas_->updateSize();
    canvas_->update();
}

bool MainWindow::maybeSave() {
    if (!core_.modified()) return true;
    QMessageBox box(QMessageBox::Warning, tr(kTitle),
                    tr("%1 has changes that are not saved.").arg(name_),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.setObjectName("UnsavedChanges");
    box.setInformativeText(tr("Save them first?"));
    box.setDefaultButton(QMessageBox::Save);
    switch (box.exec()) {
    case QMessageBox::Save:
        return save();
    case QMessageBox::Discard:
        return true;
    default:
        return false;
    }
}

// Closing the window with a dialog open cancels the dialog first, as its
// "Annuler" button would (the picture goes back to what it was), then asks
// about unsaved work as any close does.
bool MainWindow::cancelOpenDialog() {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(top);
        if (!dialog || !dialog->isVisible()) continue;
        for (QAbstractButton* b : dialog->findChildren<QAbstractButton*>("Annuler"))
            if (b->isEnabled()) b->click();
    }
    for (int k = 0; k < 200 && core_.busy(); ++k) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return !core_.busy();
}

void MainWindow::closeEvent(QCloseEvent* e) {
    if (core_.busy() && !cancelOpenDialog()) {
        QMessageBox::information(this, tr(kTitle),
                                 tr("A command is still open: apply or cancel its dialog first."));
        e->ignore();
        return;
    }
    if (maybeSave()) {
        QSettings().setValue("geometry", saveGeometry());
        e->accept();
    } else {
        e->ignore();
    }
}

bool MainWindow::openFile(const QString& path) {
    if (core_.busy()) {
        QMessageBox::information(this, tr(kTitle),
                                 tr("A command is still open: apply or cancel its dialog first."));
        return false;
    }
    if (!maybeSave()) return false;
    auto fail = [&](const QString& why) {
        QMessageBox::warning(this, tr(kTitle), tr("Cannot open %1: %2").arg(path, why));
        return false;
    };
    QImageReader reader(path);
    // The orientation is applied below, from the same tag that is written
    // back as upright.
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    if (size.isValid()) {
        const int64_t pixels = int64_t{size.width()} * size.height();
        if (pixels > EditorCore::kMaxPixels)
            return fail(tr("the picture is %1 × %2 pixels (%3 megapixels); the editor takes "
                           "pictures of up to %4 megapixels")
                            .arg(size.width())
                            .arg(size.height())
                            .arg(megapixels(pixels), megapixels(EditorCore::kMaxPixels)));
    }
    // Read as the tool reads it: the same decoders and checks for PNG, JPEG,
    // TIFF and WebP, and the pixels as stored (turned below, once).
    // Decoded straight into an array of the shared allocator, which the
    // editor then takes over: no copy of the pixels, and no zeroing first.
    PixelArray pixels;
    int32_t width = 0, height = 0;
    std::vector<std::string> converted;
    try {
        cli::ReadOptions limits;
        limits.maxPixels = EditorCore::kMaxPixels;
        cli::readPictureInto(
            QFile::encodeName(path).toStdString(),
            [&](int32_t w, int32_t h) {
                pixels = PixelArray::make(w * h);
                width = w;
                height = h;
                return pixels.bytes();
            },
            limits, &converted);
    } catch (const cli::PictureError& e) {
        // The message names the file first; the box names it already.
        QString why = QString::fromStdString(e.what());
        const QString prefix = QFile::decodeName(QFile::encodeName(path)) + ": ";
        if (why.startsWith(prefix)) why.remove(0, prefix.size());
        return fail(why);
    } catch (const std::bad_alloc&) {
        return fail(tr("not enough memory for a picture of %1 × %2 pixels")
                        .arg(size.width())
                        .arg(size.height()));
    }
    hosts::PhotoMetadata metadata;
    QString note;
    std::vector<std::string> left;
    try {
        metadata = hosts::PhotoMetadata::read(QFile::encodeName(path).toStdString(), &left);
    } catch (const hosts::MetadataError&) {
        note = tr("its metadata could not be read and will not be saved");
    }
    // Metadata past its limits or damaged was left out: say what.
    if (!left.empty())
        note = QFileInfo(path).fileName() + ": " + QString::fromStdString(left.front());
    const int orientation = metadata.orientation();
    try {
        if (orientation < 2 || orientation > 8) { // upright as stored
            core_.open(std::move(pixels), width, height);
        } else {
            const size_t bytes = size_t(width) * size_t(height) * 3;
            Picture picture{width, height, {pixels.bytes(), pixels.bytes() + bytes}};
            pixels = PixelArray();
            hosts::applyOrientation(picture.rgb, picture.width, picture.height, orientation);
            core_.open(picture);
        }
    } catch (const std::bad_alloc&) {
        return fail(tr("not enough memory"));
    } catch (const std::exception& e) {
        return fail(QString::fromStdString(e.what()));
    }
    quality_ = 0;
    if (isJpeg(path) || reader.format() == "jpeg") {
        QFile f(path);
        if (f.open(QIODevice::ReadOnly))
            quality_ = hosts::estimateJpegQuality(bytesOf(f.readAll()));
    }
    metadata_ = metadata;
    originalConfirmed_ = false;
    file_ = path;
    remember(path);
    name_ = QFileInfo(path).fileName();
    fitted_ = true;
    shown_ = QSize();
    pictureChanged();
    if (orientation != 1)
        note = tr("Shown upright: its EXIF orientation says it is %1")
                   .arg(QString::fromStdString(hosts::orientationText(orientation)));
    statusBar()->showMessage(note, 15000);
    return true;
}

QString MainWindow::proposedName() const {
    if (file_.isEmpty()) return QDir::home().filePath("picture.png");
    const QFileInfo info(file_);
    QString suffix = info.suffix();
    if (suffix.isEmpty()) suffix = "png";
    return info.dir().filePath(info.completeBaseName() + "-edited." + suffix);
}

bool MainWindow::save() {
    if (file_.isEmpty()) return saveAs();
    // A camera's original (its EXIF names the camera, and this editor has
    // not written it) is written over only when the user says so, once.
    if (!originalConfirmed_ && !metadata_.camera().empty()) {
        QMessageBox box(QMessageBox::Question, tr(kTitle),
                        tr("%1 is a camera original.").arg(name_), QMessageBox::NoButton, this);
        box.setObjectName("CameraOriginal");
        box.setInformativeText(tr("Save the edited picture as a new file, or write over the "
                                  "original?"));
        QAbstractButton* saveAsButton = box.addButton(tr("Save As..."), QMessageBox::AcceptRole);
        QAbstractButton* overwrite = box.addButton(tr("Write Over"), QMessageBox::DestructiveRole);
        box.addButton(QMessageBox::Cancel);
        box.setDefaultButton(qobject_cast<QPushButton*>(saveAsButton));
        box.exec();
        if (box.clickedButton() == saveAsButton) return saveAs();
        if (box.clickedButton() != overwrite) return false;
        originalConfirmed_ = true;
    }
    return saveFile(file_);
}

bool MainWindow::saveAs() {
    QFileDialog dialog(this, tr("Save the picture"), proposedName(),
                       tr("Pictures (*.png *.jpg *.jpeg *.tif *.tiff *.webp)"));
    dialog.setObjectName("SaveAs");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.selectFile(proposedName());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    const QString path = dialog.selectedFiles().front();
    int quality = 0;
    if (isJpeg(path)) {
        QInputDialog ask(this);
        ask.setObjectName("JpegQuality");
        ask.setWindowTitle(tr("JPEG quality"));
        ask.setLabelText(quality_ > 0 ? tr("Quality (the opened file's: %1):").arg(quality_)
                                      : tr("Quality:"));
        ask.setInputMode(QInputDialog::IntInput);
        ask.setIntRange(1, 100);
        ask.setIntValue(jpegQuality());
        if (ask.exec() != QDialog::Accepted) return false;
        quality = ask.intValue();
    }
    return saveFile(path, quality);
}

bool MainWindow::saveFile(const QString& path, int quality) {
    auto fail = [&](const QString& why) {
        QMessageBox::warning(this, tr(kTitle), tr("Cannot save %1: %2").arg(path, why));
        return false;
    };
    const bool jpeg = isJpeg(path);
    cli::Format format = cli::Format::Png;
    try {
        format = cli::formatOf(QFile::encodeName(path).toStdString());
    } catch (const cli::PictureError&) {
        return fail(tr("the name must end in .png, .jpg, .jpeg, .tif, .tiff or .webp"));
    }
    if (quality <= 0) quality = jpegQuality();
    quality = std::clamp(quality, 1, 100);
    // Written as the tool writes: each format's own library, the profile
    // with the pixels, the rest of the metadata added and checked.
    std::vector<uint8_t> bytes;
    std::vector<std::string> notes;
    try {
        const Picture& picture = core_.picture();
        cli::WriteOptions options;
        options.jpegQuality = quality;
        bytes = cli::encodeWithMetadata({picture.width, picture.height, picture.rgb.data()}, format,
                                        options, metadata_, 1, notes);
    } catch (const cli::PictureError& e) {
        return fail(QString::fromStdString(e.what()));
    } catch (const std::bad_alloc&) {
        return fail(tr("not enough memory"));
    }
    QString kept;
    if (!metadata_.empty()) {
        QStringList parts;
        if (metadata_.hasExif()) parts << tr("EXIF");
        if (metadata_.hasIcc()) parts << tr("colour profile");
        if (metadata_.hasXmp() || metadata_.hasIptc()) parts << tr("XMP and IPTC");
        kept = notes.empty() ? tr("%1 kept").arg(parts.join(tr(", ")))
                             : QString::fromStdString(notes.front());
    }
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) return fail(out.errorString());
    if (out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())) !=
            static_cast<qint64>(bytes.size()) ||
        !out.commit())
        return fail(out.errorString());
    file_ = path;
    name_ = QFileInfo(path).fileName();
    originalConfirmed_ = true; // written by this editor: no original any more
    remember(path);
    if (jpeg) quality_ = quality;
    core_.markSaved();
    QString message = tr("Saved %1: %2 × %3").arg(name_).arg(core_.width()).arg(core_.height());
    if (jpeg) message += tr(", JPEG quality %1").arg(quality);
    if (!kept.isEmpty()) message += ", " + kept;
    statusBar()->showMessage(message, 15000);
    return true;
}

void MainWindow::openSample() {
    const hosts::Picture scene = hosts::sampleScene();
    core_.open({scene.width, scene.height, scene.rgb});
    file_.clear();
    name_ = tr("Sample picture");
    metadata_ = hosts::PhotoMetadata();
    quality_ = 0;
    fitted_ = true;
    shown_ = QSize();
    pictureChanged();
}

void MainWindow::zoomAt(QPointF at, double factor) {
    // The picture's point under `at` (viewport coordinates) stays there.
    const double before = canvas_->zoom();
    const QPointF pixel = (at - QPointF(canvas_->pos())) / before;
    setZoomByHand(before * factor);
    const double after = canvas_->zoom();
    scroll_->horizontalScrollBar()->setValue(
        static_cast<int>(std::lround(pixel.x() * after - at.x())));
    scroll_->verticalScrollBar()->setValue(
        static_cast<int>(std::lround(pixel.y() * after - at.y())));
}

void MainWindow::setZoomByHand(double zoom) {
    fitted_ = false;
    canvas_->setZoom(zoom);
    refresh();
}

void MainWindow::fit() {
    fitted_ = true;
    if (core_.width() <= 0 || core_.height() <= 0) return;
    // The room without scroll bars: a fitted picture needs none.
    const QSize room = scroll_->maximumViewportSize();
    const double z = std::min(room.width() / static_cast<double>(core_.width()),
                              room.height() / static_cast<double>(core_.height()));
    canvas_->setZoom(z);
    refresh();
}

void MainWindow::about() {
    const Identity& id = core_.identity();
    QMessageBox box(QMessageBox::Information, tr("About Talvine"),
                    tr("<b>Talvine</b> %1.%2").arg(id.major).arg(id.minor), QMessageBox::Ok, this);
    box.setObjectName("About");
    box.setInformativeText(
        tr("%1\n\nThe %2 menu comes from the plug-in module; this editor is "
           "its reference host.")
            .arg(QString::fromStdString(id.description), QString::fromStdString(id.title)));
    box.exec();
}

} // namespace talvine::editor
