// The pick boxes of the tilt and perspective dialogs: check boxes on the
// dialog's sketch that say which point the host's next pick is for.
//
// A click on a box makes it the box waiting for a point (CaseEnCours) and
// starts the timer; every tick the waiting box blinks, and if the click left
// it checked the tick unchecks it, raising one more click that IgnorerClic
// swallows.  A point from the host checks the waiting box and stops the
// blinking; the dialog then stores the point for that box.
#pragma once

#include "toolkit/Controls.h"

#include <vector>

namespace talvine::dialogs {

class PickBoxes {
  public:
    PickBoxes(const PickBoxes&) = delete;
    PickBoxes& operator=(const PickBoxes&) = delete;

    tk::CheckBox* CaseEnCours = nullptr;
    tk::CheckBox* CasePrecedente = nullptr;
    bool IgnorerClic = false;

    // The timer's OnTimer: the waiting box blinks.
    void TimerTimer();

  protected:
    PickBoxes(tk::Timer& timer, std::vector<tk::CheckBox*> boxes);
    ~PickBoxes() = default;

    // The body of the click handler all the boxes share.
    void caseCliquee(tk::Control& sender);
    // The boxes' part of FormShow: no box waits or blinks, each is unchecked
    // (without its click) and visible.  Stored points are the dialog's.
    void reinitialiserCases();
    // The head of NouveauPoint: the waiting box, if any, is checked and
    // shown and the blinking stops.  Returns that box (null when none was
    // waiting); no box waits any more.
    tk::CheckBox* prendrePoint();

  private:
    tk::Timer& timer_;
    std::vector<tk::CheckBox*> boxes_;
};

} // namespace talvine::dialogs
