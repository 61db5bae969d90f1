#include "Run.h"

#include <iostream>

namespace talvine::cli {

Picture readInput(const std::string& path) {
    std::vector<std::string> notes;
    Picture picture = readPicture(path, &notes);
    for (const auto& note : notes)
        std::cerr << "talvine: " << path << ": " << note << "\n";
    return picture;
}

int finish(const HostSession& host, const std::string& out, const OutputOptions& options) {
    if (!host.ended()) throw UserError("the command did not finish; nothing was written");
    if (!host.applied()) throw UserError("the command was not applied; nothing was written");
    writePicture(out, host.picture(), options.jpegQuality);
    return 0;
}

} // namespace talvine::cli
