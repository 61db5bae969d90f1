#include "core/Host.h"

#include "core/ExtendedPrecision.h"

namespace talvine::host {
namespace {
TProcRetour gCallback = nullptr;
int32_t gContext = 0;
} // namespace

void registerCallback(TProcRetour callback, int32_t context) {
    gCallback = callback;
    gContext = context;
}

void callBack(Point pt1, Point pt2, int32_t nature, intptr_t param, bool modifiee, bool fin) {
    if (!gCallback) return;
    // The host's code runs with the host's own x87 settings.
    const HostPrecision precision;
    gCallback(gContext, pt1.x, pt1.y, pt2.x, pt2.y, nature, param, modifiee ? 1 : 0, fin ? 1 : 0);
}

} // namespace talvine::host
