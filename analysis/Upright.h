// What a picture says about its own geometry: the straight edges in it, the
// angle that levels it, where its verticals meet, and the corners that the
// perspective command takes to make them vertical.  Pure analysis of pixels,
// apart from the plug-in: the hosts give its answers to the plug-in's own
// commands as the points a user would pick.
//
// The same pixels always give the same numbers: no random sampling, one
// thread, no dependence on the machine's vector units (docs/UPRIGHT.md).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace talvine::analysis {

// 8-bit RGB pixels, row-major with no gap, top row first.
struct PictureView {
    const uint8_t* rgb = nullptr;
    int32_t width = 0;
    int32_t height = 0;
};

enum class Direction { Horizontal, Vertical, Other };

// A straight edge of the picture, fitted at full resolution.  Coordinates
// are those of the plug-in's points: pixel (x, y) is the point (x, y).
struct Line {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0; // its two ends
    double stdErrorDeg = 0;                // of its direction, from the fit
    Direction direction = Direction::Other;
    bool used = false; // taken by the estimate of its direction
    double length() const;
};

// The angle that levels the picture: the slope, in degrees counter-clockwise
// as seen (positive rises to the right), of what should be horizontal; the
// value `talvine tilt --angle` takes.
struct Level {
    std::optional<double> degrees;
    double stdErrorDeg = 0;
    bool fromVerticals = false; // measured on the verticals near the centre
    std::string refusal;        // why there is no answer
};

// Where the lines within 30 degrees of vertical meet.
struct Verticals {
    bool found = false;
    // The vanishing point; nothing when the lines are parallel (met beyond
    // any use: the perspective command would change no corner).
    std::optional<std::array<double, 2>> vanishing;
    double stdErrorDeg = 0; // of the lines' directions about it
    std::string refusal;
};

struct Analysis {
    std::vector<Line> lines;
    int horizontalLines = 0; // used for the level (the horizontals' estimate)
    int verticalLines = 0;   // used for the vanishing point
    Level level;
    Verticals verticals;
};

struct Options {
    // The long side of the picture the segments are detected on, at most
    // (the picture reduced by the smallest whole factor that brings it
    // there); they are then refined on the full picture, which makes the
    // angles as good as a detection at 1600 pixels or at full size gives
    // them, at two thirds of the 1600-pixel detection's time.
    int32_t detectionSize = 1200;
};

Analysis analyse(PictureView picture, const Options& options = {});

// The corners (top-left, top-right, bottom-right, bottom-left) that make the
// perspective command straighten lines converging to `vanishing` in a
// width x height picture: the bottom corners at the bottom edge's ends, the
// top ones where the lines from them to the vanishing point cross the top
// edge, to the nearest pixel.  Nothing when the point is not above the
// picture, or when no corner would move.
std::optional<std::array<std::array<int32_t, 2>, 4>>
perspectiveCorners(int32_t width, int32_t height, std::array<double, 2> vanishing);

// The vanishing point after the picture is turned about (cx, cy) by
// `radians` counter-clockwise as seen.
std::array<double, 2> turned(std::array<double, 2> point, double cx, double cy, double radians);

} // namespace talvine::analysis
