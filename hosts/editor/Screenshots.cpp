#include "Screenshots.h"

#include "EditorCore.h"
#include "ImageIO.h"
#include "MainWindow.h"
#include "Scene.h"
#include "UprightScenes.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

namespace talvine::editor {

QDialog* openDialog() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible()) return d;
    return nullptr;
}

namespace {

// The window with the dialog where the editor placed it, as a window
// manager would show them, title bar included; the picture grows to hold a
// dialog beside the window.
QImage composite(MainWindow& window, QDialog& dialog) {
    const QImage main = window.grab().toImage();
    const QImage inner = dialog.grab().toImage();
    const int bar = 22;
    QPoint at = dialog.mapToGlobal(QPoint(0, 0)) - window.mapToGlobal(QPoint(0, 0));
    at.ry() -= bar;
    const QRect both = QRect(QPoint(0, 0), main.size())
                           .united(QRect(at - QPoint(1, 1), inner.size() + QSize(2, bar + 2)));
    QImage shot(both.size(), QImage::Format_RGB32);
    shot.fill(QColor(40, 40, 40));
    at -= both.topLeft();
    QPainter p(&shot);
    p.drawImage(-both.topLeft(), main);
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

void clickButton(QDialog& d, const char* name) {
    if (auto* b = d.findChild<QAbstractButton*>(name)) b->click();
    waitFor([] { return false; }, 250);
}

void clickPicture(MainWindow& window, QPoint pixel) {
    Canvas& c = window.canvas();
    const QPoint at = c.toWidget(pixel).toPoint();
    for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent e(type, at, c.mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                      Qt::NoModifier);
        QCoreApplication::sendEvent(&c, &e);
    }
}

void dragOnPicture(MainWindow& window, QPoint from, QPoint to) {
    Canvas& c = window.canvas();
    const QPoint a = c.toWidget(from).toPoint(), b = c.toWidget(to).toPoint();
    QMouseEvent press(QEvent::MouseButtonPress, a, c.mapToGlobal(a), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(&c, &press);
    QMouseEvent move(QEvent::MouseMove, b, c.mapToGlobal(b), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(&c, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, b, c.mapToGlobal(b), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&c, &release);
}

// What a user has done in the dialog by the time of the picture: the
// tilt's two points, the crop's rectangle, the four corners.
void actIn(MainWindow& window, QDialog& d, int command) {
    if (command == 3) {
        clickButton(d, "PtRot1");
        clickPicture(window, {40, 329});
        clickButton(d, "PtRot2");
        clickPicture(window, {600, 301});
    } else if (command == 6) {
        dragOnPicture(window, {120, 70}, {520, 370});
    } else if (command == 9) {
        const char* boxes[] = {"PosHG", "PosHD", "PosBD", "PosBG"};
        const QPoint corners[] = {{200, 60}, {440, 60}, {470, 420}, {170, 420}};
        for (int k = 0; k < 4; ++k) {
            clickButton(d, boxes[k]);
            clickPicture(window, corners[k]);
        }
    }
    waitFor([] { return false; }, 100);
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
            actIn(window, *dialog, n);
            ok = composite(window, *dialog)
                     .save(QDir(dir).filePath(QString("command-%1.png").arg(n))) &&
                 ok;
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(dialog, &escape);
        });
        window.commandAction(n)->trigger();
        waitFor([&] { return shot; }, 5000);
        waitFor([&] { return !core.busy(); }, 2000);
        if (!found) {
            // A command without a dialog changed the picture: back to the sample.
            if (core.canUndo()) core.undo();
        }
        if (core.busy() || core.picture() != before) ok = false;
    }
    // The perspective dialog over a facade photographed from below: the
    // lines the analysis found, its four suggested corners; then Upright.
    {
        const hosts::Picture facade =
            analysis::scenes::render({analysis::scenes::Kind::Facade, 1200, 800, 2.0, 12});
        const QString file = QDir(dir).filePath("facade.png");
        cli::writePicture(file.toStdString(),
                          cli::Picture{facade.width, facade.height, facade.rgb});
        ok = window.openFile(file) && ok;
        window.fit();
        window.linesAction()->setChecked(true);
        bool done = false;
        QTimer::singleShot(300, &window, [&] {
            if (QDialog* dialog = openDialog()) {
                // Beside the window, so that no suggested corner is under it.
                dialog->move(window.frameGeometry().topRight() + QPoint(12, 60));
                ok = !window.suggesting() && window.suggestions().points().size() == 4 &&
                     composite(window, *dialog)
                         .save(QDir(dir).filePath("editor-detected-lines.png")) &&
                     ok;
                QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                QCoreApplication::sendEvent(dialog, &escape);
            } else {
                ok = false;
            }
            done = true;
        });
        window.commandAction(9)->trigger();
        waitFor([&] { return done; }, 5000);
        waitFor([&] { return !core.busy(); }, 2000);
        window.linesAction()->setChecked(false);
        window.uprightAction()->trigger();
        window.fit();
        waitFor([] { return false; }, 300);
        ok = core.undoName() == "Upright" &&
             window.grab().save(QDir(dir).filePath("editor-upright.png")) && ok;
        core.undo(); // back to the file as opened: nothing to ask about
        QFile::remove(file);
    }
    // A large picture fitted to the window, drawn smoothly from its scaled
    // copy: the facade's thin lines stay whole below 100 %.
    {
        const QString large = QDir(dir).filePath("large-sample.png");
        const hosts::Picture scene = hosts::sampleScene(2400, 1800);
        cli::writePicture(large.toStdString(), cli::Picture{scene.width, scene.height, scene.rgb});
        ok = window.openFile(large) && ok;
        QFile::remove(large);
        window.fit();
        waitFor([] { return false; }, 300);
        ok = window.grab().save(QDir(dir).filePath("editor-smooth-view.png")) && ok;
        window.openSample();
    }
    return ok;
}

} // namespace talvine::editor
