// The editor end to end: the module loaded as a host loads it, commands
// picked from the "Géométrie" menu, the real dialog widgets and the canvas
// used as a user would.  Each result is compared, byte for byte, with what
// the command-line tool makes of the same picture and the same actions.
#include "CleanCrop.h"
#include "EditorCore.h"
#include "MainWindow.h"
#include "Scene.h"
#include "Screenshots.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QDialog>
#include <QDropEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>

namespace talvine::editor {
namespace {

Picture sample() {
    const hosts::Picture scene = hosts::sampleScene();
    return {scene.width, scene.height, scene.rgb};
}

class EditorTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        core_ = new EditorCore(TALVINE_MODULE_PATH);
        window_ = new MainWindow(*core_);
        window_->show();
    }
    static void TearDownTestSuite() {
        delete window_;
        delete core_;
    }
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        core_->open(sample());
        window_->canvas().setZoom(1.0);
    }

    // The module's dialog named `form`, once it shows.
    static QDialog* dialog(const char* form) {
        QDialog* found = nullptr;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                found = openDialog();
                return found && found->objectName() == form;
            },
            3000))
            << form << " did not open";
        return found;
    }
    template <class W> static W* in(QDialog* d, const char* name) {
        W* w = d ? d->findChild<W*>(name) : nullptr;
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    static void click(QDialog* d, const char* name) {
        if (auto* b = in<QAbstractButton>(d, name))
            QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
    }

    // Picks command n from the menu; `act` runs once its dialog is up (from
    // the dialog's own loop for a modal one).
    static void run(int n, const std::function<void()>& act = {}) {
        bool acted = !act;
        if (act)
            QTimer::singleShot(0, [&] {
                act();
                acted = true;
            });
        QAction* entry = window_->commandAction(n);
        ASSERT_NE(entry, nullptr);
        ASSERT_TRUE(entry->isEnabled());
        entry->trigger();
        ASSERT_TRUE(QTest::qWaitFor([&] { return acted; }, 10000));
    }

    // Answers the next message box with `button`, keeping its texts.
    static void answerBox(QMessageBox::StandardButton button, QString* text = nullptr) {
        QTimer::singleShot(0, [=] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            if (text) *text = box->text() + "\n" + box->informativeText();
            if (QAbstractButton* b = box->button(button))
                b->click();
            else
                box->reject();
        });
    }
    // A marker's colour, as drawn over the picture.
    static bool markerColour(QColor c) { return c.red() > 200 && c.green() > 160 && c.blue() < 90; }

    static QString statusText() {
        return window_->statusBar()->findChild<QLabel*>("status")->text();
    }

    static void canvasPress(QEvent::Type type, QPoint at, Qt::MouseButtons held) {
        Canvas& c = window_->canvas();
        QMouseEvent e(type, at, c.mapToGlobal(at),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held,
                      Qt::NoModifier);
        QCoreApplication::sendEvent(&c, &e);
    }
    static void clickCanvas(QPoint at) {
        canvasPress(QEvent::MouseButtonPress, at, Qt::LeftButton);
        canvasPress(QEvent::MouseButtonRelease, at, Qt::NoButton);
    }
    // The tilt dialog's two points, picked as a user does: a box in the
    // dialog, then the point on the picture, twice.
    static void pickHorizon(QDialog* d) {
        click(d, "PtRot1");
        QTest::qWait(300);
        clickCanvas({100, 300});
        click(d, "PtRot2");
        QTest::qWait(300);
        clickCanvas({500, 260});
    }

    // What the command-line tool makes of the sample with these arguments.
    Picture tool(const QString& subcommand, const QStringList& options) {
#ifdef TALVINE_CLI_PATH
        const QString in = dir_.filePath("in.png");
        const QString out = dir_.filePath(subcommand + ".png");
        if (!QFile::exists(in)) {
            EXPECT_TRUE(toImage(sample()).save(in));
        }
        QProcess p;
        p.start(TALVINE_CLI_PATH, QStringList{subcommand, in, out} + options);
        EXPECT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        return fromImage(QImage(out));
#else
        (void)subcommand;
        (void)options;
        return {};
#endif
    }
    static bool haveTool() {
#ifdef TALVINE_CLI_PATH
        return true;
#else
        return false;
#endif
    }
    // Same size and the same bytes (reported as a count, not a dump).
    static void expectSame(const Picture& got, const Picture& want) {
        ASSERT_EQ(got.width, want.width);
        ASSERT_EQ(got.height, want.height);
        size_t differ = 0;
        for (size_t i = 0; i < got.rgb.size(); ++i)
            differ += got.rgb[i] != want.rgb[i];
        EXPECT_EQ(differ, 0u);
    }

    static EditorCore* core_;
    static MainWindow* window_;
    QTemporaryDir dir_;
};

EditorCore* EditorTest::core_ = nullptr;
MainWindow* EditorTest::window_ = nullptr;

TEST_F(EditorTest, MenuAndAboutComeFromTheModule) {
    const Identity& id = core_->identity();
    EXPECT_EQ(window_->geometryMenu().title(), QString::fromUtf8("Géométrie"));
    EXPECT_EQ(id.captions.size(), 9u);
    EXPECT_FALSE(id.description.empty());
    EXPECT_EQ(window_->commandAction(1)->text(), QString::fromStdString(id.captions[0]));
    // Those that open a dialog say so; each has its shortcut.
    for (int n = 1; n <= 9; ++n) {
        SCOPED_TRACE(n);
        const QAction* a = window_->commandAction(n);
        EXPECT_EQ(a->text().endsWith(QChar(0x2026)), n == 3 || n >= 6);
        EXPECT_EQ(a->shortcut(), QKeySequence(Qt::ALT | (Qt::Key_0 + n)));
    }
}

TEST_F(EditorTest, TiltPickingSaysWhatToDoNextAndMarksEachStoredPoint) {
    run(3);
    QDialog* d = dialog("InclineHorz");
    clickCanvas({50, 50}); // before any box waits: stored nowhere
    EXPECT_TRUE(statusText().startsWith("That click was not taken: first click the left box"))
        << statusText().toStdString();
    EXPECT_TRUE(core_->markers().empty());
    click(d, "PtRot1");
    QTest::qWait(300);
    EXPECT_EQ(statusText(), "Click a point at the left of the horizon on the picture");
    const QImage plain = window_->canvas().grab().toImage();
    clickCanvas({100, 300});
    EXPECT_EQ(core_->markers(), (std::vector<Marker>{{1, 100, 300}}));
    EXPECT_EQ(statusText(), "Click the right box on the line in the dialog, then a point at the "
                            "right of the horizon on the picture");
    click(d, "PtRot2");
    QTest::qWait(300);
    clickCanvas({500, 260});
    EXPECT_EQ(core_->markers(), (std::vector<Marker>{{1, 100, 300}, {2, 500, 260}}));
    EXPECT_TRUE(statusText().startsWith(
        "2 points set: a click on the picture redraws the preview with the dialog's current"))
        << statusText().toStdString();
    // Drawn over the picture: the disc of each point and the line between.
    const QImage marked = window_->canvas().grab().toImage();
    EXPECT_TRUE(markerColour(marked.pixelColor(94, 300)));
    EXPECT_FALSE(markerColour(plain.pixelColor(94, 300)));
    EXPECT_TRUE(markerColour(marked.pixelColor(300, 280)));
    EXPECT_FALSE(markerColour(plain.pixelColor(300, 280)));
    const uint8_t* under = core_->pixels() + (300 * 640 + 94) * 3;
    EXPECT_FALSE(markerColour(QColor(under[0], under[1], under[2]))) << "not drawn into it";

    // A stored box clicked again waits: its old point is no longer shown.
    click(d, "PtRot1");
    EXPECT_EQ(core_->markers(), (std::vector<Marker>{{2, 500, 260}}));
    QTest::qWait(300);
    clickCanvas({120, 310});
    EXPECT_EQ(core_->markers(), (std::vector<Marker>{{1, 120, 310}, {2, 500, 260}}));
    click(d, "ReInit");
    EXPECT_TRUE(core_->markers().empty());
    EXPECT_TRUE(statusText().startsWith("Click the left box")) << statusText().toStdString();
    click(d, "Annuler");
    EXPECT_TRUE(core_->markers().empty());
}

TEST_F(EditorTest, DialogsOpenOffThePictureAndWhereTheyWereMoved) {
    const QRect screen = window_->screen()->availableGeometry();
    auto check = [&](bool room) {
        window_->fit();
        QTest::qWait(20);
        const QRect picture(window_->canvas().mapToGlobal(QPoint(0, 0)), window_->canvas().size());
        auto covered = [&](QRect r) {
            const QRect over = r & picture;
            return over.isEmpty() ? 0 : over.width() * over.height();
        };
        for (auto [n, form] : {std::pair{3, "InclineHorz"}, {6, "RogneImg"}, {9, "CorrPerspect"}}) {
            SCOPED_TRACE(form);
            run(n);
            QDialog* d = dialog(form);
            ASSERT_NE(d, nullptr);
            const QRect centred(picture.center() - QPoint(d->width() / 2, d->height() / 2),
                                d->size());
            if (room)
                EXPECT_EQ(covered(d->geometry()), 0) << "beside the window";
            else
                EXPECT_LT(covered(d->geometry()), covered(centred)) << "in a corner";
            EXPECT_FALSE(d->geometry().contains(picture.center()));
            EXPECT_TRUE(screen.contains(d->geometry())) << "on the screen";
            click(d, "Annuler");
        }
    };
    // A window with room beside it on the screen, then one that fills it.
    window_->move(screen.topLeft());
    window_->resize(screen.width() / 2, screen.height() / 2);
    check(true);
    window_->resize(screen.size());
    check(false);
    window_->resize(900, 700);

    run(3);
    QDialog* d = dialog("InclineHorz");
    const QPoint moved = d->pos() + QPoint(-40, 25);
    d->move(moved);
    click(d, "Annuler");
    run(3);
    d = dialog("InclineHorz");
    EXPECT_EQ(d->pos(), moved);
    click(d, "Annuler");

    // Moved by the user over the picture's centre: the next time it opens
    // aside, never over the centre.
    const QRect shown = window_->pictureOnScreen();
    run(3);
    d = dialog("InclineHorz");
    d->move(shown.center() - QPoint(d->width() / 2, d->height() / 2));
    click(d, "Annuler");
    run(3);
    d = dialog("InclineHorz");
    EXPECT_FALSE(d->frameGeometry().contains(window_->pictureOnScreen().center()));
    click(d, "Annuler");
}

TEST_F(EditorTest, UnsavedChangesAreAskedAboutAndSavingIsConfirmed) {
    const QString first = dir_.filePath("first.png"), second = dir_.filePath("second.png");
    ASSERT_TRUE(toImage(sample()).save(first));
    ASSERT_TRUE(toImage(sample()).save(second));
    ASSERT_TRUE(window_->openFile(first));
    EXPECT_FALSE(window_->isWindowModified());
    EXPECT_TRUE(window_->windowTitle().startsWith("first.png[*]"));
    EXPECT_EQ(window_->proposedName(), dir_.filePath("first-edited.png"));

    const QString mirror = QString::fromStdString(core_->identity().captions[3]);
    run(4);
    const Picture mirrored = core_->picture();
    EXPECT_TRUE(window_->isWindowModified());
    EXPECT_EQ(window_->undoAction()->text(), "&Undo " + mirror);
    window_->undoAction()->trigger();
    EXPECT_FALSE(window_->isWindowModified()) << "back to the picture in the file";
    EXPECT_EQ(window_->statusBar()->currentMessage(), "Undone: " + mirror);
    EXPECT_EQ(window_->redoAction()->text(), "&Redo " + mirror);
    window_->redoAction()->trigger();
    EXPECT_TRUE(window_->isWindowModified());
    EXPECT_EQ(window_->statusBar()->currentMessage(), "Redone: " + mirror);

    // Cancel keeps everything: opening another picture, closing.
    QString asked;
    answerBox(QMessageBox::Cancel, &asked);
    EXPECT_FALSE(window_->openFile(second));
    EXPECT_TRUE(asked.contains("first.png has changes that are not saved")) << asked.toStdString();
    EXPECT_EQ(window_->file(), first);
    EXPECT_EQ(core_->picture(), mirrored);
    asked.clear();
    answerBox(QMessageBox::Cancel, &asked);
    EXPECT_FALSE(window_->close());
    EXPECT_FALSE(asked.isEmpty());
    EXPECT_TRUE(window_->isVisible());

    // Save from the question, then the other picture opens.
    answerBox(QMessageBox::Save);
    EXPECT_TRUE(window_->openFile(second));
    expectSame(fromImage(QImage(first)), mirrored);
    EXPECT_EQ(window_->file(), second);
    EXPECT_EQ(core_->picture(), sample());

    // Ctrl+S saves into the picture's own file, and says so.
    run(5);
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_));
    QTest::keyClick(window_, Qt::Key_S, Qt::ControlModifier);
    EXPECT_FALSE(window_->isWindowModified());
    EXPECT_TRUE(window_->statusBar()->currentMessage().startsWith("Saved second.png: 640 × 480"))
        << window_->statusBar()->currentMessage().toStdString();
    expectSame(fromImage(QImage(second)), core_->picture());

    // Nothing opens over a command in progress.
    run(3);
    QDialog* tilt = dialog("InclineHorz");
    QString said;
    answerBox(QMessageBox::Ok, &said);
    EXPECT_FALSE(window_->openFile(first));
    EXPECT_TRUE(said.contains("apply or cancel")) << said.toStdString();
    EXPECT_TRUE(core_->busy());
    click(tilt, "Annuler");

    // Discard opens without saving.
    const Picture saved = core_->picture();
    run(4);
    answerBox(QMessageBox::Discard);
    EXPECT_TRUE(window_->openFile(first));
    expectSame(fromImage(QImage(second)), saved);
    EXPECT_EQ(core_->picture(), mirrored);
    EXPECT_FALSE(window_->isWindowModified());
}

TEST_F(EditorTest, SaveAsProposesANewNameAndAsksTheJpegQuality) {
    const QString first = dir_.filePath("first.png");
    ASSERT_TRUE(toImage(sample()).save(first));
    ASSERT_TRUE(window_->openFile(first));
    run(2);
    QString proposed;
    int offered = 0;
    const QString out = dir_.filePath("chosen.jpg");
    QTimer::singleShot(0, [&] {
        auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!files) return;
        proposed = files->selectedFiles().value(0);
        files->selectFile(out);
        QTimer::singleShot(0, [&] {
            auto* ask = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
            if (!ask) return;
            offered = ask->intValue();
            ask->setIntValue(70);
            ask->accept();
        });
        QMetaObject::invokeMethod(files, "accept");
    });
    EXPECT_TRUE(window_->saveAs());
    EXPECT_EQ(proposed, dir_.filePath("first-edited.png"));
    EXPECT_EQ(offered, 92) << "a PNG was opened: the usual quality";
    EXPECT_EQ(window_->file(), out);
    EXPECT_FALSE(window_->isWindowModified());
    EXPECT_TRUE(window_->statusBar()->currentMessage().contains("JPEG quality 70"))
        << window_->statusBar()->currentMessage().toStdString();
    EXPECT_EQ(QImage(out).size(), QSize(480, 640));
}

TEST_F(EditorTest, TheViewRefitsAfterSizeChangesAndShowsSizeZoomAndPointer) {
    auto* scroll = qobject_cast<QScrollArea*>(window_->centralWidget());
    ASSERT_NE(scroll, nullptr);
    auto label = [](const char* name) {
        return window_->statusBar()->findChild<QLabel*>(name)->text();
    };
    window_->fit();
    QTest::qWait(20);
    const double fitted = window_->canvas().zoom();
    EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible());
    EXPECT_FALSE(scroll->verticalScrollBar()->isVisible());
    EXPECT_EQ(label("size"), "640 × 480");
    EXPECT_EQ(label("zoom"), QString("%1 %").arg(std::lround(fitted * 100)));

    run(7, [&] {
        QDialog* d = dialog("ChangeDim");
        auto* width = in<QLineEdit>(d, "DimHorz");
        if (!width) return;
        QTest::mouseClick(width, Qt::LeftButton);
        QTest::keyClicks(width, "320");
        click(d, "Appliquer");
    });
    ASSERT_EQ(core_->width(), 320);
    EXPECT_EQ(label("size"), "320 × 240");
    EXPECT_DOUBLE_EQ(window_->canvas().zoom(), fitted * 2) << "refitted to the smaller picture";
    core_->undo();
    EXPECT_DOUBLE_EQ(window_->canvas().zoom(), fitted);
    QTest::qWait(20);
    EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible());

    // Zoomed by hand: the zoom stays through a size change.
    window_->canvas().setZoom(1.0);
    for (QAction* a : window_->findChildren<QAction*>())
        if (a->text() == "Zoom &in") a->trigger();
    EXPECT_FALSE(window_->fitted());
    EXPECT_DOUBLE_EQ(window_->canvas().zoom(), 1.25);
    core_->redo();
    EXPECT_DOUBLE_EQ(window_->canvas().zoom(), 1.25);
    EXPECT_EQ(label("zoom"), "125 %");

    const QPoint at = window_->canvas().toWidget(QPointF(10, 20)).toPoint();
    canvasPress(QEvent::MouseMove, at, Qt::NoButton);
    EXPECT_EQ(label("pointer"), "10, 20");
}

TEST_F(EditorTest, APictureTooLargeForTheModuleIsRefusedWithItsSize) {
    // A JPEG whose frame header says 30000 x 30000 pixels: 900 megapixels.
    QByteArray jpeg;
    {
        QBuffer b(&jpeg);
        b.open(QIODevice::WriteOnly);
        ASSERT_TRUE(toImage(sample()).save(&b, "jpeg"));
    }
    const qsizetype sof = jpeg.indexOf("\xFF\xC0");
    ASSERT_GT(sof, 0);
    for (int k : {5, 7}) {
        jpeg[sof + k] = static_cast<char>(0x75);
        jpeg[sof + k + 1] = static_cast<char>(0x30);
    }
    const QString path = dir_.filePath("huge.jpg");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(jpeg);
    f.close();
    QString said;
    answerBox(QMessageBox::Ok, &said);
    EXPECT_FALSE(window_->openFile(path));
    EXPECT_TRUE(said.contains("30000 × 30000 pixels (900.0 megapixels)")) << said.toStdString();
    EXPECT_EQ(core_->picture(), sample());
}

TEST_F(EditorTest, InstantCommandsMatchTheToolAndUndoRedoWholePictures) {
    const std::pair<int, const char*> commands[] = {
        {1, "rotate-ccw"}, {2, "rotate-cw"}, {4, "mirror-h"}, {5, "mirror-v"}};
    for (auto [n, name] : commands) {
        SCOPED_TRACE(name);
        core_->open(sample());
        run(n);
        EXPECT_FALSE(core_->busy());
        const Picture result = core_->picture();
        EXPECT_NE(result, sample());
        if (haveTool()) expectSame(result, tool(name, {}));
        ASSERT_TRUE(core_->canUndo());
        core_->undo();
        EXPECT_EQ(core_->picture(), sample());
        core_->redo();
        EXPECT_EQ(core_->picture(), result);
    }
}

TEST_F(EditorTest, DistortionDialogAppliesTheDraggedRate) {
    int rate = 0;
    run(8, [&] {
        QDialog* d = dialog("CorrDist");
        // The hint says when this dialog computes.
        EXPECT_TRUE(statusText().startsWith("The preview is computed when the mouse releases"))
            << statusText().toStdString();
        auto* slider = in<QSlider>(d, "TauxCorr");
        if (!slider) return;
        // The thumb sits in the middle (rate 0 of -100..100): press it and
        // drag to the right until the rate passes 10.
        QPoint at(slider->width() / 2, slider->height() / 2);
        auto send = [&](QEvent::Type type, Qt::MouseButtons held) {
            QMouseEvent e(type, at, slider->mapToGlobal(at),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held,
                          Qt::NoModifier);
            QCoreApplication::sendEvent(slider, &e);
        };
        send(QEvent::MouseButtonPress, Qt::LeftButton);
        while (slider->value() < 10 && at.x() < slider->width()) {
            at.rx() += 1;
            send(QEvent::MouseMove, Qt::LeftButton);
        }
        send(QEvent::MouseButtonRelease, Qt::NoButton);
        rate = slider->value();
        click(d, "Appliquer");
    });
    EXPECT_GE(rate, 10);
    EXPECT_FALSE(core_->busy());
    EXPECT_EQ(statusText(), "Ready");
    EXPECT_NE(core_->picture(), sample());
    if (haveTool())
        expectSame(core_->picture(),
                   tool("distortion", {"--rate", QString::number(rate), "--nearest"}));
    // Crop to result knows the rate, the law and the sampling the dialog
    // applied: the rectangle of pixels the correction computed.
    EXPECT_TRUE(window_->cropToResultAction(false)->isEnabled());
    EXPECT_EQ(core_->cropToResult(false),
              hosts::distortionCrop(640, 480, hosts::DistortionStep{rate, 1, false}, false));
}

TEST_F(EditorTest, CancelledDialogsLeaveThePictureAsItWas) {
    run(8, [&] {
        QDialog* d = dialog("CorrDist");
        if (auto* slider = in<QSlider>(d, "TauxCorr")) {
            slider->setFocus();
            QTest::keyClick(slider, Qt::Key_End);
        }
        QTest::keyClick(d, Qt::Key_Escape);
    });
    EXPECT_FALSE(core_->busy());
    EXPECT_EQ(core_->picture(), sample());
    EXPECT_FALSE(core_->canUndo());

    run(3);
    QDialog* d = dialog("InclineHorz");
    EXPECT_EQ(statusText(), "Click the left box on the line in the dialog, then a point at the "
                            "left of the horizon on the picture");
    EXPECT_EQ(window_->canvas().cursor().shape(), Qt::CrossCursor);
    pickHorizon(d);
    EXPECT_NE(core_->picture(), sample()) << "a preview is shown";
    click(d, "Annuler");
    EXPECT_FALSE(core_->busy());
    EXPECT_EQ(core_->picture(), sample());
    EXPECT_EQ(window_->canvas().cursor().shape(), Qt::ArrowCursor);
}

TEST_F(EditorTest, TiltFromTwoPickedPointsMatchesTheTool) {
    run(3);
    QDialog* d = dialog("InclineHorz");
    pickHorizon(d);
    click(d, "Appliquer");
    EXPECT_FALSE(core_->busy());
    EXPECT_NE(core_->picture(), sample());
    if (haveTool())
        expectSame(core_->picture(),
                   tool("tilt", {"--from", "100,300", "--to", "500,260", "--nearest"}));
}

TEST_F(EditorTest, CropFromADraggedSelectionMatchesTheTool) {
    run(6);
    QDialog* d = dialog("RogneImg");
    EXPECT_EQ(statusText(),
              "Drag a rectangle on the picture, or type it in the dialog; Appliquer crops to it");
    canvasPress(QEvent::MouseButtonPress, {100, 80}, Qt::LeftButton);
    canvasPress(QEvent::MouseMove, {250, 200}, Qt::LeftButton);
    canvasPress(QEvent::MouseMove, {400, 300}, Qt::LeftButton);
    canvasPress(QEvent::MouseButtonRelease, {400, 300}, Qt::NoButton);
    ASSERT_TRUE(core_->selection());
    EXPECT_EQ(*core_->selection(), (PixelRect{100, 80, 300, 220}));
    EXPECT_EQ(in<QLineEdit>(d, "MrgG")->text(), "100") << "the report fills the fields";
    EXPECT_EQ(in<QLineEdit>(d, "DimVert")->text(), "220");
    click(d, "Appliquer");
    EXPECT_FALSE(core_->busy());
    EXPECT_EQ(core_->width(), 300);
    EXPECT_EQ(core_->height(), 220);
    if (haveTool()) expectSame(core_->picture(), tool("crop", {"--rect", "100,80,300,220"}));
}

TEST_F(EditorTest, CropRectangleIsOneMovedAndResizedByHandlesAndReadsOnThePicture) {
    run(6);
    QDialog* d = dialog("RogneImg");
    const QImage plain = window_->canvas().grab().toImage();
    canvasPress(QEvent::MouseButtonPress, {100, 80}, Qt::LeftButton);
    canvasPress(QEvent::MouseMove, {400, 300}, Qt::LeftButton);
    canvasPress(QEvent::MouseButtonRelease, {400, 300}, Qt::NoButton);
    ASSERT_EQ(core_->selection(), (PixelRect{100, 80, 300, 220}));

    // The cursor says what a press would do: resize, move or draw anew.
    const std::pair<QPoint, Qt::CursorShape> cursors[] = {
        {{400, 300}, Qt::SizeFDiagCursor}, {{100, 300}, Qt::SizeBDiagCursor},
        {{250, 80}, Qt::SizeVerCursor},    {{400, 190}, Qt::SizeHorCursor},
        {{250, 190}, Qt::SizeAllCursor},   {{20, 450}, Qt::CrossCursor}};
    for (const auto& [at, shape] : cursors) {
        canvasPress(QEvent::MouseMove, at, Qt::NoButton);
        EXPECT_EQ(window_->canvas().cursor().shape(), shape) << at.x() << ", " << at.y();
    }

    // Typed in the dialog: the same one rectangle follows.
    auto* left = in<QLineEdit>(d, "MrgG");
    ASSERT_NE(left, nullptr);
    QTest::mouseClick(left, Qt::LeftButton);
    QTest::keyClick(left, Qt::Key_End);
    QTest::keyClick(left, Qt::Key_Backspace);
    QTest::keyClick(left, Qt::Key_Backspace);
    QTest::keyClicks(left, "20");
    EXPECT_EQ(core_->frame(), (PixelRect{120, 80, 300, 220}));
    EXPECT_EQ(core_->selection(), core_->frame());

    // Dark outside, untouched inside, a light edge.
    const QImage shown = window_->canvas().grab().toImage();
    EXPECT_LT(shown.pixelColor(50, 40).value(), plain.pixelColor(50, 40).value() * 3 / 4 + 1);
    EXPECT_EQ(shown.pixelColor(250, 200), plain.pixelColor(250, 200));
    EXPECT_GE(shown.pixelColor(250, 80).lightness(), 240);

    // Moved by a drag inside, resized by the bottom-right handle; the dialog
    // hears of each.
    canvasPress(QEvent::MouseButtonPress, {250, 200}, Qt::LeftButton);
    canvasPress(QEvent::MouseMove, {270, 210}, Qt::LeftButton);
    canvasPress(QEvent::MouseButtonRelease, {270, 210}, Qt::NoButton);
    EXPECT_EQ(core_->selection(), (PixelRect{140, 90, 300, 220}));
    EXPECT_EQ(left->text(), "140");
    canvasPress(QEvent::MouseButtonPress, {441, 311}, Qt::LeftButton);
    canvasPress(QEvent::MouseMove, {500, 400}, Qt::LeftButton);
    canvasPress(QEvent::MouseButtonRelease, {500, 400}, Qt::NoButton);
    EXPECT_EQ(core_->selection(), (PixelRect{140, 90, 360, 310}));
    EXPECT_EQ(in<QLineEdit>(d, "DimHorz")->text(), "360");
    // A click outside without a drag keeps it.
    clickCanvas({20, 450});
    EXPECT_EQ(core_->selection(), (PixelRect{140, 90, 360, 310}));
    // The right side's handle moves the width only.
    canvasPress(QEvent::MouseButtonPress, {500, 245}, Qt::LeftButton);
    canvasPress(QEvent::MouseButtonRelease, {460, 245}, Qt::NoButton);
    EXPECT_EQ(core_->selection(), (PixelRect{140, 90, 320, 310}));

    // A proportion chosen reshapes it, and the dialog shows the new size.
    auto items = in<QWidget>(d, "FormatImg")->findChildren<QAbstractButton*>();
    ASSERT_EQ(items.size(), 5);
    QTest::mouseClick(items[3], Qt::LeftButton, {}, QPoint(6, items[3]->height() / 2));
    EXPECT_EQ(core_->selection(), (PixelRect{140, 90, 320, 240})) << "3/4 Horizontal";
    ASSERT_TRUE(QTest::qWaitFor([&] { return in<QLineEdit>(d, "DimVert")->text() == "240"; }));
    click(d, "Appliquer");
    EXPECT_EQ(core_->width(), 320);
    EXPECT_EQ(core_->height(), 240);
}

TEST_F(EditorTest, CropSelectionKeepsTheChosenProportion) {
    run(6);
    QDialog* d = dialog("RogneImg");
    auto items = in<QWidget>(d, "FormatImg")->findChildren<QAbstractButton*>();
    ASSERT_EQ(items.size(), 5);
    QTest::mouseClick(items[3], Qt::LeftButton, {}, QPoint(6, items[3]->height() / 2));
    EXPECT_EQ(core_->format(), 3) << "3/4 Horizontal";
    canvasPress(QEvent::MouseButtonPress, {10, 10}, Qt::LeftButton);
    canvasPress(QEvent::MouseButtonRelease, {410, 410}, Qt::NoButton);
    ASSERT_TRUE(core_->selection());
    EXPECT_EQ(*core_->selection(), (PixelRect{10, 10, 400, 300}));
    click(d, "Annuler");
    EXPECT_EQ(core_->picture(), sample());
}

TEST_F(EditorTest, ResizeTypedIntoTheDialogMatchesTheTool) {
    run(7, [&] {
        QDialog* d = dialog("ChangeDim");
        auto* width = in<QLineEdit>(d, "DimHorz");
        if (!width) return;
        QTest::mouseClick(width, Qt::LeftButton);
        QTest::keyClicks(width, "320");
        click(d, "Appliquer");
    });
    EXPECT_FALSE(core_->busy());
    EXPECT_EQ(core_->width(), 320);
    EXPECT_EQ(core_->height(), 240);
    if (haveTool()) expectSame(core_->picture(), tool("resize", {"--width", "320", "--nearest"}));
    core_->undo();
    EXPECT_EQ(core_->picture(), sample());
}

TEST_F(EditorTest, PerspectiveFromFourPickedCornersMatchesTheTool) {
    run(9);
    QDialog* d = dialog("CorrPerspect");
    const char* boxes[] = {"PosHG", "PosHD", "PosBD", "PosBG"};
    const QPoint corners[] = {{200, 60}, {440, 60}, {470, 420}, {170, 420}};
    for (int k = 0; k < 4; ++k) {
        click(d, boxes[k]);
        QTest::qWait(300);
        clickCanvas(corners[k]);
    }
    EXPECT_EQ(core_->markers().size(), 4u);
    EXPECT_TRUE(statusText().startsWith("4 points set: a click on the picture redraws the "
                                        "preview with the dialog's current settings"))
        << statusText().toStdString();
    // The corners joined as the trapezoid, over the preview.
    const QImage marked = window_->canvas().grab().toImage();
    EXPECT_TRUE(markerColour(marked.pixelColor(320, 60)));
    EXPECT_TRUE(markerColour(marked.pixelColor(185, 240)));
    click(d, "Appliquer");
    EXPECT_FALSE(core_->busy());
    EXPECT_NE(core_->picture(), sample());
    if (haveTool())
        expectSame(core_->picture(), tool("perspective", {"--corners", "200,60", "440,60",
                                                          "470,420", "170,420", "--nearest"}));
}

TEST_F(EditorTest, CropToResultAfterATiltKeepsOnlyPixelsOfTheSource) {
    Picture flat{640, 480, {}};
    for (int i = 0; i < 640 * 480; ++i)
        flat.rgb.insert(flat.rgb.end(), {40, 90, 140});
    core_->open(flat);
    EXPECT_FALSE(window_->cropToResultAction(true)->isEnabled());
    run(3);
    QDialog* d = dialog("InclineHorz");
    pickHorizon(d);
    click(d, "Appliquer");
    ASSERT_FALSE(core_->busy());
    EXPECT_TRUE(window_->cropToResultAction(true)->isEnabled());
    EXPECT_TRUE(window_->statusBar()->currentMessage().startsWith("Straightened"));

    const Picture tilted = core_->picture();
    auto whites = [&](const Picture& p, PixelRect r) {
        int n = 0;
        for (int y = std::max(0, r.y); y < std::min(p.height, r.y + r.height); ++y)
            for (int x = std::max(0, r.x); x < std::min(p.width, r.x + r.width); ++x) {
                const uint8_t* px = &p.rgb[(static_cast<size_t>(y) * p.width + x) * 3];
                n += px[0] == 255 && px[1] == 255 && px[2] == 255;
            }
        return n;
    };
    ASSERT_GT(whites(tilted, {0, 0, 640, 480}), 1000) << "the tilt left white corners";
    for (bool keep : {true, false}) {
        SCOPED_TRACE(keep);
        const auto r = core_->cropToResult(keep);
        ASSERT_TRUE(r);
        EXPECT_EQ(whites(tilted, *r), 0);
        // As large as it can be: a few pixels more on every side take white.
        EXPECT_GT(whites(tilted, {r->x - 4, r->y - 4, r->width + 8, r->height + 8}), 0);
    }

    // Offered through the crop dialog, which then crops.
    const PixelRect want = *core_->cropToResult(true);
    window_->cropToResultAction(true)->trigger();
    d = dialog("RogneImg");
    EXPECT_EQ(in<QLineEdit>(d, "MrgG")->text(), QString::number(want.x));
    EXPECT_EQ(in<QLineEdit>(d, "DimHorz")->text(), QString::number(want.width));
    click(d, "Appliquer");
    EXPECT_EQ(core_->width(), want.width);
    EXPECT_EQ(core_->height(), want.height);
    EXPECT_EQ(whites(core_->picture(), {0, 0, want.width, want.height}), 0);
    EXPECT_FALSE(window_->cropToResultAction(true)->isEnabled()) << "only right after the tilt";
    core_->undo();
    EXPECT_TRUE(window_->cropToResultAction(true)->isEnabled());
}

// The room a caption needs in its widget, or 0 for a widget without one.
int needed(QWidget* w) {
    const QFontMetrics m = w->fontMetrics();
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->pixmap().isNull() && !l->text().isEmpty() ? m.horizontalAdvance(l->text()) : 0;
    if (auto* b = qobject_cast<QCheckBox*>(w))
        return b->text().isEmpty() ? 0 : b->sizeHint().width();
    if (auto* b = qobject_cast<QRadioButton*>(w))
        return b->text().isEmpty() ? 0 : b->sizeHint().width();
    if (auto* b = qobject_cast<QPushButton*>(w)) return m.horizontalAdvance(b->text()) + 8;
    if (auto* g = qobject_cast<QGroupBox*>(w))
        return g->title().isEmpty() ? 0 : m.horizontalAdvance(g->title()) + 16;
    return 0;
}

// Every caption of every dialog whole, inside its widget and its widget
// inside its parent.
std::vector<std::string> clippedCaptions(QDialog* d) {
    std::vector<std::string> clipped;
    if (!d) return clipped;
    for (QWidget* w : d->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(d)) continue;
        const int want = needed(w);
        const QWidget* parent = w->parentWidget();
        const bool inside = parent && w->geometry().right() < parent->width() + 1;
        if (want && w->font().pixelSize() < 9)
            clipped.push_back(d->objectName().toStdString() + "." + w->objectName().toStdString() +
                              " shrunk to " + std::to_string(w->font().pixelSize()) + " px");
        if (want > w->width() || (want && !inside))
            clipped.push_back(d->objectName().toStdString() + "." + w->objectName().toStdString() +
                              " needs " + std::to_string(want) + ", has " +
                              std::to_string(w->width()));
    }
    return clipped;
}

TEST_F(EditorTest, EveryCaptionOfEveryDialogShowsWhole) {
    std::vector<std::string> clipped;
    for (auto [n, form] : {std::pair{3, "InclineHorz"}, {6, "RogneImg"}, {9, "CorrPerspect"}}) {
        run(n);
        QDialog* d = dialog(form);
        auto c = clippedCaptions(d);
        clipped.insert(clipped.end(), c.begin(), c.end());
        click(d, "Annuler");
    }
    for (auto [n, form] : {std::pair{7, "ChangeDim"}, {8, "CorrDist"}}) {
        run(n, [&, form = form] {
            QDialog* d = dialog(form);
            auto c = clippedCaptions(d);
            clipped.insert(clipped.end(), c.begin(), c.end());
            if (d) QTest::keyClick(d, Qt::Key_Escape);
        });
    }
    for (const std::string& c : clipped)
        ADD_FAILURE() << c;
}

} // namespace
// Save As has Ctrl+Shift+S on every desktop, not only where Qt's standard
// key is defined.
TEST_F(EditorTest, SaveAsHasItsUsualKeyEverywhere) {
    EXPECT_TRUE(window_->saveAsAction()->shortcuts().contains(
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)));
}

// Below 100 % the picture shows smoothly scaled: a pole one pixel wide stays
// a whole line (nearest sampling would keep it in some rows and drop it in
// others); the copy is made once, and again when the pixels change.
TEST_F(EditorTest, ThePictureShowsSmoothlyBelowFullSize) {
    Picture pole{1000, 600, std::vector<uint8_t>(1000 * 600 * 3, 255)};
    for (int y = 0; y < 600; ++y)
        for (int c = 0; c < 3; ++c)
            pole.rgb[(size_t(y) * 1000 + 501) * 3 + c] = 0;
    core_->open(pole);
    window_->canvas().setZoom(0.3);
    window_->canvas().grab();
    const QImage view = window_->canvas().scaledView();
    ASSERT_EQ(view.size(), QSize(300, 180));
    // Every row of the view holds the pole, as a grey of the same depth.
    int darkest = 255, lightest = 0;
    for (int y = 0; y < view.height(); ++y) {
        int row = 255;
        for (int x = 140; x < 160; ++x)
            row = std::min(row, qRed(view.pixel(x, y)));
        darkest = std::min(darkest, row);
        lightest = std::max(lightest, row);
    }
    EXPECT_LT(lightest, 240);
    EXPECT_LE(lightest - darkest, 2);

    // Mirrored: the copy follows the pixels.
    window_->commandAction(4)->trigger();
    window_->canvas().grab();
    const QImage mirrored = window_->canvas().scaledView();
    EXPECT_NE(mirrored, view);
    EXPECT_EQ(mirrored, view.mirrored(true, false));
}

// The view's pixels are made once per change of what shows, never by a
// paint alone: below 100 % the picture scaled once per picture and preview,
// from 100 % only the part around what shows.
TEST_F(EditorTest, TheViewIsMadeOncePerPreviewAndPaintsOnlyCopyIt) {
    Canvas& canvas = window_->canvas();
    auto settle = [] { QTest::qWait(50); };
    canvas.setZoom(0.8);
    settle();
    canvas.grab();
    const int opened = canvas.viewBuilds();
    // Paints of the whole canvas and of a part of it, and a grab, show what
    // was made.
    canvas.repaint();
    canvas.repaint(QRect(10, 10, 40, 30));
    const QImage shown = canvas.grab().toImage();
    settle();
    EXPECT_EQ(canvas.viewBuilds(), opened);
    EXPECT_EQ(shown.pixelColor(5, 5), canvas.scaledView().pixelColor(5, 5));

    // A preview: made once, however often it is painted.
    run(3);
    QDialog* d = dialog("InclineHorz");
    pickHorizon(d);
    settle();
    const int previewed = canvas.viewBuilds();
    EXPECT_GT(previewed, opened);
    click(d, "PtRot2");
    QTest::qWait(300);
    clickCanvas(canvas.toWidget(QPointF(520, 250)).toPoint());
    settle();
    canvas.repaint();
    const QImage preview = canvas.grab().toImage();
    EXPECT_EQ(canvas.viewBuilds(), previewed + 1);
    EXPECT_NE(preview.pixelColor(0, 0), shown.pixelColor(0, 0)) << "the turn's white corner";
    EXPECT_EQ(preview.pixelColor(0, 0), canvas.scaledView().pixelColor(0, 0));
    click(d, "Annuler");
    settle();
    EXPECT_EQ(canvas.viewBuilds(), previewed + 2) << "the picture back as it was";
    EXPECT_EQ(canvas.grab().toImage().pixelColor(0, 0), shown.pixelColor(0, 0));

    // At 800 %, the pixels around the part that shows, each a square of 8
    // x 8 of its own colour; a scroll within them makes nothing.
    auto* scroll = qobject_cast<QScrollArea*>(window_->centralWidget());
    ASSERT_NE(scroll, nullptr);
    canvas.setZoom(8);
    scroll->horizontalScrollBar()->setValue(1600);
    scroll->verticalScrollBar()->setValue(1200);
    settle();
    QImage window = window_->grab().toImage();
    const QRect part = canvas.viewPart();
    const QRect visible(canvas.toPicture(canvas.visibleRegion().boundingRect().topLeft()),
                        canvas.toPicture(canvas.visibleRegion().boundingRect().bottomRight()));
    EXPECT_TRUE(part.contains(visible)) << "the part that shows is made";
    EXPECT_LT(int64_t{part.width()} * part.height(), 640 * 480 / 2) << "and little more";
    const Picture s = sample();
    auto expectPixels = [&](const QImage& grabbed) {
        const QRect view = canvas.visibleRegion().boundingRect();
        int checked = 0;
        for (int y = view.top(); y <= view.bottom(); y += 37)
            for (int x = view.left(); x <= view.right(); x += 29) {
                const QPoint at = canvas.mapTo(window_, QPoint(x, y));
                const size_t i = (size_t(y / 8) * 640 + size_t(x / 8)) * 3;
                ASSERT_EQ(grabbed.pixelColor(at), QColor(s.rgb[i], s.rgb[i + 1], s.rgb[i + 2]))
                    << x << ", " << y;
                ++checked;
            }
        EXPECT_GT(checked, 100);
    };
    expectPixels(window);
    const int zoomed = canvas.viewBuilds();
    scroll->horizontalScrollBar()->setValue(1600 + 100);
    settle();
    window = window_->grab().toImage();
    EXPECT_EQ(canvas.viewBuilds(), zoomed);
    expectPixels(window);
    // Far off: the new part only.
    scroll->horizontalScrollBar()->setValue(0);
    scroll->verticalScrollBar()->setValue(0);
    settle();
    window = window_->grab().toImage();
    EXPECT_EQ(canvas.viewBuilds(), zoomed + 1);
    EXPECT_EQ(canvas.viewPart().topLeft(), QPoint(0, 0));
    EXPECT_FALSE(canvas.viewPart().contains(part));
    expectPixels(window);
    canvas.setZoom(1);
}

// The picture a command opened on is shared with whoever reads it (the
// analysis of its lines): an applied command leaves it as it was, and its
// undo brings it back, whether it was shared or not.
TEST_F(EditorTest, ThePictureBeforeACommandIsKeptWhileShared) {
    for (const bool share : {false, true}) {
        SCOPED_TRACE(share ? "shared" : "alone");
        core_->open(sample());
        run(3);
        QDialog* d = dialog("InclineHorz");
        std::shared_ptr<const Picture> held;
        if (share) held = core_->sharedPictureBeforeCommand();
        pickHorizon(d);
        click(d, "Appliquer");
        ASSERT_FALSE(core_->busy());
        EXPECT_EQ(core_->sharedPictureBeforeCommand(), nullptr);
        if (share) {
            EXPECT_EQ(*held, sample());
        }
        EXPECT_NE(core_->picture(), sample());
        core_->undo();
        EXPECT_EQ(core_->picture(), sample());
    }
}

// Quitting with a dialog open cancels it, then asks about unsaved work:
// answered Cancel, the window stays, with the picture as before the command.
TEST_F(EditorTest, QuittingWithADialogOpenCancelsItThenAsks) {
    run(5); // a change to save
    const Picture changed = core_->picture();
    run(3, [] { dialog("InclineHorz"); });
    ASSERT_TRUE(core_->busy());
    QString asked;
    answerBox(QMessageBox::Cancel, &asked);
    EXPECT_FALSE(window_->close());
    EXPECT_FALSE(core_->busy()) << "the tilt's dialog was cancelled";
    EXPECT_TRUE(asked.contains("changes that are not saved")) << asked.toStdString();
    EXPECT_TRUE(window_->isVisible());
    EXPECT_EQ(core_->picture(), changed);
}

// Ctrl+wheel zooms about the pointer: the picture's pixel under it stays
// under it.  A fitted picture follows the window's size until the user zooms.
TEST_F(EditorTest, WheelZoomsAtThePointerAndAFittedPictureFollowsTheWindow) {
    Canvas& canvas = window_->canvas();
    QWidget* viewport = canvas.parentWidget();
    // Larger than the view, so that there is room to keep the point.
    canvas.setZoom(2.0);
    QCoreApplication::processEvents();
    ASSERT_GT(canvas.width(), viewport->width());
    ASSERT_GT(canvas.height(), viewport->height());
    const double start = canvas.zoom();
    const QPoint at = viewport->rect().center() + QPoint(60, 40);
    auto pixelUnder = [&] { return canvas.toPicture(QPointF(canvas.mapFrom(viewport, at))); };
    const QPoint before = pixelUnder();
    for (int k = 0; k < 3; ++k) {
        QWheelEvent wheel(QPointF(canvas.mapFrom(viewport, at)), QPointF(viewport->mapToGlobal(at)),
                          QPoint(), QPoint(0, 120), Qt::NoButton, Qt::ControlModifier,
                          Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(&canvas, &wheel);
    }
    EXPECT_NEAR(canvas.zoom(), start * 1.25 * 1.25 * 1.25, 1e-9);
    const QPoint after = pixelUnder();
    EXPECT_LE(std::abs(after.x() - before.x()), 1);
    EXPECT_LE(std::abs(after.y() - before.y()), 1);

    // Fitted, then the window shrinks: the picture shrinks with it.
    window_->fit(); // View > Fit
    const double fitted = canvas.zoom();
    const QSize keep = window_->size();
    window_->resize(keep.width() - 200, keep.height() - 150);
    QCoreApplication::processEvents();
    EXPECT_LT(canvas.zoom(), fitted);
    window_->resize(keep);
    QCoreApplication::processEvents();
    EXPECT_NEAR(canvas.zoom(), fitted, 1e-9);
}

// A picture file dropped on the window opens.
TEST_F(EditorTest, APictureDroppedOnTheWindowOpens) {
    const QString path = dir_.filePath("dropped.png");
    ASSERT_TRUE(toImage(Picture{30, 20, std::vector<uint8_t>(30 * 20 * 3, 90)}).save(path));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window_, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window_, &drop);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window_->file() == path; }, 5000));
    EXPECT_EQ(core_->width(), 30);
}

// While a tilt is open a grid lies over the picture, and holding the
// backslash key shows the picture as the dialog found it, the markers where
// they were picked; the grid is also the user's to turn on.
TEST_F(EditorTest, GridAndBeforeAfterWhileStraightening) {
    Canvas& canvas = window_->canvas();
    EXPECT_FALSE(canvas.gridShown());
    run(3);
    QDialog* d = dialog("InclineHorz");
    EXPECT_TRUE(canvas.gridShown());
    pickHorizon(d);
    ASSERT_NE(core_->picture(), sample()) << "a preview";
    // (0, 0): white brought in by the turn in the preview, the sample's own
    // pixel before it.
    const QColor preview = canvas.grab().toImage().pixelColor(0, 0);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Backslash, Qt::NoModifier, "\\");
    QCoreApplication::sendEvent(&canvas, &press);
    EXPECT_TRUE(canvas.showingBefore());
    const QImage held = canvas.grab().toImage();
    const Picture s = sample();
    EXPECT_EQ(held.pixelColor(0, 0), QColor(s.rgb[0], s.rgb[1], s.rgb[2]));
    EXPECT_NE(held.pixelColor(0, 0), preview);
    EXPECT_EQ(core_->markers().size(), 2u);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Backslash, Qt::NoModifier, "\\");
    QCoreApplication::sendEvent(&canvas, &release);
    EXPECT_FALSE(canvas.showingBefore());
    EXPECT_EQ(canvas.grab().toImage().pixelColor(0, 0), preview);
    click(d, "Annuler");
    EXPECT_FALSE(canvas.gridShown());
    window_->gridAction()->trigger();
    EXPECT_TRUE(canvas.gridShown());
    window_->gridAction()->trigger();
    EXPECT_FALSE(canvas.gridShown());
}

// The grid shows the same whether the picture is scaled down (where it is
// laid into the view's pixels) or shown from full size (where it is painted
// over them): dark lines three pixels wide with a light middle, and nothing
// of it once it is turned off.
TEST_F(EditorTest, TheGridShowsAtEveryZoomAndGoesWhenTurnedOff) {
    Canvas& canvas = window_->canvas();
    core_->open(Picture{800, 600, std::vector<uint8_t>(800 * 600 * 3, 128)});
    for (const double zoom : {0.5, 2.0}) {
        SCOPED_TRACE(zoom);
        canvas.setZoom(zoom);
        // Eight cells across the shorter side: the first vertical line.
        const int line = static_cast<int>(std::lround(600 * zoom / 8));
        canvas.setGrid(true);
        QImage shown = canvas.grab().toImage();
        EXPECT_NEAR(qRed(shown.pixel(line - 1, 5)), 73, 1) << "the dark casing";
        EXPECT_NEAR(qRed(shown.pixel(line, 5)), 180, 1) << "the light line";
        EXPECT_NEAR(qRed(shown.pixel(line + 1, 5)), 73, 1);
        EXPECT_EQ(qRed(shown.pixel(line + 2, 5)), 128);
        EXPECT_EQ(qRed(shown.pixel(line / 2, 5)), 128);
        canvas.setGrid(false);
        shown = canvas.grab().toImage();
        EXPECT_EQ(qRed(shown.pixel(line - 1, 5)), 128);
        EXPECT_EQ(qRed(shown.pixel(line, 5)), 128);
    }
    canvas.setZoom(1);
}

// Opened and saved pictures are remembered, newest first, in File > Open
// recent, and an entry opens its picture.
TEST_F(EditorTest, RecentFilesAreRememberedAndOpen) {
    const QString a = dir_.filePath("a.png"), b = dir_.filePath("b.png");
    ASSERT_TRUE(toImage(Picture{20, 10, std::vector<uint8_t>(20 * 10 * 3, 40)}).save(a));
    ASSERT_TRUE(toImage(Picture{10, 20, std::vector<uint8_t>(10 * 20 * 3, 80)}).save(b));
    ASSERT_TRUE(window_->openFile(a));
    ASSERT_TRUE(window_->openFile(b));
    ASSERT_GE(window_->recentFiles().size(), 2);
    EXPECT_EQ(window_->recentFiles()[0], QFileInfo(b).absoluteFilePath());
    EXPECT_EQ(window_->recentFiles()[1], QFileInfo(a).absoluteFilePath());
    const QList<QAction*> entries = window_->recentMenu()->actions();
    ASSERT_GE(entries.size(), 2);
    EXPECT_EQ(entries[1]->text(), "a.png");
    entries[1]->trigger();
    EXPECT_EQ(window_->file(), a);
    EXPECT_EQ(core_->width(), 20);
    EXPECT_EQ(window_->recentFiles()[0], QFileInfo(a).absoluteFilePath());
}

} // namespace talvine::editor

namespace talvine::editor {
namespace {

// After the distortion, crop to result is offered only when the dialog's
// settings were read as it closed; otherwise the status bar says why.  A
// rate slider the editor cannot find is not taken for one at -1.
TEST_F(EditorTest, CropToResultAfterADistortionNeedsItsSettings) {
    for (const bool readable : {true, false}) {
        SCOPED_TRACE(readable ? "settings read" : "settings unknown");
        core_->open(sample());
        QSlider* slider = nullptr;
        run(8, [&] {
            QDialog* d = dialog("CorrDist");
            slider = in<QSlider>(d, "TauxCorr");
            if (slider && !readable) slider->setObjectName("hidden");
            click(d, "Appliquer");
        });
        if (slider) slider->setObjectName("TauxCorr");
        ASSERT_FALSE(core_->busy());
        ASSERT_TRUE(core_->canUndo());
        EXPECT_EQ(window_->cropToResultAction(false)->isEnabled(), readable);
        EXPECT_EQ(window_->cropToResultAction(true)->isEnabled(), readable);
        const QString message = window_->statusBar()->currentMessage();
        EXPECT_TRUE(message.startsWith(readable ? "Corrected: Edit > Crop to result"
                                                : "Crop to result is not offered: the "
                                                  "correction's settings could not be read"))
            << message.toStdString();
        if (readable) {
            // Rate 0 copies every row but the last, which is never a source.
            EXPECT_EQ(core_->cropToResult(false), (PixelRect{0, 0, 640, 479}));
        }
    }
}

} // namespace
} // namespace talvine::editor
