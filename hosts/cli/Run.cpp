#include "Run.h"

#include <iostream>

namespace talvine::cli {

FileOptions fileOptions(Args& args) {
    FileOptions o;
    if (auto q = args.option("--quality")) o.write.jpegQuality = parseInt(*q, "--quality", 1, 100);
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
    o.photo = photoOptions(args);
    return o;
}

void loadInput(HostSession& host, const std::string& path, const FileOptions& options) {
    std::vector<std::string> notes;
    host.loadPicture(path, options.read, &notes);
    for (const auto& note : notes)
        std::cerr << "talvine: " << (path == kStdio ? "standard input" : path) << ": " << note
                  << "\n";
    readPhoto(host, path, options.photo);
}

int finish(const HostSession& host, const std::string& out, const FileOptions& options) {
    if (!host.ended()) throw UserError("the command did not finish; nothing was written");
    if (!host.applied()) throw UserError("the command was not applied; nothing was written");
    writePhoto(host, out, options.write, options.photo);
    return 0;
}

} // namespace talvine::cli
