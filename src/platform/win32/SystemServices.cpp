// The shared memory manager's services on Windows.
#include "platform/SystemServices.h"

#include <windows.h>

#include <cstring>

namespace talvine::platform {
namespace {

// Plain storage: this may be read while the module unloads.

#if defined(_WIN64)
bool runningUnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}
#endif

SystemInfo systemInfo() {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    auto highest = reinterpret_cast<uintptr_t>(info.lpMaximumApplicationAddress);
#if defined(_WIN64)
    // 64-bit Wine keeps the 32 MiB from 0x7FFFFE000000 up to its highest
    // application address for its own heaps: VirtualQuery calls those pages
    // free and VirtualAlloc refuses every one of them.  Under Wine every
    // module of the process starts its candidates below that area, so they
    // still meet; Windows itself is not concerned.
    constexpr uintptr_t kWineReservedTop = 0x7FFFFE000000;
    if (highest >= kWineReservedTop && runningUnderWine()) highest = kWineReservedTop - 1;
#endif
    return {static_cast<size_t>(info.dwPageSize), highest};
}

uint32_t processId() {
    return static_cast<uint32_t>(GetCurrentProcessId());
}

PageGrant reservePage(uintptr_t address, size_t size) {
    void* wanted = reinterpret_cast<void*>(address);
    void* page = VirtualAlloc(wanted, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (!page) return {PageGrant::Refused, nullptr};
    // A reservation starts at a multiple of the allocation granularity: an
    // address that is not one is granted lower down.
    if (page != wanted) return {PageGrant::GrantedElsewhere, page};
    return {PageGrant::Granted, page};
}

void releasePage(void* page, size_t size) {
    VirtualFree(page, size, MEM_DECOMMIT);
    VirtualFree(page, 0, MEM_RELEASE);
}

bool readable(DWORD protect) {
    if (protect & (PAGE_GUARD | PAGE_NOACCESS)) return false;
    return (protect & (PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                       PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)) != 0;
}

// Every region the bytes lie in is asked about before anything is read: a
// candidate that someone else reserved may be reserved only, or guarded.
bool readMemory(uintptr_t address, void* out, size_t size) {
    if (size == 0) return true;
    if (address + size < address) return false;
    uintptr_t at = address;
    const uintptr_t end = address + size;
    while (at < end) {
        MEMORY_BASIC_INFORMATION region{};
        if (VirtualQuery(reinterpret_cast<const void*>(at), &region, sizeof region) == 0)
            return false;
        if (region.State != MEM_COMMIT || !readable(region.Protect)) return false;
        const uintptr_t regionEnd =
            reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
        if (regionEnd <= at) return false;
        at = regionEnd;
    }
    std::memcpy(out, reinterpret_cast<const void*>(address), size);
    return true;
}

bool pinModuleOf(const void* code) {
    // The main program is pinned as well as any module: it is never unloaded.
    HMODULE module = nullptr;
    return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                  GET_MODULE_HANDLE_EX_FLAG_PIN,
                              static_cast<LPCSTR>(code), &module) != 0;
}

void showMessage(const char* text, const char* caption) {
    if (showThroughHook(text, caption)) return;
    MessageBoxA(nullptr, text, caption, MB_OK);
}

} // namespace

const SystemServices kSystemServices{systemInfo, processId,   reservePage, releasePage,
                                     readMemory, pinModuleOf, showMessage};

} // namespace talvine::platform
