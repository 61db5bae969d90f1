// talvine info, and the four commands that need no dialog.
#include "Cli.h"
#include "Demo.h"
#include "HostSession.h"
#include "ImageIO.h"
#include "LosslessJpeg.h"
#include "ReadBack.h"
#include "Run.h"
#include "Subcommands.h"

#include <cstdio>
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

// A JPEG written as a JPEG is turned in its compressed form when its size
// allows: the EXIF orientation and the command make one operation, the
// metadata is written back as after any command.  False when it cannot be
// (another format, standard input, --reencode, a size that is no whole
// number of blocks), with the reason told when it was a JPEG file.
bool turnLosslessly(const std::string& in, const std::string& out, Dihedral command,
                    const FileOptions& options, bool reencode) {
    const bool jpegOut = options.write.format ? *options.write.format == Format::Jpeg
                                              : out != kStdio && formatOf(out) == Format::Jpeg;
    if (!jpegOut || in == kStdio || reencode) return false;
    std::vector<uint8_t> file;
    {
        std::FILE* f = std::fopen(in.c_str(), "rb");
        if (!f) return false; // the usual path says why
        uint8_t head[3] = {};
        const bool jpeg = std::fread(head, 1, 3, f) == 3 && sniffFormat(head, 3) == Format::Jpeg;
        if (jpeg && std::fseek(f, 0, SEEK_END) == 0) {
            const long size = std::ftell(f);
            file.resize(size > 0 ? size_t(size) : 0);
            std::rewind(f);
            if (std::fread(file.data(), 1, file.size(), f) != file.size()) file.clear();
        }
        std::fclose(f);
    }
    if (file.empty()) return false;
    std::vector<std::string> notes;
    hosts::PhotoMetadata metadata;
    try {
        metadata = hosts::PhotoMetadata::read(in, &notes, options.photo.strip);
    } catch (const hosts::MetadataError&) {
        return false; // the usual path says so and writes without it
    }
    const int stored = metadata.orientation();
    const bool upright = options.photo.autoOrient && stored != 1;
    const Dihedral op = upright ? compose(uprightFor(stored), command) : command;
    int32_t w = 0, h = 0;
    std::string why;
    const auto turned = transformJpeg(file, op, options.read.maxPixels, w, h, why);
    if (!turned) {
        if (why.empty()) return false; // refused by the usual path, which says why
        note("encoded again, not turned losslessly: " + why + " (--reencode says so at once)", in);
        return false;
    }
    if (!options.photo.strip) {
        for (const auto& text : notes)
            note(text, in);
    } else {
        metadata = hosts::PhotoMetadata();
    }
    if (upright) note(hosts::orientationText(stored) + " as its EXIF orientation says", in);
    const std::string name = out == kStdio ? "standard output" : out;
    std::vector<std::string> written;
    const std::vector<uint8_t> bytes = addMetadata(*turned, Format::Jpeg, w, h, PixelsView{},
                                                   metadata, upright ? 1 : stored, true, written);
    writeEncoded(out, bytes);
    for (const auto& text : written)
        note(text, name);
    note("turned losslessly, without encoding again", name);
    return true;
}

Subcommand instant(const char* name, int command, Dihedral turn, const char* what) {
    return {name, "IN OUT [--reencode]",
            std::string(what) +
                "  A JPEG written as a JPEG is turned in its compressed form, losing\n"
                "nothing, when its sides allow it (whole blocks of 8 or 16 pixels where the\n"
                "turn needs them); it is encoded again otherwise, with a note.\n\nOptions:\n"
                "  --reencode    decode and encode again, through the plug-in, even a JPEG\n"
                "                that could be turned losslessly (--quality says so too)\n" +
                kFileHelp,
            [command, turn](Args& args) {
                const FileOptions out = fileOptions(args);
                // A quality asked for is a quality to encode at.
                const bool reencode = args.flag("--reencode") || out.qualityGiven;
                const auto files = args.positional(2);
                if (turnLosslessly(files[0], files[1], turn, out, reencode)) return 0;
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
    return instant("rotate-ccw", TALVINE_CMD_ROTATION_ANTI_HORAIRE, Dihedral::Ccw,
                   "Turns the picture a quarter turn counter-clockwise.");
}
Subcommand rotateCwCommand() {
    return instant("rotate-cw", TALVINE_CMD_ROTATION_HORAIRE, Dihedral::Cw,
                   "Turns the picture a quarter turn clockwise.");
}
Subcommand mirrorHCommand() {
    return instant("mirror-h", TALVINE_CMD_MIROIR_HORZ, Dihedral::MirrorH,
                   "Mirrors the picture left to right.");
}
Subcommand mirrorVCommand() {
    return instant("mirror-v", TALVINE_CMD_MIROIR_VERT, Dihedral::MirrorV,
                   "Mirrors the picture top to bottom.");
}

DemoStep instantDemoStep(int command, const char* file) {
    return {command, file, [command](HostSession& host) { host.start(command); }};
}

} // namespace talvine::cli
