// Steps that every picture subcommand shares.
#pragma once

#include "Cli.h"
#include "HostSession.h"
#include "ImageIO.h"

#include <string>

namespace talvine::cli {

// Reads a picture file straight into the host's picture and tells on stderr
// how it was converted, if it was.
void loadInput(HostSession& host, const std::string& path, const FileOptions& options);

// Ends a subcommand: writes the host's picture if the command was applied;
// a command that did not end applied is an error and writes nothing.
int finish(const HostSession& host, const std::string& out, const FileOptions& options);

} // namespace talvine::cli
