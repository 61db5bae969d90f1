// Not built yet: the command does nothing until its dialog lands.
#include "dialogs/Commands.h"

namespace talvine::dialogs {

void startPerspective() {}
void stopPerspective() {}
void ouvrirPerspective(TPtImg*, TDimImg) {}
void nouveauPointPerspective(Point, TPtImg*) {}

} // namespace talvine::dialogs
