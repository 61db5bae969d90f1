// How long the editor takes from the user's input to the painted preview:
// the real window and the real module on Qt's offscreen platform, a large
// photo-like picture fitted to the window, each previewing command driven as
// a user drives it (the tilt's second point, the distortion slider let go,
// the perspective's fourth corner), with the nearest pixel and the bilinear
// blend; and a 24 MP JPEG opened to a painted window.
//
// Each time is split where the module hands the preview back (its callback,
// seen through EditorCore::onPictureChanged): before it, the module's part
// (XchgData and the dialog's computation); after it, the view's part, up to
// the end of the event-loop turn that painted the canvas.  "paint" is the
// share of the view's part from the canvas's paint event on.
//
//   talvine_editor_bench [--reps N] [--sizes 24,45] [--module PATH] [--smoke]
//
// The program uses the editor's public interfaces only, so that the same
// source measures older editors as well.
#include "EditorCore.h"
#include "ImageIO.h"
#include "MainWindow.h"
#include "Scene.h"
#include "Screenshots.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QSlider>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace talvine;
using Clock = std::chrono::steady_clock;

double ms(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// The demo's facade with a photo's grain: a small deterministic noise on
// every pixel, so that nothing runs faster on flat colour than on a photo
// and a JPEG of it is of a photo's size.
editor::Picture photo(int width, int height) {
    hosts::Picture scene = hosts::sampleScene(width, height);
    uint32_t state = 0x9E3779B9u;
    for (uint8_t& v : scene.rgb) {
        state = state * 1664525u + 1013904223u;
        const int grain = static_cast<int>(state >> 28) - 8; // -8 .. 7
        v = static_cast<uint8_t>(std::clamp(int{v} + grain, 0, 255));
    }
    return {scene.width, scene.height, std::move(scene.rgb)};
}

// Watches the editor: when the module's callback hands a picture over, and
// when the canvas receives a paint event.
class Probe : public QObject {
  public:
    Probe(editor::EditorCore& core, editor::MainWindow& window) : core_(core) {
        forward_ = core.onPictureChanged;
        core.onPictureChanged = [this] {
            if (!changed_) changed_ = Clock::now();
            if (forward_) forward_();
        };
        window.canvas().installEventFilter(this);
    }
    ~Probe() override { core_.onPictureChanged = forward_; }
    void arm() {
        changed_.reset();
        painted_.reset();
    }
    std::optional<Clock::time_point> changed() const { return changed_; }
    std::optional<Clock::time_point> painted() const { return painted_; }

  protected:
    bool eventFilter(QObject*, QEvent* e) override {
        // The first paint after the picture changed.
        if (e->type() == QEvent::Paint && changed_ && !painted_) painted_ = Clock::now();
        return false;
    }

  private:
    editor::EditorCore& core_;
    std::function<void()> forward_;
    std::optional<Clock::time_point> changed_;
    std::optional<Clock::time_point> painted_;
};

struct Sample {
    double total = 0, module = 0, view = 0, paint = 0;
};

struct Bench {
    editor::EditorCore& core;
    editor::MainWindow& window;
    Probe& probe;
    bool failed = false;

    static void settle() {
        // Whatever is pending (paints, the dialog's timers) is done.
        for (int k = 0; k < 5; ++k)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    static bool waitFor(const std::function<bool()>& ready, int milliseconds = 60000) {
        QElapsedTimer t;
        t.start();
        while (!ready()) {
            if (t.elapsed() > milliseconds) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return true;
    }
    static void send(QWidget* w, QEvent::Type type, QPointF at, Qt::MouseButtons held) {
        QMouseEvent e(type, at, w->mapToGlobal(at),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held,
                      Qt::NoModifier);
        QCoreApplication::sendEvent(w, &e);
    }
    static void click(QWidget* w, QPointF at) {
        send(w, QEvent::MouseButtonPress, at, Qt::LeftButton);
        send(w, QEvent::MouseButtonRelease, at, Qt::NoButton);
    }
    void clickButton(QDialog* d, const char* name) {
        auto* b = d->findChild<QAbstractButton*>(name);
        if (!b) {
            std::fprintf(stderr, "no control %s in %s\n", name, qPrintable(d->objectName()));
            failed = true;
            return;
        }
        click(b, QPointF(6, b->height() / 2.0));
        settle();
    }
    QPointF onCanvas(double fx, double fy) {
        return window.canvas().toWidget(QPointF(fx * core.width(), fy * core.height()));
    }

    // Opens command n and waits for its dialog and for the analysis of the
    // picture's lines (a user picks long after it is over).
    QDialog* open(int n, const char* form) {
        window.commandAction(n)->trigger();
        QDialog* d = nullptr;
        if (!waitFor([&] {
                d = editor::openDialog();
                return d && d->objectName() == form;
            })) {
            std::fprintf(stderr, "%s did not open\n", form);
            failed = true;
            return nullptr;
        }
        waitFor([&] { return !window.suggesting(); });
        settle();
        return d;
    }
    void cancel(QDialog* d) {
        clickButton(d, "Annuler");
        if (!waitFor([&] { return !core.busy(); })) failed = true;
        settle();
    }

    // The input, then the event loop until the canvas has painted the
    // picture the module handed over.
    Sample timed(const std::function<void()>& input) {
        settle();
        probe.arm();
        const Clock::time_point start = Clock::now();
        input();
        while (!probe.painted()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            if (ms(start, Clock::now()) > 60000) {
                std::fprintf(stderr, "no paint after the input\n");
                failed = true;
                break;
            }
        }
        const Clock::time_point end = Clock::now();
        Sample s;
        s.total = ms(start, end);
        if (probe.changed() && probe.painted()) {
            s.module = ms(start, *probe.changed());
            s.view = ms(*probe.changed(), end);
            s.paint = ms(*probe.painted(), end);
        }
        return s;
    }

    Sample tilt(bool bilinear) {
        QDialog* d = open(3, "InclineHorz");
        if (!d) return {};
        clickButton(d, bilinear ? "InterBiLin" : "Basique");
        clickButton(d, "PtRot1");
        click(&window.canvas(), onCanvas(0.15, 0.60));
        settle();
        clickButton(d, "PtRot2");
        const Sample s = timed([&] { click(&window.canvas(), onCanvas(0.85, 0.55)); });
        cancel(d);
        return s;
    }

    Sample perspective(bool bilinear) {
        QDialog* d = open(9, "CorrPerspect");
        if (!d) return {};
        clickButton(d, bilinear ? "InterQuad" : "Basique");
        const char* boxes[] = {"PosHG", "PosHD", "PosBD", "PosBG"};
        const double corners[4][2] = {{0.30, 0.10}, {0.70, 0.10}, {0.76, 0.92}, {0.24, 0.92}};
        Sample s;
        for (int k = 0; k < 4; ++k) {
            clickButton(d, boxes[k]);
            const QPointF at = onCanvas(corners[k][0], corners[k][1]);
            if (k < 3) {
                click(&window.canvas(), at);
                settle();
            } else {
                s = timed([&] { click(&window.canvas(), at); });
            }
        }
        cancel(d);
        return s;
    }

    // The distortion's dialog is modal: driven from its own loop.
    Sample distortion(bool bilinear) {
        Sample s;
        bool acted = false;
        QTimer::singleShot(0, [&] {
            distortionIn(bilinear, s);
            acted = true;
        });
        window.commandAction(8)->trigger();
        if (!waitFor([&] { return acted && !core.busy(); })) failed = true;
        settle();
        return s;
    }
    void distortionIn(bool bilinear, Sample& s) {
        QDialog* d = nullptr;
        if (!waitFor([&] {
                d = editor::openDialog();
                return d && d->objectName() == "CorrDist";
            })) {
            std::fprintf(stderr, "CorrDist did not open\n");
            failed = true;
            return;
        }
        settle();
        clickButton(d, bilinear ? "InterQuad" : "Basique");
        auto* slider = d->findChild<QSlider*>("TauxCorr");
        if (!slider) {
            std::fprintf(stderr, "no slider\n");
            failed = true;
            clickButton(d, "Annuler");
            return;
        }
        // The thumb from the middle to a rate of 10 or more, then let go.
        QPointF at(slider->width() / 2.0, slider->height() / 2.0);
        send(slider, QEvent::MouseButtonPress, at, Qt::LeftButton);
        while (slider->value() < 10 && at.x() < slider->width()) {
            at.rx() += 1;
            send(slider, QEvent::MouseMove, at, Qt::LeftButton);
        }
        settle();
        s = timed([&] { send(slider, QEvent::MouseButtonRelease, at, Qt::NoButton); });
        clickButton(d, "Annuler");
    }

    // The same picture painted again (an expose, a scroll): no change.
    Sample repaint() {
        settle();
        probe.arm();
        const Clock::time_point start = Clock::now();
        window.canvas().repaint();
        const Clock::time_point end = Clock::now();
        return {ms(start, end), 0, ms(start, end), ms(start, end)};
    }

    Sample openJpeg(const QString& path) {
        const Sample s = timed([&] {
            if (!window.openFile(path)) failed = true;
        });
        return s;
    }
};

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Row {
    std::string what;
    std::vector<Sample> samples;
};

void print(const std::vector<Row>& rows, double zoom, QSize window) {
    std::printf("\nmedians in ms; window %d x %d, view at %.1f %%\n", window.width(),
                window.height(), zoom * 100);
    std::printf("%-34s %4s %8s %8s %8s %8s %8s %8s\n", "", "n", "total", "module", "view", "paint",
                "min", "max");
    for (const Row& r : rows) {
        if (r.samples.empty()) continue; // a failed run's rows after the failure
        std::vector<double> total, module, view, paint;
        for (const Sample& s : r.samples) {
            total.push_back(s.total);
            module.push_back(s.module);
            view.push_back(s.view);
            paint.push_back(s.paint);
        }
        std::printf("%-34s %4zu %8.1f %8.1f %8.1f %8.1f %8.1f %8.1f\n", r.what.c_str(),
                    r.samples.size(), median(total), median(module), median(view), median(paint),
                    *std::min_element(total.begin(), total.end()),
                    *std::max_element(total.begin(), total.end()));
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The editor's settings (window geometry, recent files) of a test
    // profile, not the user's.
    QStandardPaths::setTestModeEnabled(true);
    QApplication::setOrganizationName("TalvineBench");
    int reps = 5;
    bool smoke = false;
    std::vector<int> sizes = {24, 45};
    std::string module = TALVINE_MODULE_PATH;
    const QStringList args = QApplication::arguments();
    for (int k = 1; k < args.size(); ++k) {
        const QString a = args[k];
        if (a == "--reps" && k + 1 < args.size()) {
            reps = std::max(1, args[++k].toInt());
        } else if (a == "--sizes" && k + 1 < args.size()) {
            sizes.clear();
            for (const QString& s : args[++k].split(','))
                sizes.push_back(s.toInt());
        } else if (a == "--module" && k + 1 < args.size()) {
            module = args[++k].toStdString();
        } else if (a == "--smoke") {
            smoke = true;
            reps = 1;
            sizes = {24};
        } else {
            std::fprintf(stderr,
                         "usage: talvine_editor_bench [--reps N] [--sizes 24,45] [--module PATH] "
                         "[--smoke]\n");
            return 2;
        }
    }
    editor::EditorCore core(module);
    editor::MainWindow window(core);
    window.show();
    window.resize(1600, 1000);
    Probe probe(core, window);
    Bench bench{core, window, probe};
    Bench::settle();

    std::vector<Row> rows;
    double zoom = 0;
    for (const int megapixels : sizes) {
        // 6000 x 4000 and 8256 x 5504, or a small picture for a smoke run.
        const QSize size = smoke              ? QSize(900, 600)
                           : megapixels >= 45 ? QSize(8256, 5504)
                                              : QSize(6000, 4000);
        const std::string tag = smoke ? "smoke" : std::to_string(megapixels) + " MP";
        core.open(photo(size.width(), size.height()));
        Bench::settle();
        zoom = window.canvas().zoom();
        struct Command {
            const char* name;
            Sample (Bench::*run)(bool);
        };
        const Command commands[] = {{"tilt", &Bench::tilt},
                                    {"distortion", &Bench::distortion},
                                    {"perspective", &Bench::perspective}};
        for (const Command& c : commands)
            for (const bool bilinear : {false, true}) {
                Row row{tag + " " + c.name + (bilinear ? " bilinear" : " nearest"), {}};
                // A failed sample ends the run: each would wait out its time limit.
                for (int k = 0; k < reps && !bench.failed; ++k)
                    row.samples.push_back((bench.*c.run)(bilinear));
                rows.push_back(row);
            }
        Row again{tag + " repaint, nothing changed", {}};
        for (int k = 0; k < reps; ++k)
            again.samples.push_back(bench.repaint());
        rows.push_back(again);
        if (bench.failed) break;
    }
    if (!bench.failed && (smoke || std::find(sizes.begin(), sizes.end(), 24) != sizes.end())) {
        QTemporaryDir dir;
        const QString path = dir.filePath("photo.jpg");
        const editor::Picture p = smoke ? photo(900, 600) : photo(6000, 4000);
        cli::writePicture(path.toStdString(), cli::PixelsView{p.width, p.height, p.rgb.data()},
                          cli::WriteOptions{});
        Row row{std::string(smoke ? "smoke" : "24 MP") + " JPEG opened", {}};
        for (int k = 0; k < reps; ++k)
            row.samples.push_back(bench.openJpeg(path));
        rows.push_back(row);
    }
    print(rows, zoom, window.size());
    if (bench.failed) {
        std::fprintf(stderr, "the run failed\n");
        return 1;
    }
    return 0;
}
