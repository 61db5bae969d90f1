// Pieces of form that several dialogs' descriptions share.
#pragma once

#include "toolkit/Form.h"

#include <vector>

namespace talvine::dialogs {

// The sampling choice of the tilt, distortion and perspective dialogs: the
// group box TypeProcess (" Finesse du traitement ") at `box`, holding
// Basique (checked) and the bilinear button `bilinear` side by side at `top`.
std::vector<tk::ControlDesc> samplingChoice(tk::Rect box, int tabOrder, const char* bilinear,
                                            int top, int bilinearLeft);

} // namespace talvine::dialogs
