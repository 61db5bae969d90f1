// talvine detect and upright, and what straighten --auto and perspective
// --auto share with them: the picture's own lines, found by the upright
// analysis, given to the plug-in's commands as the points a user would pick.
#include "Cli.h"
#include "Corrections.h"
#include "CropDrive.h"
#include "HostSession.h"
#include "Run.h"
#include "Subcommands.h"
#include "Upright.h"
#include "UprightCrop.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

namespace talvine::cli {
namespace {

std::string fixed(double v, int digits) {
    char b[64];
    std::snprintf(b, sizeof b, "%.*f", digits, v);
    return b;
}

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (const char c : s) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char b[8];
                std::snprintf(b, sizeof b, "\\u%04x", c);
                out += b;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

std::optional<std::array<Point, 4>> cornersOf(const analysis::Analysis& a, TDimImg size) {
    if (!a.verticals.vanishing) return std::nullopt;
    const auto c = analysis::perspectiveCorners(size.Largeur, size.Hauteur, *a.verticals.vanishing);
    if (!c) return std::nullopt;
    std::array<Point, 4> out;
    for (size_t k = 0; k < 4; ++k)
        out[k] = {(*c)[k][0], (*c)[k][1]};
    return out;
}

std::string pointText(const std::array<double, 2>& p) {
    return fixed(p[0], 1) + "," + fixed(p[1], 1);
}

// One line of text, or one JSON object, for a file.
std::string report(const std::string& file, const analysis::Analysis& a, TDimImg size, bool json) {
    const auto corners = cornersOf(a, size);
    std::ostringstream o;
    if (json) {
        o << "{\"file\": " << jsonString(file)
          << ", \"level_deg\": " << (a.level.degrees ? fixed(*a.level.degrees, 6) : "null")
          << ", \"level_std_error_deg\": "
          << (a.level.degrees ? fixed(a.level.stdErrorDeg, 6) : "null") << ", \"level_from\": "
          << (!a.level.degrees        ? "null"
              : a.level.fromVerticals ? "\"verticals\""
                                      : "\"horizontals\"")
          << ", \"lines_horizontal\": " << a.horizontalLines
          << ", \"lines_vertical\": " << a.verticalLines << ", \"vanishing_point\": "
          << (a.verticals.vanishing ? "[" + fixed((*a.verticals.vanishing)[0], 2) + ", " +
                                          fixed((*a.verticals.vanishing)[1], 2) + "]"
                                    : "null")
          << ", \"verticals_std_error_deg\": "
          << (a.verticals.found ? fixed(a.verticals.stdErrorDeg, 6) : "null") << ", \"corners\": ";
        if (corners) {
            o << "[";
            for (size_t k = 0; k < 4; ++k)
                o << (k ? ", " : "") << "[" << (*corners)[k].x << ", " << (*corners)[k].y << "]";
            o << "]";
        } else {
            o << "null";
        }
        o << ", \"refusal\": ";
        if (!a.level.degrees || !a.verticals.found) {
            o << "{\"level\": " << (a.level.degrees ? "null" : jsonString(a.level.refusal))
              << ", \"verticals\": "
              << (a.verticals.found ? "null" : jsonString(a.verticals.refusal)) << "}";
        } else {
            o << "null";
        }
        o << "}";
        return o.str();
    }
    o << file << ": ";
    if (a.level.degrees)
        o << "level " << fixed(*a.level.degrees, 4) << " deg (+-" << fixed(a.level.stdErrorDeg, 4)
          << ", from " << (a.level.fromVerticals ? "the verticals" : "the horizontals") << ")";
    else
        o << "no level (" << a.level.refusal << ")";
    o << "; " << a.horizontalLines << " horizontal and " << a.verticalLines << " vertical lines; ";
    if (!a.verticals.found)
        o << "no vertical vanishing point (" << a.verticals.refusal << ")";
    else if (!a.verticals.vanishing)
        o << "verticals parallel";
    else
        o << "verticals meet at " << pointText(*a.verticals.vanishing) << " (+-"
          << fixed(a.verticals.stdErrorDeg, 4) << " deg)";
    if (corners) {
        o << "; corners";
        for (const Point& p : *corners)
            o << " " << p.x << "," << p.y;
    }
    return o.str();
}

int detect(Args& args) {
    const FileOptions options = fileOptions(args);
    const bool json = args.flag("--json");
    const auto files = args.positional(std::max<size_t>(1, args.positional_count()));
    for (const std::string& file : files) {
        HostSession host(OnCancel::Discard);
        setNoteInput(file);
        loadInput(host, file, options);
        std::cout << report(file, analysePicture(host), host.size(), json) << "\n" << std::flush;
    }
    return 0;
}

// Upright: level, then the verticals, then the largest clean rectangle.
int upright(Args& args) {
    const FileOptions out = fileOptions(args);
    const auto vertical = args.option("--vertical");
    const bool keepProportion = args.flag("--keep-proportion");
    const bool bilinear = args.interpolate();
    const int v = vertical ? parsePosition(*vertical, "--vertical", 0, 10, 0.1) : 5;
    const auto files = args.positional(2);
    HostSession host(OnCancel::Discard);
    loadInput(host, files[0], out);
    const TDimImg size = host.size();
    const analysis::Analysis a = analysePicture(host);
    const double level = foundLevel(a);

    // The level, about the picture's centre.
    const Point centre{size.Largeur / 2, size.Hauteur / 2};
    const AnglePick pick = pickAngle(centre, level);
    const bool tilted = pick.to.y != centre.y;
    std::optional<hosts::TiltStep> tiltStep;
    std::optional<hosts::PerspectiveStep> perspectiveStep;
    if (tilted) {
        tiltStep = hosts::TiltStep{centre, pick.to, bilinear};
        note("level " + fixed(level, 4) + " degrees: the line from " + std::to_string(centre.x) +
             "," + std::to_string(centre.y) + " to " + std::to_string(pick.to.x) + "," +
             std::to_string(pick.to.y));
        driveTilt(host, {centre, pick.to, bilinear});
        if (!host.ended() || !host.applied())
            throw UserError("the tilt was not applied; nothing was written");
    } else {
        note("level already: no tilt");
    }
    // The angle the dialog turned by, from its two points.
    const double theta = std::atan(static_cast<double>(pick.to.y - centre.y) /
                                   static_cast<double>(pick.to.x - centre.x));

    // The verticals, where they meet once level.
    std::optional<std::array<Point, 4>> corners;
    if (!a.verticals.found) {
        note("no vertical vanishing point (" + a.verticals.refusal + "): levelled only");
    } else if (!a.verticals.vanishing) {
        note("the verticals are parallel: no perspective correction");
    } else {
        const auto p = analysis::turned(*a.verticals.vanishing, centre.x, centre.y, theta);
        if (const auto c = analysis::perspectiveCorners(size.Largeur, size.Hauteur, p)) {
            corners = std::array<Point, 4>{};
            for (size_t k = 0; k < 4; ++k)
                (*corners)[k] = {(*c)[k][0], (*c)[k][1]};
            std::string text = "the verticals meet at " + pointText(p) + " once level: corners";
            for (const Point& q : *corners)
                text += " " + std::to_string(q.x) + "," + std::to_string(q.y);
            note(text);
            perspectiveStep = hosts::PerspectiveStep{*corners, v, bilinear};
            drivePerspective(host, {*corners, v, bilinear});
            if (!host.ended() || !host.applied())
                throw UserError("the perspective was not applied; nothing was written");
        } else {
            note("the verticals meet at " + pointText(p) +
                 " once level, not above the picture: no perspective correction");
        }
    }
    if (!tiltStep && !perspectiveStep) {
        note("nothing to straighten: the picture is written as it is");
        return writeResult(host, files[1], out);
    }
    cropToClean(
        host,
        hosts::uprightCrop(size.Largeur, size.Hauteur, tiltStep, perspectiveStep, keepProportion),
        perspectiveStep ? "perspective" : "tilt");
    return finish(host, files[1], out);
}

} // namespace

analysis::Analysis analysePicture(const HostSession& host) {
    const PixelsView p = host.pixels();
    const auto start = std::chrono::steady_clock::now();
    analysis::Analysis a = analysis::analyse({p.rgb, p.width, p.height});
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    note("analysed in " + fixed(ms, 0) + " ms: " + std::to_string(a.lines.size()) +
         " straight lines");
    return a;
}

double foundLevel(const analysis::Analysis& a) {
    if (!a.level.degrees)
        throw UserError("no level found: " + a.level.refusal + "; nothing was written");
    return *a.level.degrees;
}

std::array<Point, 4> foundCorners(const analysis::Analysis& a, TDimImg size) {
    if (!a.verticals.found)
        throw UserError("no vertical vanishing point found: " + a.verticals.refusal +
                        "; nothing was written");
    if (!a.verticals.vanishing)
        throw UserError("the verticals are parallel already: nothing for the perspective to "
                        "correct; nothing was written");
    const auto corners = cornersOf(a, size);
    if (!corners)
        throw UserError("the verticals meet at " + pointText(*a.verticals.vanishing) +
                        ", not above the picture: the perspective command straightens lines "
                        "that converge upwards; nothing was written");
    std::string text = "the verticals meet at " + pointText(*a.verticals.vanishing) + ": corners";
    for (const Point& q : *corners)
        text += " " + std::to_string(q.x) + "," + std::to_string(q.y);
    note(text);
    return *corners;
}

Subcommand detectCommand() {
    return {
        "detect", "IN... [--json]",
        std::string("Finds the picture's straight lines and tells, for each file on one line, the\n"
                    "angle that levels it (the value tilt --angle and straighten --angle take),\n"
                    "its standard error and whether the horizontals or the verticals gave it,\n"
                    "the lines used in each direction, where the verticals meet and the four\n"
                    "corners that perspective --corners takes to make them vertical.  A picture\n"
                    "with too few straight lines, or whose lines disagree, has no answer and\n"
                    "says why.  The same file always gives the same numbers.\n\nOptions:\n"
                    "  --json        one JSON object per file: file, level_deg,\n"
                    "                level_std_error_deg, level_from, lines_horizontal,\n"
                    "                lines_vertical, vanishing_point ([x, y] or null),\n"
                    "                verticals_std_error_deg, corners ([[x, y] x 4] or null),\n"
                    "                refusal (null, or why the level or the verticals have none)\n"
                    "  --max-pixels N, --trust-size, --no-auto-orient, --format F, --quiet\n"
                    "                as for the other subcommands\n"),
        detect};
}

Subcommand uprightCommand() {
    return {"upright", "IN OUT [--vertical V] [--nearest] [--keep-proportion]",
            std::string("Straightens the picture in one step from its own lines: levels it\n"
                        "(command 3, as tilt --auto), makes its converging verticals vertical\n"
                        "(command 9, as perspective --auto, when they converge upwards), then\n"
                        "cuts the result to the largest rectangle whose every pixel was\n"
                        "computed from inside the picture (command 6).  A picture with too few\n"
                        "straight lines, or whose lines disagree, is refused and nothing\n"
                        "written; one whose verticals cannot be found is levelled only.\n\n"
                        "Options:\n"
                        "  --vertical V       the perspective's vertical stretch, 0 to 10\n"
                        "                     (default 5), or 0% to 100%\n"
                        "  --nearest          take the nearest pixel (the dialogs' \"Basique\")\n"
                        "                     instead of interpolating, the default\n"
                        "  --keep-proportion  a rectangle of the picture's proportions\n"
                        "                     (default: the largest area of any proportion)\n") +
                kFileHelp,
            upright};
}

} // namespace talvine::cli
