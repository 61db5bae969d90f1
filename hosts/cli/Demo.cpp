// talvine demo [DIR]: makes the sample picture, runs every available command
// on it through the entry points, writes each result and a contact sheet.
#include "Demo.h"
#include "Cli.h"
#include "ContactSheet.h"
#include "HostSession.h"
#include "Scene.h"
#include "Subcommands.h"

#include <algorithm>
#include <filesystem>
#include <iostream>

namespace talvine::cli {
namespace {

int demo(Args& args) {
    const auto words = args.positional(args.positional_count());
    if (words.size() > 1) throw UsageError("expected at most one directory");
    const std::filesystem::path dir = words.empty() ? "talvine-demo" : words[0];
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) throw UserError(dir.string() + ": " + ec.message());

    HostSession host;
    const Identity id = host.identity();
    const Picture sample = hosts::sampleScene();
    writePicture((dir / "00-original.png").string(), sample);
    std::vector<SheetEntry> sheet{{"Original", sample}};

    int failures = 0;
    for (const DemoStep& step : demoSteps()) {
        const std::string caption = id.captions.at(size_t(step.command - 1));
        host.setPicture(sample);
        step.drive(host);
        if (!host.ended() || !host.applied()) {
            std::cerr << "talvine: demo: \"" << caption << "\" was not applied\n";
            ++failures;
            continue;
        }
        const Picture result = host.picture();
        writePicture((dir / step.file).string(), result);
        sheet.push_back({caption, result});
        std::cout << "  " << step.file << "  " << caption << "  (" << result.width << " x "
                  << result.height << ")\n";
    }
    std::string warning;
    writePicture((dir / "contact-sheet.png").string(), contactSheet(sheet, 4, &warning));
    if (!warning.empty()) std::cerr << "talvine: " << warning << "\n";
    std::cout << "wrote " << (dir / "contact-sheet.png").string() << "\n";
    return failures == 0 ? 0 : 1;
}

} // namespace

Subcommand demoCommand() {
    return {"demo", "[DIR]",
            "Makes the sample picture (a tilted facade with converging verticals, "
            "barrel distortion and a horizon), runs every available command on it "
            "through the plug-in's entry points, and writes each result and "
            "DIR/contact-sheet.png (DIR defaults to ./talvine-demo).",
            demo};
}

} // namespace talvine::cli
