// The command table (caption, start, report for each of the nine commands;
// captions in code page 1252), built at start-up, and the entry points.
#pragma once

#include <cstdint>
#include <string>

namespace talvine::params {

// The major and minor version from the version record in the module file
// at `path`; 0 and 0 when it cannot be read.  PrmDLL reads the module's own
// file.
struct Version {
    int32_t major = 0;
    int32_t minor = 0;
};
Version versionOfModuleFile(const std::string& path) noexcept;

void buildCommandTable();
void releaseCommandTable();

} // namespace talvine::params
