// talvine tilt, distortion and perspective: the three correcting dialogs
// driven through the entry points and the automation API, step by step as a
// user at a host would drive them.
#include "Cli.h"
#include "Demo.h"
#include "HostSession.h"
#include "ImageIO.h"
#include "Run.h"
#include "toolkit/Application.h"
#include "toolkit/Automation.h"

#include <array>
#include <optional>
#include <string>

namespace talvine::cli {
namespace {

// The pick boxes blink at 200 ms: the user waits past the first tick before
// clicking the picture.
constexpr int kPickPauseMs = 300;

// Watches the dialog's warning boxes (instead of the headless backend
// printing them) for the length of one command.
class Warnings {
  public:
    explicit Warnings(tk::Automation& ui) : ui_(ui) {
        ui_.headless().listen([this](const tk::Box& box) {
            if (!first_) first_ = box.text;
        });
    }
    ~Warnings() { ui_.headless().listen(nullptr); }
    Warnings(const Warnings&) = delete;
    Warnings& operator=(const Warnings&) = delete;
    const std::optional<std::string>& first() const { return first_; }

  private:
    tk::Automation& ui_;
    std::optional<std::string> first_;
};

size_t previewCount(const HostSession& host) {
    size_t n = 0;
    for (const CallbackRecord& c : host.callbacks())
        n += c.nature == rtImage && !c.fin;
    return n;
}

Point inside(const IntPoint& p, const TDimImg& size, const std::string& what) {
    if (p.x < 0 || p.y < 0 || p.x >= size.Largeur || p.y >= size.Hauteur)
        throw UserError(what + " (" + std::to_string(p.x) + "," + std::to_string(p.y) +
                        ") lies outside the " + std::to_string(size.Largeur) + " x " +
                        std::to_string(size.Hauteur) + " picture");
    return {p.x, p.y};
}

// Ends an open modeless dialog without applying, then reports why.
[[noreturn]] void abandon(tk::Automation& ui, const std::string& cancelButton,
                          const std::string& reason) {
    if (ui.form(cancelButton.substr(0, cancelButton.find('.'))).visible()) ui.click(cancelButton);
    throw UserError(reason + "; nothing was written");
}

// Tilt ----------------------------------------------------------------------

struct TiltOptions {
    Point from;
    Point to;
    bool bilinear = false;
};

void driveTilt(HostSession& host, const TiltOptions& o) {
    tk::Automation ui(tk::application());
    Warnings warnings(ui);
    host.start(3);
    if (o.bilinear) ui.click("InclineHorz.InterBiLin");
    ui.click("InclineHorz.PtRot1");
    ui.advance(kPickPauseMs);
    host.reportPoint(3, o.from);
    ui.click("InclineHorz.PtRot2");
    ui.advance(kPickPauseMs);
    const size_t before = previewCount(host);
    host.reportPoint(3, o.to);
    if (warnings.first()) abandon(ui, "InclineHorz.Annuler", *warnings.first());
    if (previewCount(host) == before)
        abandon(ui, "InclineHorz.Annuler", "the tilt produced no preview");
    ui.click("InclineHorz.Appliquer");
}

int tilt(Args& args) {
    const FileOptions out = fileOptions(args);
    const auto from = args.option("--from");
    const auto to = args.option("--to");
    const bool bilinear = args.flag("--bilinear");
    if (!from || !to) throw UsageError("--from and --to are both needed");
    const IntPoint a = parsePoint(*from, "--from"), b = parsePoint(*to, "--to");
    const auto files = args.positional(2);
    HostSession host(OnCancel::Discard);
    loadInput(host, files[0], out);
    const TiltOptions o{inside(a, host.size(), "--from"), inside(b, host.size(), "--to"), bilinear};
    driveTilt(host, o);
    return finish(host, files[1], out);
}

// Distortion ----------------------------------------------------------------

struct DistortionOptions {
    int rate = 0;
    int law = 1;
    bool bilinear = false;
};

void driveDistortion(HostSession& host, const DistortionOptions& o) {
    tk::Automation ui(tk::application());
    Warnings warnings(ui);
    ui.headless().clearFailures();
    // The dialog is modal: the user's actions wait in the queue for its loop.
    if (o.law == 2) ui.queue([&ui] { ui.clickItem("CorrDist.TypeDistor", 1); });
    if (o.bilinear) ui.queue([&ui] { ui.click("CorrDist.InterQuad"); });
    ui.queue([&ui, rate = o.rate] { ui.dragSlider("CorrDist.TauxCorr", rate); });
    ui.queue([&ui] { ui.click("CorrDist.Appliquer"); });
    host.start(8);
    ui.headless().clearActions();
    if (warnings.first()) throw UserError(*warnings.first() + "; nothing was written");
    if (!ui.failures().empty())
        throw UserError("the distortion dialog could not be driven: " + ui.failures().front());
}

int distortion(Args& args) {
    const FileOptions out = fileOptions(args);
    const auto rate = args.option("--rate");
    const auto law = args.option("--law");
    const bool bilinear = args.flag("--bilinear");
    if (!rate) throw UsageError("--rate is needed");
    const DistortionOptions o{parseInt(*rate, "--rate", -100, 100),
                              law ? parseInt(*law, "--law", 1, 2) : 1, bilinear};
    const auto files = args.positional(2);
    HostSession host(OnCancel::Discard);
    loadInput(host, files[0], out);
    driveDistortion(host, o);
    return finish(host, files[1], out);
}

// Perspective ---------------------------------------------------------------

struct PerspectiveOptions {
    std::array<Point, 4> corners; // top-left, top-right, bottom-right, bottom-left
    int vertical = 5;
    bool bilinear = false;
};

void drivePerspective(HostSession& host, const PerspectiveOptions& o) {
    static constexpr std::array<const char*, 4> kBoxes = {
        "CorrPerspect.PosHG", "CorrPerspect.PosHD", "CorrPerspect.PosBD", "CorrPerspect.PosBG"};
    tk::Automation ui(tk::application());
    Warnings warnings(ui);
    host.start(9);
    ui.dragSlider("CorrPerspect.CorrVert", o.vertical);
    if (o.bilinear) ui.click("CorrPerspect.InterQuad");
    size_t before = 0;
    for (size_t k = 0; k < 4; ++k) {
        ui.click(kBoxes[k]);
        ui.advance(kPickPauseMs);
        before = previewCount(host);
        host.reportPoint(9, o.corners[k]);
    }
    if (warnings.first()) abandon(ui, "CorrPerspect.Annuler", *warnings.first());
    if (previewCount(host) == before)
        abandon(ui, "CorrPerspect.Annuler",
                "these corners do not define a perspective correction (no preview)");
    ui.click("CorrPerspect.Appliquer");
}

int perspective(Args& args) {
    const FileOptions out = fileOptions(args);
    const auto corners = args.options("--corners", 4);
    const auto vertical = args.option("--vertical");
    const bool bilinear = args.flag("--bilinear");
    if (!corners) throw UsageError("--corners is needed");
    static constexpr std::array<const char*, 4> kNames = {
        "top-left corner", "top-right corner", "bottom-right corner", "bottom-left corner"};
    std::array<IntPoint, 4> points{};
    for (size_t k = 0; k < 4; ++k)
        points[k] = parsePoint((*corners)[k], kNames[k]);
    const int v = vertical ? parseInt(*vertical, "--vertical", 0, 10) : 5;
    const auto files = args.positional(2);
    HostSession host(OnCancel::Discard);
    loadInput(host, files[0], out);
    PerspectiveOptions o{{}, v, bilinear};
    for (size_t k = 0; k < 4; ++k)
        o.corners[k] = inside(points[k], host.size(), kNames[k]);
    drivePerspective(host, o);
    return finish(host, files[1], out);
}

const Registration kTilt{
    {"tilt", "IN OUT --from X,Y --to X,Y [--bilinear]",
     std::string("Levels the horizon: the picture turns about the --from point so that the line\n"
                 "from --from to --to comes out horizontal (command 3).  Corners brought in\n"
                 "from outside the picture are white.\n\nOptions:\n"
                 "  --from X,Y    the first point of the line, and the centre of the turn\n"
                 "  --to X,Y      a second point of the line, in another column\n"
                 "  --bilinear    interpolate between neighbouring pixels\n") +
         kFileHelp,
     tilt}};

const Registration kDistortion{
    {"distortion", "IN OUT --rate P [--law 1|2] [--bilinear]",
     std::string("Corrects barrel or pincushion distortion about the picture's centre\n"
                 "(command 8).\n\nOptions:\n"
                 "  --rate P      -100 to 100: positive for barrel, negative for pincushion\n"
                 "  --law 1|2     1: the correction grows as (1 + a.R) (default); 2: as (1 + "
                 "a.R\xC2\xB2)\n"
                 "  --bilinear    interpolate between neighbouring pixels\n") +
         kFileHelp,
     distortion}};

const Registration kPerspective{
    {"perspective", "IN OUT --corners X,Y X,Y X,Y X,Y [--vertical V] [--bilinear]",
     std::string("Straightens converging verticals: the four corners of something rectangular\n"
                 "(top-left, top-right, bottom-right, bottom-left) are mapped so that its sides\n"
                 "come out vertical (command 9).\n\nOptions:\n"
                 "  --corners     the four corners, in that order\n"
                 "  --vertical V  vertical stretch, 0 to 10 (default 5, as the dialog opens)\n"
                 "  --bilinear    interpolate between neighbouring pixels\n") +
         kFileHelp,
     perspective}};

// The demo's sample (640 x 480) has its horizon rising 3 degrees to the
// right, barrel distortion of about a tenth at the corners, and a facade whose
// top is about a quarter narrower than its base.
template <class Options, void (*Drive)(HostSession&, const Options&)>
DemoStep demoStep(int command, const char* file, Options o) {
    return {command, file, [o](HostSession& host) {
                try {
                    Drive(host, o);
                } catch (const UserError&) {
                    // Not applied: the demo reports the step as such.
                }
            }};
}
const DemoRegistration kDemo3{
    demoStep<TiltOptions, driveTilt>(3, "03-tilt.png", {{120, 331}, {520, 310}, true})};
const DemoRegistration kDemo8{
    demoStep<DistortionOptions, driveDistortion>(8, "08-distortion.png", {22, 2, true})};
const DemoRegistration kDemo9{demoStep<PerspectiveOptions, drivePerspective>(
    9, "09-perspective.png", {{{{216, 60}, {404, 51}, {448, 410}, {208, 420}}}, 5, true})};

} // namespace
} // namespace talvine::cli
