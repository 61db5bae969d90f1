#include "Run.h"

#include <iostream>

namespace talvine::cli {

void loadInput(HostSession& host, const std::string& path, const FileOptions& options) {
    std::vector<std::string> notes;
    host.loadPicture(path, options.read, &notes);
    for (const auto& note : notes)
        std::cerr << "talvine: " << path << ": " << note << "\n";
}

int finish(const HostSession& host, const std::string& out, const FileOptions& options) {
    if (!host.ended()) throw UserError("the command did not finish; nothing was written");
    if (!host.applied()) throw UserError("the command was not applied; nothing was written");
    writePicture(out, host.pixels(), options.write);
    return 0;
}

} // namespace talvine::cli
