// What every real view does alike: the input its system gives it goes to
// the model the same way, and radio groups lay out their items the same way.
#pragma once

#include "toolkit/Automation.h"

#include <algorithm>
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

// The place of item `i` of `count` in a radio group of `width` by
// `height`, relative to the group: the items fill the box column by column,
// top to bottom, below its title.
inline tk::Rect radioItemBounds(int i, int count, int columns, int width, int height) {
    columns = std::max(1, columns);
    const int rows = std::max(1, (count + columns - 1) / columns);
    const int top = 16;
    const int columnWidth = std::max(1, (width - 16) / columns);
    const int rowHeight = std::max(1, (height - top - 4) / rows);
    return {8 + i / rows * columnWidth, top + i % rows * rowHeight, columnWidth,
            std::max(rowHeight, 16)};
}

} // namespace talvine::views
