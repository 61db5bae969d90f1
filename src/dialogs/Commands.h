// The dialog commands as the plug-in boundary sees them: one start-up hook
// per dialog module (each creates its single dialog, hidden) and the
// operations that XchgData dispatches to.  Handles are borrowed: a dialog
// that keeps a picture takes its own reference.
#pragma once

#include "core/Host.h"
#include "talvine/talvine.h"

namespace talvine::dialogs {

// Command 3, "Inclinaison horizon" (modeless).
void startModifAngle();
void stopModifAngle();
void ouvrirInclinaison(TPtImg* img, TDimImg dim);
void nouveauPointInclinaison(Point point, TPtImg* imgHote);

// Command 6, "Rogner format : libre, 2/3, 3/4" (modeless).
void startDecoupImg();
void stopDecoupImg();
void ouvrirRognage(TPtImg* img, TDimImg dim);
void nouvelleSelection(Point pt1, TDimImg dim, int32_t codeSel, TPtImg* imgHote);

// Command 7, "Redimensionner" (modal).
void startTailleImg();
void stopTailleImg();
void ouvrirRedimension(TPtImg* img, TDimImg dim);

// Command 8, "Coussinet / Barillet" (modal).
void startCorrDistor();
void stopCorrDistor();
void ouvrirDistorsion(TPtImg* img, TDimImg dim);

// Command 9, "Perspective" (modeless).
void startPerspective();
void stopPerspective();
void ouvrirPerspective(TPtImg* img, TDimImg dim);
void nouveauPointPerspective(Point point, TPtImg* imgHote);

} // namespace talvine::dialogs
