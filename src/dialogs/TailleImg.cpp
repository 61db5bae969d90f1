// Not built yet: the command does nothing until its dialog lands.
#include "dialogs/Commands.h"

namespace talvine::dialogs {

void startTailleImg() {}
void stopTailleImg() {}
void ouvrirRedimension(TPtImg*, TDimImg) {}

} // namespace talvine::dialogs
