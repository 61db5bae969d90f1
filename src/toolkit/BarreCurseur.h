// TBarreCurseur: the trackbar with its mouse-release event published, so that
// a dialog refreshes cheap displays on OnChange while the thumb moves and
// computes once on OnMouseUp.
#pragma once

#include "toolkit/Controls.h"

namespace talvine::tk {

class TBarreCurseur : public TrackBar {
  public:
    TBarreCurseur(Form* f, Control* p, std::string n)
        : TrackBar(f, p, std::move(n), ControlKind::BarreCurseur) {}
    bool publishes(EventKind kind) const override {
        return kind == EventKind::MouseUp || TrackBar::publishes(kind);
    }
};

} // namespace talvine::tk
