// The demo's steps: how to drive each command on the sample picture (the
// instant commands just start; the dialogs act as a user would), each made by
// the file that holds its subcommand and listed in Subcommands.cpp.
#pragma once

#include "HostSession.h"

#include <functional>
#include <string>
#include <vector>

namespace talvine::cli {

struct DemoStep {
    int command;      // 1..9; the caption comes from the plug-in's menu
    std::string file; // output name, e.g. "01-rotate-ccw.png"
    std::function<void(HostSession&)> drive;
};

// The nine steps in command order.
const std::vector<DemoStep>& demoSteps();

} // namespace talvine::cli
