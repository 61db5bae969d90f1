// Quarter turns and mirrors: pure pixel kernels, no host and no cursor.
//
//   source (W x H)     quarterTurnCcw (H x W)   quarterTurnCw (H x W)
//     a b c              c f                      d a
//     d e f              b e                      e b
//                        a d                      f c
//
//   mirrorLeftRight: a b c / d e f  ->  c b a / f e d
//   mirrorTopBottom: a b c / d e f  ->  d e f / a b c
#pragma once

#include "talvine/talvine.h"

#include <cstdint>

namespace talvine::engines {

// `dst` receives the turned picture, H pixels wide and W high; `src` and
// `dst` must not overlap.
void quarterTurnCcw(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h);
void quarterTurnCw(const TPtImg* src, TPtImg* dst, int32_t w, int32_t h);

// In place.
void mirrorLeftRight(TPtImg* img, int32_t w, int32_t h);
void mirrorTopBottom(TPtImg* img, int32_t w, int32_t h);

} // namespace talvine::engines
