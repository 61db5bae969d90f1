// The demo's sample picture, made by code: a building facade with a grid of
// windows and a horizon, as if photographed from below with a camera tilted by
// a few degrees and a lens with barrel distortion, so that every correction
// of the plug-in has something to straighten.
#pragma once

#include "Picture.h"

namespace talvine::hosts {

struct SceneGeometry {
    double tiltDegrees = 3.0; // the camera's roll
    double keystone = 0.28;   // how much narrower the facade's top is than its base
    double barrel = 0.10;     // radial distortion at the corners
};

Picture sampleScene(int width = 640, int height = 480, SceneGeometry geometry = {});

} // namespace talvine::hosts
