// talvine resize and crop: the two size-changing dialogs driven through the
// entry points and the automation API, typed into as a user would.
#include "Cli.h"
#include "CropDrive.h"
#include "Demo.h"
#include "HostSession.h"
#include "ImageIO.h"
#include "Run.h"
#include "Subcommands.h"
#include "dialogs/Scripts.h"
#include "plugin/Library.h"
#include "talvine/talvine.h"
#include "toolkit/Application.h"
#include "toolkit/Automation.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace talvine::cli {
namespace {

constexpr int kMaxInt = 2147483647;

namespace scripts = dialogs::scripts;
using scripts::SizeBy;

// Resize ----------------------------------------------------------------------

using ResizeOptions = scripts::Resize;

void driveResize(HostSession& host, const ResizeOptions& o) {
    tk::Automation ui(talvine::application());
    scripts::BoxWatcher boxes(ui);
    ui.headless().clearFailures();
    scripts::queueResize(ui, o);
    // Still open after the apply: it failed, and the user gives up.
    ui.queue([&ui] { scripts::cancel(ui, TALVINE_CMD_REDIMENSIONNER); });
    host.start(TALVINE_CMD_REDIMENSIONNER);
    ui.headless().clearActions();
    if (boxes.first()) throw UserError(*boxes.first());
    if (!ui.failures().empty())
        throw UserError("the resize dialog could not be driven: " + ui.failures().front());
}

// The dialog's percentage is a whole number (a spin box, 1 to 800): "50%",
// "33.3" or "12.5" are accepted and rounded to the nearest whole percentage,
// halves to even as the dialog rounds its linked fields, with a note.
int parsePercent(const std::string& given) {
    std::string text = given;
    if (!text.empty() && text.back() == '%') text.pop_back();
    char* end = nullptr;
    errno = 0;
    const long double value = std::strtold(text.c_str(), &end);
    const long double whole = std::isfinite(value) ? rintl(value) : 0;
    if (text.empty() || *end != '\0' || errno == ERANGE || whole < 1 || whole > 800)
        throw UsageError("--percent must be a percentage from 1 to 800 (a whole number once "
                         "rounded, with or without %), not '" +
                         given + "'");
    const int percent = static_cast<int>(whole);
    if (whole != value)
        note("note: --percent " + given + " entered as " + std::to_string(percent) +
             "% (the dialog takes whole percentages)");
    return percent;
}

ResizeOptions resizeOptions(Args& args) {
    const auto width = args.option("--width");
    const auto height = args.option("--height");
    const auto size = args.option("--size");
    const auto percent = args.option("--percent");
    ResizeOptions o;
    o.smooth = args.interpolate();
    if (int(width.has_value()) + int(height.has_value()) + int(size.has_value()) +
            int(percent.has_value()) !=
        1)
        throw UsageError("give exactly one of --width, --height, --size and --percent");
    if (width) {
        o.by = SizeBy::Width;
        o.first = parseInt(*width, "--width", 1, kMaxInt);
    } else if (height) {
        o.by = SizeBy::Height;
        o.first = parseInt(*height, "--height", 1, kMaxInt);
    } else if (percent) {
        o.by = SizeBy::Percent;
        o.first = parsePercent(*percent);
    } else {
        const auto x = size->find('x');
        if (x == std::string::npos) throw UsageError("--size must be WxH, not '" + *size + "'");
        o.by = SizeBy::Both;
        o.first = parseInt(size->substr(0, x), "--size width", 1, kMaxInt);
        o.second = parseInt(size->substr(x + 1), "--size height", 1, kMaxInt);
    }
    return o;
}

// Round(a / b), ties to even, as the dialog computes its linked fields.
int64_t roundedQuotient(int64_t a, int64_t b) {
    return static_cast<int64_t>(rintl(static_cast<long double>(a) / static_cast<long double>(b)));
}

std::string sizeText(int64_t w, int64_t h) {
    return std::to_string(w) + " x " + std::to_string(h);
}

// The checks that need the picture's size, made before the dialog opens: the
// new size the dialog will compute must have no zero side and stay within
// its fields' range of eight times each side.
void checkResize(const ResizeOptions& o, TDimImg size) {
    const int64_t w = size.Largeur, h = size.Hauteur;
    const auto within = [&](const char* option, int64_t value, int64_t side, const char* name) {
        if (value > 8 * side)
            throw UserError(std::string(option) + " must be from 1 to 8 times the picture's " +
                            name + " (" + std::to_string(8 * side) + "), not " +
                            std::to_string(value));
    };
    int64_t nw = 0, nh = 0;
    std::string given;
    switch (o.by) {
    case SizeBy::Width: {
        within("--width", o.first, w, "width");
        const int64_t percent = roundedQuotient(int64_t{o.first} * 100, w);
        nw = o.first;
        nh = roundedQuotient(percent * h, 100);
        given = "--width " + std::to_string(o.first);
        break;
    }
    case SizeBy::Height: {
        within("--height", o.first, h, "height");
        const int64_t percent = roundedQuotient(int64_t{o.first} * 100, h);
        nw = roundedQuotient(percent * w, 100);
        nh = o.first;
        given = "--height " + std::to_string(o.first);
        break;
    }
    case SizeBy::Percent:
        nw = roundedQuotient(int64_t{o.first} * w, 100);
        nh = roundedQuotient(int64_t{o.first} * h, 100);
        given = "--percent " + std::to_string(o.first);
        break;
    case SizeBy::Both:
        within("--size width", o.first, w, "width");
        within("--size height", o.second, h, "height");
        nw = o.first;
        nh = o.second;
        break;
    }
    if (nw == 0 || nh == 0)
        throw UserError(given + " makes the " + sizeText(w, h) + " picture " + sizeText(nw, nh) +
                        " pixels (the sides stay linked through a whole percentage); give a " +
                        "size with at least 1 pixel on each side");
}

int resize(Args& args) {
    const FileOptions out = fileOptions(args);
    const ResizeOptions o = resizeOptions(args);
    const auto files = args.positional(2);
    HostSession host(OnCancel::Discard);
    loadInput(host, files[0], out);
    checkResize(o, host.size());
    driveResize(host, o);
    return finish(host, files[1], out);
}

// Crop ------------------------------------------------------------------------

constexpr std::array<const char*, 5> kFormats = {"FREE", "2/3H", "2/3V", "3/4H", "3/4V"};
using CropOptions = scripts::Crop;

void driveCrop(HostSession& host, const CropOptions& o) {
    tk::Automation ui(talvine::application());
    scripts::BoxWatcher boxes(ui);
    host.start(TALVINE_CMD_ROGNER);
    if (!scripts::isOpen(ui, TALVINE_CMD_ROGNER)) throw UserError("the crop dialog did not open");
    scripts::typeCrop(ui, o);
    scripts::apply(ui, TALVINE_CMD_ROGNER);
    if (boxes.first()) {
        if (scripts::isOpen(ui, TALVINE_CMD_ROGNER)) scripts::cancelCrop(ui);
        throw UserError(*boxes.first());
    }
}

// ImageMagick's WxH+X+Y, as X,Y,W,H.  Offsets from the right or bottom
// ("-X") and the other geometry flags (%, !, <, >, ^, @) are not crops of a
// rectangle here and are refused.
std::string rectOfGeometry(const std::string& g) {
    const auto x = g.find('x');
    const auto plus1 = g.find('+');
    const auto plus2 = plus1 == std::string::npos ? plus1 : g.find('+', plus1 + 1);
    if (x == std::string::npos || plus1 == std::string::npos || plus2 == std::string::npos ||
        x > plus1 || g.find_first_not_of("0123456789x+") != std::string::npos ||
        g.find('+', plus2 + 1) != std::string::npos)
        throw UsageError("--geometry must be WxH+X+Y, not '" + g + "'");
    return g.substr(plus1 + 1, plus2 - plus1 - 1) + "," + g.substr(plus2 + 1) + "," +
           g.substr(0, x) + "," + g.substr(x + 1, plus1 - x - 1);
}

CropOptions cropOptions(Args& args) {
    auto rect = args.option("--rect");
    const auto geometry = args.option("--geometry");
    // --aspect names the proportion as photographers do; the dialog's own
    // names (FREE, 2/3H...) are still taken, by --aspect or by --format.
    auto format = args.option("--aspect");
    if (!format) format = args.option("--format");
    if (format) {
        static constexpr std::array<std::pair<const char*, const char*>, 5> kRatios = {
            {{"free", "FREE"}, {"3:2", "2/3H"}, {"2:3", "2/3V"}, {"4:3", "3/4H"}, {"3:4", "3/4V"}}};
        for (const auto& [ratio, name] : kRatios)
            if (*format == ratio) format = name;
    }
    if (rect && geometry) throw UsageError("give --rect or --geometry, not both");
    if (geometry) rect = rectOfGeometry(*geometry);
    if (!rect) throw UsageError("--rect or --geometry is needed");
    CropOptions o;
    static constexpr std::array<const char*, 4> kNames = {"--rect x", "--rect y", "--rect width",
                                                          "--rect height"};
    size_t start = 0;
    for (size_t k = 0; k < 4; ++k) {
        const size_t comma = k < 3 ? rect->find(',', start) : rect->size();
        if (comma == std::string::npos || (k == 3 && rect->find(',', start) != std::string::npos))
            throw UsageError("--rect must be X,Y,W,H, not '" + *rect + "'");
        o.rect[k] = parseInt(rect->substr(start, comma - start), kNames[k], k < 2 ? 0 : 1, kMaxInt);
        start = comma + 1;
    }
    if (format) {
        size_t k = 0;
        while (k < kFormats.size() && *format != kFormats[k])
            ++k;
        if (k == kFormats.size())
            throw UsageError("--aspect must be free, 3:2, 2:3, 4:3 or 3:4, not '" + *format + "'");
        o.format = static_cast<int>(k);
    }
    return o;
}

// A rectangle reaching past the right or bottom edge keeps the part inside;
// one that starts outside the picture keeps nothing and is refused.
CropOptions clipToPicture(CropOptions o, TDimImg size) {
    auto& [x, y, w, h] = o.rect;
    if (x >= size.Largeur || y >= size.Hauteur)
        throw UserError("--rect " + std::to_string(x) + "," + std::to_string(y) + "," +
                        std::to_string(w) + "," + std::to_string(h) + " lies outside the " +
                        sizeText(size.Largeur, size.Hauteur) + " picture: X must be from 0 to " +
                        std::to_string(size.Largeur - 1) + " and Y from 0 to " +
                        std::to_string(size.Hauteur - 1));
    w = std::min(w, size.Largeur - x);
    h = std::min(h, size.Hauteur - y);
    return o;
}

int crop(Args& args) {
    const FileOptions out = fileOptions(args);
    const CropOptions o = cropOptions(args);
    const auto files = args.positional(2);
    HostSession host(OnCancel::Discard);
    loadInput(host, files[0], out);
    driveCrop(host, clipToPicture(o, host.size()));
    return finish(host, files[1], out);
}

} // namespace

Subcommand resizeCommand() {
    return {
        "resize", "IN OUT (--width N | --height N | --size WxH | --percent P) [--nearest]",
        std::string("Resamples the picture to a new size (command 7), entered into the dialog as\n"
                    "a user would, each value in one edit.  With --width or --height the\n"
                    "proportions stay linked, so the other side follows through the whole\n"
                    "percentage the dialog shows.\n\nOptions:\n"
                    "  --width N     the new width in pixels, at most 8 times the current one\n"
                    "  --height N    the new height in pixels, at most 8 times the current one\n"
                    "  --size WxH    both sides, unlinked\n"
                    "  --percent P   both sides as a percentage of the current size, 1 to 800;\n"
                    "                \"50%\" is 50, and a fraction such as 33.3 is rounded to\n"
                    "                the whole percentage the dialog takes (halves to even),\n"
                    "                with a note\n"
                    "  --nearest     take the nearest pixel (--basic says the same) instead\n"
                    "                of smoothing (the dialog's \"Lissage\"), the default\n"
                    "                (--smooth, --bilinear)\n") +
            kFileHelp,
        resize};
}

Subcommand cropCommand() {
    return {
        "crop", "IN OUT (--rect X,Y,W,H | --geometry WxH+X+Y) [--aspect free|3:2|2:3|4:3|3:4]",
        std::string("Cuts the picture down to a rectangle (command 6): left margin X, top margin\n"
                    "Y, width W and height H, typed into the dialog.  A rectangle reaching past\n"
                    "the right or bottom edge keeps the part inside the picture.\n\nOptions:\n"
                    "  --rect X,Y,W,H  the rectangle, in pixels\n"
                    "  --geometry WxH+X+Y\n"
                    "                  the same rectangle as ImageMagick writes it\n"
                    "  --aspect A      the proportion offered to the host's selection tool:\n"
                    "                  free, 3:2 or 4:3 (landscape), 2:3 or 3:4 (portrait);\n"
                    "                  the typed rectangle is kept as typed\n") +
            kFileHelp,
        crop};
}

// The demo's sample is 640 x 480.
DemoStep cropDemoStep() {
    return {TALVINE_CMD_ROGNER, "06-crop.png", [](HostSession& host) {
                try {
                    driveCrop(host, {{80, 60, 480, 360}, 3});
                } catch (const UserError&) {
                    // Not applied: the demo reports the step as such.
                }
            }};
}
DemoStep resizeDemoStep() {
    return {TALVINE_CMD_REDIMENSIONNER, "07-resize.png", [](HostSession& host) {
                try {
                    driveResize(host, {SizeBy::Percent, 50, 0, true});
                } catch (const UserError&) {
                }
            }};
}

void cropPicture(HostSession& host, const std::array<int, 4>& rect) {
    driveCrop(host, {rect, 0});
}

} // namespace talvine::cli
