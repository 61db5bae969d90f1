#include "PhotoFile.h"

#include "ReadBack.h"

#include <iostream>

namespace talvine::cli {
namespace {

void tell(const std::string& name, const std::vector<std::string>& notes) {
    for (const auto& text : notes)
        note(text, name);
}

} // namespace

PhotoOptions photoOptions(Args& args) {
    PhotoOptions o;
    o.strip = args.flag("--strip");
    o.autoOrient = !args.flag("--no-auto-orient");
    return o;
}

void readPhoto(HostSession& host, const std::string& path, const PhotoOptions& options) {
    if (!hosts::PhotoMetadata::supported()) return;
    const bool piped = path == kStdio;
    const std::string name = piped ? "standard input" : path;
    hosts::PhotoMetadata metadata;
    std::vector<std::string> notes;
    try {
        // With --strip only the EXIF is parsed, for the orientation.
        metadata =
            piped ? hosts::PhotoMetadata::fromBytes(host.standardInput(), &notes, options.strip)
                  : hosts::PhotoMetadata::read(path, &notes, options.strip);
    } catch (const hosts::MetadataError& e) {
        std::cerr << "talvine: " << name << ": its metadata cannot be read (" << e.what()
                  << "); the output is written without it\n";
        return;
    }
    if (!options.strip) tell(name, notes);
    const int orientation = metadata.orientation();
    if (options.strip) metadata = hosts::PhotoMetadata();
    if (options.autoOrient && orientation != 1) {
        host.orient(orientation);
        note(hosts::orientationText(orientation) + " as its EXIF orientation says", name);
        host.keepMetadata(std::move(metadata), 1);
    } else {
        host.keepMetadata(std::move(metadata), orientation);
    }
}

void writePhoto(const HostSession& host, const std::string& path, const WriteOptions& write,
                const PhotoOptions& options) {
    const hosts::PhotoMetadata none;
    const hosts::PhotoMetadata& metadata = options.strip ? none : host.metadata();
    const std::string name = path == kStdio ? "standard output" : path;
    std::vector<std::string> notes;
    if (!metadata.hasExif() && !metadata.hasXmp() && !metadata.hasIptc()) {
        // Nothing to add after the encoder: streamed straight to the file.
        WriteOptions encode = write;
        encode.notes = &notes;
        encode.iccProfile = metadata.icc();
        writePicture(path, host.pixels(), encode);
    } else {
        if (path == kStdio && !write.format)
            throw PictureError("standard output: --format is needed to write a picture there");
        const Format format = write.format ? *write.format : formatOf(path);
        writeEncoded(path, encodeWithMetadata(host.pixels(), format, write, metadata,
                                              host.writtenOrientation(), notes));
    }
    tell(name, notes);
}

} // namespace talvine::cli
