// The tilt and the perspective dialogs driven as a user at a host drives
// them, for the subcommands that find their points in the picture
// (straighten --auto, perspective --auto, upright).
#pragma once

#include "CleanCrop.h"
#include "HostSession.h"
#include "Upright.h"
#include "dialogs/Scripts.h"

#include <array>
#include <optional>
#include <string>

namespace talvine::cli {

using TiltOptions = dialogs::scripts::Tilt;

// Command 3: picks the two points and applies; UserError when the dialog
// warns or shows no preview.
void driveTilt(HostSession& host, const TiltOptions& o);

// The second point that makes the dialog level the line through `centre` at
// `degrees` (counter-clockwise as seen), and the angle it will obtain.
struct AnglePick {
    Point to;
    long double degrees; // what the dialog will obtain, seen as the user gave it
};
AnglePick pickAngle(Point centre, long double degrees);

using PerspectiveOptions = dialogs::scripts::Perspective;

// Command 9: picks the four corners and applies; UserError when the dialog
// warns or shows no preview.
void drivePerspective(HostSession& host, const PerspectiveOptions& o);

// Checks that the last command was applied, then crops the host's picture
// to `rect` through the crop dialog, telling it in a note; UserError naming
// `command` when there is no rectangle.
void cropToClean(HostSession& host, const std::optional<hosts::PixelRect>& rect,
                 const std::string& command);

// The analysis of the host's current picture, with the time it took in a
// note.
analysis::Analysis analysePicture(const HostSession& host);

// The level found, or UserError saying why there is none.
double foundLevel(const analysis::Analysis& a);

// The perspective corners for the verticals found, or UserError saying why
// there are none.
std::array<Point, 4> foundCorners(const analysis::Analysis& a, TDimImg size);

} // namespace talvine::cli
