// The five dialogs, one of each, made hidden at start-up and owned by the
// application object, which destroys them with itself at shut-down.
#pragma once

#include <tuple>

namespace talvine::tk {
class Application;
}

namespace talvine::dialogs {

class TCorrDist;
class TCorrPerspect;
class TRogneImg;
class TChangeDim;
class TInclineHorz;

// In the order they are made: distortion, perspective, crop, resize, tilt.
using Dialogs = std::tuple<TCorrDist*, TCorrPerspect*, TRogneImg*, TChangeDim*, TInclineHorz*>;

void startDialogs(tk::Application& app);
// Forgets them; the application object destroys them.
void stopDialogs();
const Dialogs& dialogs();

// The dialog of class D, or null outside the library's life.
template <class D> D* dialog() {
    return std::get<D*>(dialogs());
}

} // namespace talvine::dialogs
