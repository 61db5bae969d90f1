// Photo-like test scenes with known answers for the upright analysis: a
// facade, a street, an interior, a horizon over water and a picture with no
// straight line, rendered by ray casting through a pinhole camera with a
// known roll (the horizon's slope) and pitch (the verticals' convergence),
// then optionally blurred, made noisy and passed through JPEG.  The scenes
// are made by code so that the test set lives in the tree as a generator.
#pragma once

#include "Picture.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace talvine::analysis::scenes {

enum class Kind { Facade, Street, Interior, Horizon, NoLines };

const char* kindName(Kind kind);

struct Shot {
    Kind kind = Kind::Facade;
    int32_t width = 6000;
    int32_t height = 4000;
    double rollDeg = 0;  // counter-clockwise as seen: the horizon rises to the right
    double pitchDeg = 0; // the camera looking up: the verticals converge above
    double focalMm = 28; // on a 36 mm wide frame
    double blurPx = 0;   // Gaussian blur of the lens, sigma in pixels
    double noise = 0;    // Gaussian noise, sigma in levels of 255
    int jpegQuality = 0; // 0: no JPEG round trip
    uint64_t seed = 1;
};

struct Truth {
    double levelDeg = 0; // what levels the picture: the roll
    // Where the scene's verticals meet, in pixel coordinates (pixel (x, y)
    // at the point (x, y)); nothing when they are parallel (no pitch).
    std::optional<double> vanishingX, vanishingY;
};

hosts::Picture render(const Shot& shot);

// The lean, in degrees, that lines through `truth` keep at the left and
// right edges of a width x height picture once the perspective command has
// been given the corners the analysis makes for `found` (nothing: no
// correction), without vertical stretch, which leaves the lean as it is.
// A vanishing point far away stands for parallel lines.
double residualLeanDeg(int32_t width, int32_t height, std::array<double, 2> truth,
                       std::optional<std::array<double, 2>> found);

// What the verticals' vanishing point stands for when they are parallel:
// a point 1e12 pixels away along the upright direction turned by `rollDeg`.
std::array<double, 2> verticalsAt(const Shot& shot);
Truth truth(const Shot& shot);

// Writes the picture as a JPEG file (TurboJPEG, 4:2:0), for timing the tool
// on a scene; false when it cannot be written.
bool writeJpeg(const hosts::Picture& picture, const std::string& path, int quality);
std::string describe(const Shot& shot);

} // namespace talvine::analysis::scenes
