// talvine info, and the four commands that need no dialog.
#include "Cli.h"
#include "Demo.h"
#include "HostSession.h"
#include "ImageIO.h"
#include "Run.h"
#include "Subcommands.h"

#include <iostream>

namespace talvine::cli {
namespace {

int info(Args& args) {
    args.positional(0);
    HostSession host;
    const Identity id = host.identity();
    std::cout << "description: " << id.description << "\n"
              << "version:     " << id.major << "." << id.minor << "\n"
              << "menu:        " << id.title << "\n";
    for (size_t n = 0; n < id.captions.size(); ++n)
        std::cout << "  " << n + 1 << "  " << id.captions[n] << "\n";
    return 0;
}

Subcommand instant(const char* name, int command, const char* what) {
    return {name, "IN OUT", std::string(what) + "\n\nOptions:\n" + kFileHelp,
            [command](Args& args) {
                const FileOptions out = fileOptions(args);
                const auto files = args.positional(2);
                HostSession host(OnCancel::Discard);
                loadInput(host, files[0], out);
                host.start(command);
                return finish(host, files[1], out);
            }};
}

} // namespace

Subcommand infoCommand() {
    return {"info", "",
            "Prints the plug-in's description, version, menu title and the nine "
            "command captions.",
            info};
}
Subcommand rotateCcwCommand() {
    return instant("rotate-ccw", TALVINE_CMD_ROTATION_ANTI_HORAIRE,
                   "Turns the picture a quarter turn counter-clockwise.");
}
Subcommand rotateCwCommand() {
    return instant("rotate-cw", TALVINE_CMD_ROTATION_HORAIRE,
                   "Turns the picture a quarter turn clockwise.");
}
Subcommand mirrorHCommand() {
    return instant("mirror-h", TALVINE_CMD_MIROIR_HORZ, "Mirrors the picture left to right.");
}
Subcommand mirrorVCommand() {
    return instant("mirror-v", TALVINE_CMD_MIROIR_VERT, "Mirrors the picture top to bottom.");
}

DemoStep instantDemoStep(int command, const char* file) {
    return {command, file, [command](HostSession& host) { host.start(command); }};
}

} // namespace talvine::cli
