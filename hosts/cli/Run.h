// Steps that every picture subcommand shares.
#pragma once

#include "Cli.h"
#include "HostSession.h"
#include "ImageIO.h"

#include <string>

namespace talvine::cli {

// Reads a picture and tells on stderr how it was converted, if it was.
Picture readInput(const std::string& path);

// Ends a subcommand: writes the host's picture if the command was applied;
// a command that did not end applied is an error and writes nothing.
int finish(const HostSession& host, const std::string& out, const OutputOptions& options);

} // namespace talvine::cli
