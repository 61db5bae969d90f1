// What every real view does with the input its system gives it.
#pragma once

#include "toolkit/Automation.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>

namespace talvine::views {

// Runs input from the system as the calls a script makes.  A refusal at
// the script level (a hidden control, another form is modal) drops the
// input, as a window that cannot take it would; TALVINE_VIEW_DEBUG in the
// environment prints it.
inline void runInput(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& e) {
        if (std::getenv("TALVINE_VIEW_DEBUG")) std::fprintf(stderr, "view: %s\n", e.what());
    }
}

// A key from the keyboard: to the control that has the system's focus when
// it can take it, else to the form's focused control.
inline void pressKey(tk::Automation& ui, tk::Control* c, tk::Key key) {
    if (c && c->focusable() && c->usable())
        ui.press(*c, key);
    else
        ui.press(key);
}

} // namespace talvine::views
