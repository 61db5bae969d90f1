// The command table: nine captions in code page 1252, built at start-up.
#pragma once

#include <cstdint>
#include <string>

namespace talvine::params {

inline constexpr int32_t kCommandCount = 9;

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
