// The module's version record on Windows: its VERSIONINFO resource, read
// from its file as any program reads another's.
#include "platform/VersionInfo.h"

#include <windows.h>

namespace talvine::platform {

std::string moduleFileName(const void* address) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(address), &module))
        return {};
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(module, path, sizeof path);
    // A path cut short at the end of the buffer is no path.
    if (n == 0 || n >= sizeof path) return {};
    return std::string(path, n);
}

uint32_t fileVersionInfoSize(const std::string& path) {
    DWORD ignored = 0;
    return GetFileVersionInfoSizeA(path.c_str(), &ignored);
}

bool fileVersionInfo(const std::string& path, std::vector<uint8_t>& record) {
    const uint32_t size = fileVersionInfoSize(path);
    if (size == 0) return false;
    record.assign(size, 0);
    return GetFileVersionInfoA(path.c_str(), 0, size, record.data()) != 0;
}

} // namespace talvine::platform
