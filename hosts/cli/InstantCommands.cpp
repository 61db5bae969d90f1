// talvine info, and the four commands that need no dialog.
#include "Cli.h"
#include "Demo.h"
#include "HostSession.h"
#include "ImageIO.h"
#include "Run.h"

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

const Registration kInfo{{"info", "",
                          "Prints the plug-in's description, version, menu title and the nine "
                          "command captions.",
                          info}};
const Registration kCcw{
    instant("rotate-ccw", 1, "Turns the picture a quarter turn counter-clockwise.")};
const Registration kCw{instant("rotate-cw", 2, "Turns the picture a quarter turn clockwise.")};
const Registration kMirrorH{instant("mirror-h", 4, "Mirrors the picture left to right.")};
const Registration kMirrorV{instant("mirror-v", 5, "Mirrors the picture top to bottom.")};

DemoStep demoStep(int command, const char* file) {
    return {command, file, [command](HostSession& host) { host.start(command); }};
}
const DemoRegistration kDemo1{demoStep(1, "01-rotate-ccw.png")};
const DemoRegistration kDemo2{demoStep(2, "02-rotate-cw.png")};
const DemoRegistration kDemo4{demoStep(4, "04-mirror-h.png")};
const DemoRegistration kDemo5{demoStep(5, "05-mirror-v.png")};

} // namespace
} // namespace talvine::cli
