// talvine tilt, distortion and perspective: the three correcting dialogs
// driven through the entry points and the automation API, step by step as a
// user at a host would drive them.
#include "CleanCrop.h"
#include "Cli.h"
#include "Corrections.h"
#include "CropDrive.h"
#include "Demo.h"
#include "HostSession.h"
#include "ImageIO.h"
#include "Run.h"
#include "Subcommands.h"
#include "UprightCrop.h"
#include "dialogs/Scripts.h"
#include "engines/ModifAngle.h"
#include "plugin/Library.h"
#include "talvine/talvine.h"
#include "toolkit/Application.h"
#include "toolkit/Automation.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

namespace talvine::cli {
namespace {

namespace scripts = dialogs::scripts;

size_t previewCount(const HostSession& host) {
    size_t n = 0;
    for (const CallbackRecord& c : host.callbacks())
        n += c.nature == rtImage && !c.fin;
    return n;
}

// A reported point is a position, not a pixel: the dialogs take any 32-bit
// point (the engines form their offsets in 64 bits and their indices in 128),
// so one outside the picture, a corner of a facade the frame cuts off, is
// passed on with a note; 0..W and 0..H, the edges included, are inside.
Point position(const IntPoint& p, const TDimImg& size, const std::string& what) {
    if (p.x < 0 || p.y < 0 || p.x > size.Largeur || p.y > size.Hauteur)
        note("note: " + what + " (" + std::to_string(p.x) + "," + std::to_string(p.y) +
             ") lies outside the " + std::to_string(size.Largeur) + " x " +
             std::to_string(size.Hauteur) + " picture");
    return {p.x, p.y};
}

// Ends an open modeless dialog without applying, then reports why.
[[noreturn]] void abandon(tk::Automation& ui, int command, const std::string& reason) {
    if (scripts::isOpen(ui, command)) scripts::cancel(ui, command);
    throw UserError(reason + "; nothing was written");
}

// The host's side of the picks: each point reported to the open dialog,
// counting the previews up to the last report.
class Picks {
  public:
    Picks(HostSession& host, int command) : host_(host), command_(command) {}
    scripts::PointReport report() {
        return [this](Point p) {
            before_ = previewCount(host_);
            host_.reportPoint(command_, p);
        };
    }
    // Whether the last report brought a preview.
    bool lastPreviewed() const { return previewCount(host_) != before_; }

  private:
    HostSession& host_;
    int command_;
    size_t before_ = 0;
};

// Picks the dialog's points, then applies, or abandons when the dialog
// warned or the last point brought no preview.
template <class Steps>
void pickAndApply(HostSession& host, int command, const Steps& steps,
                  void (*pickAll)(tk::Automation&, const Steps&, const scripts::PointReport&),
                  const std::string& noPreview) {
    tk::Automation ui(talvine::application());
    scripts::BoxWatcher boxes(ui);
    host.start(command);
    Picks picks(host, command);
    pickAll(ui, steps, picks.report());
    if (boxes.first()) abandon(ui, command, *boxes.first());
    if (!picks.lastPreviewed()) abandon(ui, command, noPreview);
    scripts::apply(ui, command);
}

} // namespace

void cropToClean(HostSession& host, const std::optional<hosts::PixelRect>& rect,
                 const std::string& command) {
    if (!host.ended() || !host.applied())
        throw UserError("the " + command + " was not applied; nothing was written");
    const TDimImg size = host.size();
    if (!rect)
        throw UserError("no rectangle of the " + std::to_string(size.Largeur) + " x " +
                        std::to_string(size.Hauteur) + " result holds only pixels the " + command +
                        " computed from inside the picture; nothing was written");
    note("the clean rectangle: " + std::to_string(rect->x) + "," + std::to_string(rect->y) + "," +
         std::to_string(rect->width) + "," + std::to_string(rect->height));
    cropPicture(host, {rect->x, rect->y, rect->width, rect->height});
}

namespace {

// --crop and --keep-proportion: whether to cut the result down to its clean
// rectangle, and of which proportions.
struct CropRequest {
    bool crop = false;
    bool keepProportion = false;
};

CropRequest cropRequest(Args& args, bool always = false) {
    CropRequest c{always || args.flag("--crop"), args.flag("--keep-proportion")};
    if (c.keepProportion && !c.crop) throw UsageError("--keep-proportion goes with --crop");
    return c;
}

} // namespace

// Tilt ----------------------------------------------------------------------

void driveTilt(HostSession& host, const TiltOptions& o) {
    pickAndApply(host, TALVINE_CMD_INCLINAISON, o, scripts::pickTilt,
                 "the tilt produced no preview");
}

namespace {

// --angle: the line's slope in degrees as it is seen, counter-clockwise from
// the horizontal (positive rises to the right), made of two integer points:
// the centre and centre + (dx, -dy).  The dialog computes atan(dy / dx) from
// the two points in 80 bits, so the pair is the one whose quotient comes
// closest to tan(angle) within the 32-bit reach of a reported point: the
// continued fraction's convergents and the last semiconvergent, judged by the
// angle the dialog will compute.
constexpr long double kPi = 3.141592653589793238462643383279502884L;

long double parseDegrees(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    const long double d = std::strtold(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(d) || d <= -90 || d >= 90)
        throw UsageError("--angle must be a number of degrees between -90 and 90 (both left "
                         "out: a vertical line cannot be levelled), not '" +
                         text + "'");
    return d;
}

} // namespace

AnglePick pickAngle(Point centre, long double degrees) {
    constexpr int64_t kMax = 2147483647;
    const int64_t reach = kMax - std::max(std::llabs(centre.x), std::llabs(centre.y));
    if (reach < 1) throw UserError("--centre leaves no room for a second point");
    const long double wanted = degrees * kPi / 180;
    const long double t = std::fabs(tanl(wanted));
    // Candidates (dy, dx) for |tan|, both within the reach.
    std::vector<std::pair<int64_t, int64_t>> candidates{{0, 1}};
    {
        const long double r0 = floorl(t * reach + 0.5L);
        if (r0 <= reach) candidates.push_back({static_cast<int64_t>(r0), reach});
    }
    long double r = t;
    int64_t h2 = 0, h1 = 1, k2 = 1, k1 = 0;
    for (int i = 0; i < 80 && std::isfinite(r); ++i) {
        const long double a = floorl(r);
        const long double h = a * h1 + h2, k = a * k1 + k2;
        if (h > reach || k > reach) {
            long double most = h1 ? floorl(static_cast<long double>(reach - h2) / h1) : a;
            if (k1) most = std::min(most, floorl(static_cast<long double>(reach - k2) / k1));
            if (most >= 1)
                candidates.push_back(
                    {static_cast<int64_t>(most) * h1 + h2, static_cast<int64_t>(most) * k1 + k2});
            break;
        }
        h2 = h1, k2 = k1;
        h1 = static_cast<int64_t>(h), k1 = static_cast<int64_t>(k);
        if (k1 > 0) candidates.push_back({h1, k1});
        const long double frac = r - a;
        if (frac == 0) break;
        r = 1 / frac;
    }
    const int64_t sign = wanted < 0 ? -1 : 1;
    AnglePick best{};
    long double bestError = -1;
    for (auto [dy, dx] : candidates) {
        if (dx < 1 || dx > reach || dy < 0 || dy > reach) continue;
        // The dialog's own formula on the two points it will be given.
        const Point to{static_cast<int32_t>(centre.x + dx),
                       static_cast<int32_t>(centre.y - sign * dy)};
        const long double obtained = -*engines::tiltAngle(centre, to);
        const long double error = std::fabs(obtained - wanted);
        if (bestError < 0 || error < bestError ||
            (error == bestError && dx < int64_t{best.to.x} - centre.x)) {
            bestError = error;
            best = {to, obtained * 180 / kPi + 0.0L};
        }
    }
    return best;
}

namespace {

std::string degreesText(long double d) {
    std::ostringstream s;
    s << std::setprecision(15) << static_cast<double>(d);
    return s.str();
}

// The line to level, as given: two points, an angle and a centre, or the
// level found in the picture (--auto) about a centre.
struct TiltRequest {
    std::optional<IntPoint> from, to, centre;
    std::optional<std::string> angleText;
    long double degrees = 0;
    bool automatic = false;
    bool bilinear = false;
};

TiltRequest tiltRequest(Args& args) {
    const auto from = args.option("--from");
    const auto to = args.option("--to");
    TiltRequest t;
    t.angleText = args.option("--angle");
    t.automatic = args.flag("--auto");
    const auto centre = args.option("--centre");
    t.bilinear = args.interpolate();
    if (t.automatic && (from || to || t.angleText))
        throw UsageError("--auto replaces --from, --to and --angle");
    if (t.angleText && (from || to)) throw UsageError("--angle replaces --from and --to");
    if (centre && !t.angleText && !t.automatic)
        throw UsageError("--centre goes with --angle or --auto");
    if (!t.angleText && !t.automatic && (!from || !to))
        throw UsageError("--from and --to are both needed, or --angle, or --auto");
    if (t.angleText) t.degrees = parseDegrees(*t.angleText);
    if (centre) t.centre = parsePoint(*centre, "--centre");
    if (from) t.from = parsePoint(*from, "--from"), t.to = parsePoint(*to, "--to");
    return t;
}

// --auto: the angle that levels the host's picture, as if it had been given.
void findLevel(TiltRequest& t, const HostSession& host) {
    if (!t.automatic) return;
    t.degrees = foundLevel(analysePicture(host));
    t.angleText = degreesText(t.degrees);
}

// The two points for the dialog, once the picture's size is known.
TiltOptions tiltOptions(const TiltRequest& t, TDimImg size) {
    TiltOptions o{{}, {}, t.bilinear};
    if (!t.angleText) {
        o.from = position(*t.from, size, "--from");
        o.to = position(*t.to, size, "--to");
        return o;
    }
    o.from = t.centre ? position(*t.centre, size, "--centre")
                      : Point{size.Largeur / 2, size.Hauteur / 2};
    const AnglePick pick = pickAngle(o.from, t.degrees);
    o.to = pick.to;
    const std::string what =
        t.automatic ? "the level found, " + *t.angleText + " degrees" : "--angle " + *t.angleText;
    note(what + ": the line from " + std::to_string(o.from.x) + "," + std::to_string(o.from.y) +
         " to " + std::to_string(o.to.x) + "," + std::to_string(o.to.y));
    // 1e-9 degrees moves the farthest pixel of a 2^31-pixel-wide picture by
    // 0.04 of a pixel: closer is as good as exact.
    if (fabsl(pick.degrees - t.degrees) > 1e-9L)
        std::cerr << "talvine: warning: " << *t.angleText
                  << " degrees cannot be reached with two points the dialog takes; the closest is "
                  << degreesText(pick.degrees) << " degrees\n";
    return o;
}

// Tilt, and with --crop (straighten: always) the crop dialog given the
// largest rectangle of the result whose pixels all come from the source.
int tiltCropped(Args& args, bool always) {
    const FileOptions out = fileOptions(args);
    TiltRequest t = tiltRequest(args);
    const CropRequest c = cropRequest(args, always);
    const auto files = args.positional(2);
    HostSession host(OnCancel::Discard);
    loadInput(host, files[0], out);
    findLevel(t, host);
    const TDimImg size = host.size();
    const TiltOptions o = tiltOptions(t, size);
    driveTilt(host, o);
    if (c.crop)
        cropToClean(host,
                    hosts::uprightCrop(size.Largeur, size.Hauteur,
                                       hosts::TiltStep{o.from, o.to, o.bilinear}, std::nullopt,
                                       c.keepProportion),
                    "tilt");
    return finish(host, files[1], out);
}

int tilt(Args& args) {
    return tiltCropped(args, false);
}

// Straighten: the tilt and its clean crop, the rectangle the editor offers
// after a tilt.
int straighten(Args& args) {
    return tiltCropped(args, true);
}

// Distortion ----------------------------------------------------------------

using DistortionOptions = scripts::Distortion;

void driveDistortion(HostSession& host, const DistortionOptions& o) {
    tk::Automation ui(talvine::application());
    scripts::BoxWatcher boxes(ui);
    ui.headless().clearFailures();
    scripts::queueDistortion(ui, o);
    host.start(TALVINE_CMD_DISTORSION);
    ui.headless().clearActions();
    if (boxes.first()) throw UserError(*boxes.first() + "; nothing was written");
    if (!ui.failures().empty())
        throw UserError("the distortion dialog could not be driven: " + ui.failures().front());
}

int distortion(Args& args) {
    const FileOptions out = fileOptions(args);
    const auto rate = args.option("--rate");
    const auto law = args.option("--law");
    const bool bilinear = args.interpolate();
    const CropRequest c = cropRequest(args);
    if (!rate) throw UsageError("--rate is needed");
    const DistortionOptions o{parsePosition(*rate, "--rate", -100, 100, 10),
                              law ? parseInt(*law, "--law", 1, 2) : 1, bilinear};
    const auto files = args.positional(2);
    HostSession host(OnCancel::Discard);
    loadInput(host, files[0], out);
    driveDistortion(host, o);
    if (c.crop)
        cropToClean(host,
                    hosts::distortionCrop(host.size().Largeur, host.size().Hauteur,
                                          hosts::DistortionStep{o.rate, o.law, o.bilinear},
                                          c.keepProportion),
                    "distortion");
    return finish(host, files[1], out);
}

} // namespace

// Perspective ---------------------------------------------------------------

void drivePerspective(HostSession& host, const PerspectiveOptions& o) {
    pickAndApply(host, TALVINE_CMD_PERSPECTIVE, o, scripts::pickPerspective,
                 "these corners do not define a perspective correction (no preview)");
}

namespace {

int perspective(Args& args) {
    const FileOptions out = fileOptions(args);
    const auto corners = args.options("--corners", 4);
    const bool automatic = args.flag("--auto");
    const auto vertical = args.option("--vertical");
    const bool bilinear = args.interpolate();
    const CropRequest c = cropRequest(args);
    if (automatic && corners) throw UsageError("--auto replaces --corners");
    if (!corners && !automatic) throw UsageError("--corners is needed, or --auto");
    static constexpr std::array<const char*, 4> kNames = {
        "top-left corner", "top-right corner", "bottom-right corner", "bottom-left corner"};
    std::array<IntPoint, 4> points{};
    for (size_t k = 0; corners && k < 4; ++k)
        points[k] = parsePoint((*corners)[k], kNames[k]);
    const int v = vertical ? parsePosition(*vertical, "--vertical", 0, 10, 0.1) : 5;
    const auto files = args.positional(2);
    HostSession host(OnCancel::Discard);
    loadInput(host, files[0], out);
    PerspectiveOptions o{{}, v, bilinear};
    if (automatic) {
        o.corners = foundCorners(analysePicture(host), host.size());
    } else {
        for (size_t k = 0; k < 4; ++k)
            o.corners[k] = position(points[k], host.size(), kNames[k]);
    }
    drivePerspective(host, o);
    if (c.crop)
        cropToClean(host,
                    hosts::uprightCrop(host.size().Largeur, host.size().Hauteur, std::nullopt,
                                       hosts::PerspectiveStep{o.corners, o.vertical, o.bilinear},
                                       c.keepProportion),
                    "perspective");
    return finish(host, files[1], out);
}

// The options of the three commands that may end with their clean crop.
constexpr const char* kCropHelp =
    "  --crop             then cut the result down to the largest rectangle\n"
    "                     whose every pixel was computed from inside the\n"
    "                     picture (command 6), told on stderr\n"
    "  --keep-proportion  with --crop: a rectangle of the picture's proportions\n"
    "                     (default: the largest area of any proportion)\n";

} // namespace

Subcommand tiltCommand() {
    return {"tilt",
            "IN OUT (--from X,Y --to X,Y | --angle DEG | --auto) [--centre X,Y] [--nearest]",
            std::string(
                "Levels the horizon: the picture turns about the --from point so that the line\n"
                "from --from to --to comes out horizontal (command 3).  Corners brought in\n"
                "from outside the picture are white.\n\nOptions:\n"
                "  --from X,Y    the first point of the line, and the centre of the turn\n"
                "  --to X,Y      a second point of the line, in another column\n"
                "                (points are positions: 0..W and 0..H, edges included;\n"
                "                beyond the picture with a note)\n"
                "  --angle DEG   instead of --from and --to: the line's slope, -90 to 90\n"
                "                degrees counter-clockwise (positive rises to the right);\n"
                "                the two points picked are told on stderr, with a warning\n"
                "                when the dialog cannot obtain the angle exactly\n"
                "  --auto        instead: the angle that levels the picture's straight lines,\n"
                "                as talvine detect finds it; a picture with too few of them,\n"
                "                or whose lines disagree, is refused and nothing written\n"
                "  --centre X,Y  with --angle or --auto: the centre of the turn (default:\n"
                "                the picture's centre, W/2,H/2 rounded down)\n"
                "  --nearest     take the nearest pixel (the dialog's \"Basique\"; --basic\n"
                "                says the same) instead of interpolating between\n"
                "                neighbouring pixels, the default (--bilinear,\n"
                "                --smooth)\n") +
                kCropHelp + kFileHelp,
            tilt};
}

Subcommand straightenCommand() {
    return {"straighten",
            "IN OUT (--from X,Y --to X,Y | --angle DEG | --auto) [--centre X,Y] [--nearest] "
            "[--keep-proportion]",
            std::string(
                "Levels the horizon as tilt does (command 3), then cuts the result down to the\n"
                "largest rectangle that holds only pixels of the source, no white corner\n"
                "(command 6), the rectangle the editor offers after a tilt.  The rectangle\n"
                "is told on stderr.\n\nOptions:\n"
                "  --from X,Y         the first point of the line, and the centre of the turn\n"
                "  --to X,Y           a second point of the line, in another column\n"
                "  --angle DEG        instead of --from and --to: the line's slope, -90 to 90\n"
                "                     degrees counter-clockwise (positive rises to the right)\n"
                "  --auto             instead: the angle that levels the picture's straight\n"
                "                     lines, as talvine detect finds it; a picture with too\n"
                "                     few of them, or whose lines disagree, is refused\n"
                "  --centre X,Y       with --angle or --auto: the centre of the turn\n"
                "                     (default: the picture's centre)\n"
                "  --nearest          take the nearest pixel (the dialog's \"Basique\"; --basic\n"
                "                     says the same) instead of interpolating between\n"
                "                     neighbouring pixels, the default (--bilinear,\n"
                "                     --smooth)\n"
                "  --keep-proportion  a rectangle of the picture's proportions (default: the\n"
                "                     largest area of any proportion)\n") +
                kFileHelp,
            straighten};
}

Subcommand distortionCommand() {
    return {
        "distortion", "IN OUT --rate P [--law 1|2] [--nearest] [--crop [--keep-proportion]]",
        std::string("Corrects barrel or pincushion distortion about the picture's centre\n"
                    "(command 8).\n\nOptions:\n"
                    "  --rate P      -100 to 100: positive for barrel, negative for pincushion;\n"
                    "                or as the dialog shows it, -10% to 10% (1.9% is 19)\n"
                    "  --law 1|2     1: the correction grows as (1 + a.R) (default); 2: as (1 + "
                    "a.R\xC2\xB2)\n"
                    "  --nearest     take the nearest pixel (the dialog's \"Basique\"; --basic\n"
                    "                says the same) instead of interpolating between\n"
                    "                neighbouring pixels, the default (--bilinear,\n"
                    "                --smooth)\n") +
            kCropHelp + kFileHelp,
        distortion};
}

Subcommand perspectiveCommand() {
    return {"perspective",
            "IN OUT (--corners X,Y X,Y X,Y X,Y | --auto) [--vertical V] [--nearest] "
            "[--crop [--keep-proportion]]",
            std::string(
                "Straightens converging verticals: the four corners of something rectangular\n"
                "(top-left, top-right, bottom-right, bottom-left) are mapped so that its sides\n"
                "come out vertical (command 9).\n\nOptions:\n"
                "  --corners     the four corners, in that order: positions in 0..W and\n"
                "                0..H, edges included, or beyond the picture (with a note)\n"
                "                when the frame cuts the rectangle off\n"
                "  --auto        instead: the corners that make the picture's converging\n"
                "                verticals vertical, as talvine detect finds them (bottom\n"
                "                corners at the bottom edge's ends, top corners on the lines\n"
                "                from them to where the verticals meet); a picture with too\n"
                "                few of them, lines that disagree or verticals that do not\n"
                "                converge upwards is refused and nothing written\n"
                "  --vertical V  vertical stretch, 0 to 10 (default 5, as the dialog opens),\n"
                "                or as the dialog shows it, 0% to 100% (50% is 5)\n"
                "  --nearest     take the nearest pixel (the dialog's \"Basique\"; --basic\n"
                "                says the same) instead of interpolating between\n"
                "                neighbouring pixels, the default (--bilinear,\n"
                "                --smooth)\n") +
                kCropHelp + kFileHelp,
            perspective};
}

// The demo's sample (640 x 480) has its horizon rising 3 degrees to the
// right, barrel distortion of about a tenth at the corners, and a facade whose
// top is about a quarter narrower than its base.
namespace {
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
} // namespace

DemoStep tiltDemoStep() {
    return demoStep<TiltOptions, driveTilt>(TALVINE_CMD_INCLINAISON, "03-tilt.png",
                                            {{120, 331}, {520, 310}, true});
}
DemoStep distortionDemoStep() {
    return demoStep<DistortionOptions, driveDistortion>(TALVINE_CMD_DISTORSION, "08-distortion.png",
                                                        {22, 2, true});
}
DemoStep perspectiveDemoStep() {
    return demoStep<PerspectiveOptions, drivePerspective>(
        TALVINE_CMD_PERSPECTIVE, "09-perspective.png",
        {{{{216, 60}, {404, 51}, {448, 410}, {208, 420}}}, 5, true});
}

} // namespace talvine::cli
