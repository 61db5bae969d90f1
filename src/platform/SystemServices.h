// The system services that the shared memory manager (PartageMem) stands on:
// the system's page size and highest application address, the process id,
// one page reserved and committed exactly at an address, its release, a read
// of memory that may not be readable, and the message box for set-up
// failures.
//
// The services form one table of plain functions so that the manager's
// algorithm is written once: each system provides its table (posix/ here, a
// Windows build would wrap GetSystemInfo, GetCurrentProcessId, VirtualAlloc,
// VirtualFree and MessageBoxA), and tests hand the manager a table of their
// own to play out what a real kernel will not do on demand.
#pragma once

#include <cstddef>
#include <cstdint>

namespace talvine::platform {

struct SystemInfo {
    size_t pageSize;
    // The highest address that applications may map.
    uintptr_t highestAddress;
};

// The outcome of asking for one page exactly at an address.
struct PageGrant {
    enum Outcome {
        Granted,          // the page is mapped at the address asked for
        GrantedElsewhere, // a page was mapped, but somewhere else (at `page`)
        Refused,          // nothing was mapped (the address is taken or not allowed)
    };
    Outcome outcome;
    void* page;
};

// Shows a set-up failure to the user.  Plain text, one line, and a caption.
using MessageBoxHook = void (*)(const char* text, const char* caption);

struct SystemServices {
    SystemInfo (*systemInfo)();
    uint32_t (*processId)();
    // Reserves and commits one read/write, zero-filled page of `size` bytes at
    // exactly `address`, or tells where it went instead, or refuses.
    PageGrant (*reservePage)(uintptr_t address, size_t size);
    // Decommits and releases a page that reservePage granted.
    void (*releasePage)(void* page, size_t size);
    // Copies `size` bytes at `address` into `out` without ever faulting; false
    // when any of those bytes cannot be read (unmapped, or mapped without read
    // access).
    bool (*readMemory)(uintptr_t address, void* out, size_t size);
    // Keeps the module whose code lies at `code` loaded until the process
    // ends, whoever unloads it.  True when it is kept (the main program
    // always is), false when the module cannot be found or pinned.
    bool (*pinModuleOf)(const void* code);
    // Shows a message through the installed message box hook, or writes it to
    // the standard error stream when no hook is installed.
    void (*showMessage)(const char* text, const char* caption);
};

// This system's services.
extern const SystemServices kSystemServices;

// The message box in use.  The form toolkit installs its own once it exists;
// until then (and always in a module without a display) messages go to the
// standard error stream as "caption: text".  Returns the previous hook; null
// restores the default.
MessageBoxHook setMessageBoxHook(MessageBoxHook hook);

// Shows a message through the installed hook; false, showing nothing, when
// none is installed (each system's showMessage then uses its own default).
bool showThroughHook(const char* text, const char* caption);

} // namespace talvine::platform
