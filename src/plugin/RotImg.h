// Commands 1, 2, 4 and 5: quarter turns and mirrors of the host's picture,
// rewritten in place, with the one final callback (rtImage, Fin 1).
#pragma once

#include "core/Host.h"
#include "talvine/talvine.h"

namespace talvine {

// `img` holds at least Largeur x Hauteur pixels (XchgData checks it).
void TournerAntiHoraire(TPtImg* img, TDimImg dim);
void TournerHoraire(TPtImg* img, TDimImg dim);
void MiroirHorz(TPtImg* img, TDimImg dim);
void MiroirVert(TPtImg* img, TDimImg dim);

} // namespace talvine
