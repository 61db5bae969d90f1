#include "Run.h"

#include <cstdio>
#include <iostream>

namespace talvine::cli {

FileOptions fileOptions(Args& args) {
    FileOptions o;
    if (auto q = args.option("--quality")) {
        o.write.jpegQuality = parseInt(*q, "--quality", 1, 100);
        o.qualityGiven = true;
    }
    if (auto c = args.option("--compression"))
        o.write.compression = parseInt(*c, "--compression", 0, 9);
    if (auto m = args.option("--max-pixels"))
        o.read.maxPixels = parseInt(*m, "--max-pixels", 1, static_cast<int>(kMaxPixelsAllowed));
    // crop has a --format of its own (its aspect ratios): a value that names
    // no picture format is left for the command.
    Args probe = args;
    if (auto f = probe.option("--format"); f && formatNamed(*f)) {
        o.read.format = o.write.format = formatNamed(*f);
        args = std::move(probe);
    }
    o.write.webpLossless = args.flag("--lossless");
    o.read.trustDeclaredSize = args.flag("--trust-size");
    setQuiet(args.flag("--quiet"));
    o.photo = photoOptions(args);
    return o;
}

namespace {

// The quality a JPEG input was written at, from its quantisation tables (in
// the segments before its first scan); 0 for any other input.
int inputQuality(const HostSession& host, const std::string& path) {
    if (path == kStdio) return hosts::estimateJpegQuality(host.standardInput());
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return 0;
    std::vector<uint8_t> head(size_t{4} << 20); // room for any metadata before the tables
    head.resize(std::fread(head.data(), 1, head.size(), f));
    std::fclose(f);
    return hosts::estimateJpegQuality(head);
}

// The format of the input as it was read: by its extension, or its first
// bytes.
std::optional<Format> inputFormat(const HostSession& host, const std::string& path) {
    const std::vector<uint8_t>& piped = host.standardInput();
    if (path == kStdio) return sniffFormat(piped.data(), piped.size());
    try {
        return formatOf(path);
    } catch (const PictureError&) {
        uint8_t head[12] = {};
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) return std::nullopt;
        const size_t n = std::fread(head, 1, sizeof head, f);
        std::fclose(f);
        return sniffFormat(head, n);
    }
}

} // namespace

void loadInput(HostSession& host, const std::string& path, const FileOptions& options) {
    setNoteInput(path);
    std::vector<std::string> notes;
    host.loadPicture(path, options.read, &notes);
    host.setInputQuality(inputQuality(host, path));
    host.setInputFormat(inputFormat(host, path));
    for (const auto& text : notes)
        conversionNote(text);
    readPhoto(host, path, options.photo);
}

int finish(const HostSession& host, const std::string& out, const FileOptions& options) {
    if (!host.ended()) throw UserError("the command did not finish; nothing was written");
    if (!host.applied()) throw UserError("the command was not applied; nothing was written");
    return writeResult(host, out, options);
}

int writeResult(const HostSession& host, const std::string& out, const FileOptions& options) {
    WriteOptions write = options.write;
    // Standard output takes the input's format unless told another.
    if (out == kStdio && !write.format) write.format = host.inputFormat();
    const bool jpegOut = write.format ? *write.format == Format::Jpeg
                                      : out != kStdio && formatOf(out) == Format::Jpeg;
    if (jpegOut && !options.qualityGiven && host.inputQuality() > 0)
        write.jpegQuality = host.inputQuality();
    writePhoto(host, out, write, options.photo);
    return 0;
}

} // namespace talvine::cli
