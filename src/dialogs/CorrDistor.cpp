// Not built yet: the command does nothing until its dialog lands.
#include "dialogs/Commands.h"

namespace talvine::dialogs {

void startCorrDistor() {}
void stopCorrDistor() {}
void ouvrirDistorsion(TPtImg*, TDimImg) {}

} // namespace talvine::dialogs
