#include "dialogs/PickBoxes.h"

#include <utility>

namespace talvine::dialogs {

PickBoxes::PickBoxes(tk::Timer& timer, std::vector<tk::CheckBox*> boxes)
    : timer_(timer), boxes_(std::move(boxes)) {}

void PickBoxes::caseCliquee(tk::Control& sender) {
    if (IgnorerClic) {
        IgnorerClic = false;
        return;
    }
    CasePrecedente = CaseEnCours;
    CaseEnCours = &dynamic_cast<tk::CheckBox&>(sender);
    timer_.setEnabled(true);
}

void PickBoxes::TimerTimer() {
    if (!CaseEnCours) return;
    if (CasePrecedente) CasePrecedente->setVisible(true);
    CaseEnCours->setVisible(!CaseEnCours->visible());
    if (CaseEnCours->checked()) {
        IgnorerClic = true;
        CaseEnCours->setChecked(false);
    }
}

void PickBoxes::reinitialiserCases() {
    if (CasePrecedente) CasePrecedente->setVisible(true);
    CaseEnCours = nullptr;
    for (tk::CheckBox* box : boxes_) {
        // The click that unchecking raises must not make the box wait.
        tk::Control::QuietScope quiet(*box);
        box->setChecked(false);
    }
    IgnorerClic = false;
    timer_.setEnabled(false);
    for (tk::CheckBox* box : boxes_)
        box->setVisible(true);
}

tk::CheckBox* PickBoxes::prendrePoint() {
    if (tk::CheckBox* box = CaseEnCours) {
        box->setChecked(true); // its click finds the same box waiting
        timer_.setEnabled(false);
        box->setVisible(true);
    }
    tk::CheckBox* const picked = CaseEnCours;
    CaseEnCours = nullptr;
    return picked;
}

} // namespace talvine::dialogs
