// What each file of subcommands offers: its subcommands and the demo's
// steps for its commands.  Subcommands.cpp puts them in their one table.
#pragma once

#include "Cli.h"
#include "Demo.h"

namespace talvine::cli {

// InstantCommands.cpp
Subcommand infoCommand();
Subcommand rotateCcwCommand();
Subcommand rotateCwCommand();
Subcommand mirrorHCommand();
Subcommand mirrorVCommand();
DemoStep instantDemoStep(int command, const char* file);

// CorrectionCommands.cpp
Subcommand tiltCommand();
Subcommand straightenCommand();
Subcommand distortionCommand();
Subcommand perspectiveCommand();
DemoStep tiltDemoStep();
DemoStep distortionDemoStep();
DemoStep perspectiveDemoStep();

// UprightCommands.cpp
Subcommand detectCommand();
Subcommand uprightCommand();

// ResizeCropCommands.cpp
Subcommand cropCommand();
Subcommand resizeCommand();
DemoStep cropDemoStep();
DemoStep resizeDemoStep();

// Demo.cpp
Subcommand demoCommand();

} // namespace talvine::cli
