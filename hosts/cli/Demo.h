// The demo's steps: each command that can run registers how to drive it on
// the sample picture (the instant commands just start; the dialogs act as a
// user would), from the file that holds its subcommand.
#pragma once

#include "HostSession.h"

#include <functional>
#include <string>

namespace talvine::cli {

struct DemoStep {
    int command;      // 1..9; the caption comes from the plug-in's menu
    std::string file; // output name, e.g. "01-rotate-ccw.png"
    std::function<void(HostSession&)> drive;
};

struct DemoRegistration {
    explicit DemoRegistration(DemoStep step);
};

} // namespace talvine::cli
