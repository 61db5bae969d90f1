// Not built yet: the command does nothing until its dialog lands.
#include "dialogs/Commands.h"

namespace talvine::dialogs {

void startModifAngle() {}
void stopModifAngle() {}
void ouvrirInclinaison(TPtImg*, TDimImg) {}
void nouveauPointInclinaison(Point, TPtImg*) {}

} // namespace talvine::dialogs
