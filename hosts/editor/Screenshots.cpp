#include "Screenshots.h"

#include "EditorCore.h"
#include "MainWindow.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPainter>
#include <QTimer>

namespace talvine::editor {

QDialog* openDialog() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible()) return d;
    return nullptr;
}

namespace {

// The window with the dialog drawn over it, as a window manager would show
// them, title bar included.
QImage composite(MainWindow& window, QDialog& dialog) {
    QImage shot = window.grab().toImage();
    const QImage inner = dialog.grab().toImage();
    const int bar = 22;
    const QPoint at((shot.width() - inner.width()) / 2, (shot.height() - inner.height() - bar) / 2);
    QPainter p(&shot);
    p.fillRect(QRect(at + QPoint(-1, -1), QSize(inner.width() + 2, inner.height() + bar + 2)),
               QColor(60, 60, 60));
    p.fillRect(QRect(at, QSize(inner.width(), bar)), QColor(45, 85, 140));
    p.setPen(Qt::white);
    p.drawText(QRect(at + QPoint(8, 0), QSize(inner.width() - 16, bar)),
               Qt::AlignVCenter | Qt::AlignLeft, dialog.windowTitle());
    p.drawImage(at + QPoint(0, bar), inner);
    return shot;
}

void waitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

} // namespace

bool takeScreenshots(MainWindow& window, EditorCore& core, const QString& dir) {
    QDir().mkpath(dir);
    waitFor([] { return false; }, 200);
    bool ok = window.grab().save(QDir(dir).filePath("editor.png"));
    const int count = static_cast<int>(core.identity().captions.size());
    for (int n = 1; n <= count; ++n) {
        const Picture before = core.picture();
        bool shot = false;
        bool found = false;
        // Modal dialogs run their own loop inside the command: the picture
        // is taken from a timer, for modeless ones as well.
        QTimer::singleShot(300, &window, [&] {
            shot = true;
            QDialog* dialog = openDialog();
            if (!dialog) return;
            found = true;
            ok = composite(window, *dialog)
                     .save(QDir(dir).filePath(QString("command-%1.png").arg(n))) &&
                 ok;
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(dialog, &escape);
        });
        core.run(n);
        waitFor([&] { return shot; }, 5000);
        waitFor([&] { return !core.busy(); }, 2000);
        if (!found) {
            // A command without a dialog changed the picture: back to the sample.
            if (core.canUndo()) core.undo();
        }
        if (core.busy() || core.picture() != before) ok = false;
    }
    return ok;
}

} // namespace talvine::editor
