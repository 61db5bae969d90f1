// Services for reading a module's own version record from its file, in the
// manner of GetModuleFileName / GetFileVersionInfoSize / GetFileVersionInfo.
// On ELF systems the record is the content of the section named
// kVersionSection in the module file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace talvine::platform {

inline constexpr const char* kVersionSection = "talvine_version";

// Full path of the file that holds the code at `address` (empty if unknown).
std::string moduleFileName(const void* address);

// Size in bytes of the version record in the module file, 0 if it has none or
// the file cannot be read.
uint32_t fileVersionInfoSize(const std::string& path);

// Reads the whole record; false if it cannot.
bool fileVersionInfo(const std::string& path, std::vector<uint8_t>& record);

} // namespace talvine::platform
