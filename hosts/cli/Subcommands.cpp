// The tool's one table of subcommands, in the order the usage lists them
// (the menu's order, straighten after tilt), and the demo's steps in command
// order.
#include "Subcommands.h"

#include "talvine/talvine.h"

namespace talvine::cli {

const std::vector<Subcommand>& subcommands() {
    static const std::vector<Subcommand> table = {
        infoCommand(),       rotateCcwCommand(),  rotateCwCommand(),    tiltCommand(),
        straightenCommand(), mirrorHCommand(),    mirrorVCommand(),     cropCommand(),
        resizeCommand(),     distortionCommand(), perspectiveCommand(), detectCommand(),
        uprightCommand(),    demoCommand(),
    };
    return table;
}

const std::vector<DemoStep>& demoSteps() {
    static const std::vector<DemoStep> table = {
        instantDemoStep(TALVINE_CMD_ROTATION_ANTI_HORAIRE, "01-rotate-ccw.png"),
        instantDemoStep(TALVINE_CMD_ROTATION_HORAIRE, "02-rotate-cw.png"),
        tiltDemoStep(),
        instantDemoStep(TALVINE_CMD_MIROIR_HORZ, "04-mirror-h.png"),
        instantDemoStep(TALVINE_CMD_MIROIR_VERT, "05-mirror-v.png"),
        cropDemoStep(),
        resizeDemoStep(),
        distortionDemoStep(),
        perspectiveDemoStep(),
    };
    return table;
}

} // namespace talvine::cli
