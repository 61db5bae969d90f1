// Not built yet: the command does nothing until its dialog lands.
#include "dialogs/Commands.h"

namespace talvine::dialogs {

void startDecoupImg() {}
void stopDecoupImg() {}
void ouvrirRognage(TPtImg*, TDimImg) {}
void nouvelleSelection(Point, TDimImg, int32_t, TPtImg*) {}

} // namespace talvine::dialogs
