// The shared memory manager's services on Linux.
#include "platform/SystemServices.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

namespace talvine::platform {
namespace {

// Plain storage: this may be read while the module unloads.

SystemInfo systemInfo() {
    const long page = sysconf(_SC_PAGESIZE);
#if defined(__x86_64__) || defined(__aarch64__)
    // The default address space of a process ends below 2^47 (x86-64 with four
    // levels of page tables; addresses above are only ever handed out to a
    // process that asks for them).  arm64 kernels with 39-bit address spaces
    // refuse every candidate, which ends in a clear set-up failure.
    constexpr uintptr_t kHighest = 0x00007FFFFFFFFFFF;
#else
    // 32-bit: the 3 GiB user space.
    constexpr uintptr_t kHighest = 0xBFFFFFFF;
#endif
    return {page > 0 ? static_cast<size_t>(page) : size_t{4096}, kHighest};
}

uint32_t processId() {
    return static_cast<uint32_t>(getpid());
}

PageGrant reservePage(uintptr_t address, size_t size) {
    void* wanted = reinterpret_cast<void*>(address);
    void* page = mmap(wanted, size, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (page == MAP_FAILED) return {PageGrant::Refused, nullptr};
    // Kernels older than 4.17 take the flag for a mere hint and may place the
    // page elsewhere.
    if (page != wanted) return {PageGrant::GrantedElsewhere, page};
    return {PageGrant::Granted, page};
}

void releasePage(void* page, size_t size) {
    // munmap decommits and releases in one step.
    munmap(page, size);
}

// Reads through a pipe: the kernel copies the bytes and reports EFAULT for
// any that cannot be read.  Used where process_vm_readv is not allowed.
bool readThroughPipe(uintptr_t address, void* out, size_t size) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    bool ok = false;
    const ssize_t written = write(fds[1], reinterpret_cast<const void*>(address), size);
    if (written == static_cast<ssize_t>(size))
        ok = read(fds[0], out, size) == static_cast<ssize_t>(size);
    close(fds[0]);
    close(fds[1]);
    return ok;
}

bool readMemory(uintptr_t address, void* out, size_t size) {
    if (size == 0) return true;
    iovec local{out, size};
    iovec remote{reinterpret_cast<void*>(address), size};
    const ssize_t got = process_vm_readv(getpid(), &local, 1, &remote, 1, 0);
    if (got == static_cast<ssize_t>(size)) return true;
    if (got < 0 && (errno == ENOSYS || errno == EPERM)) {
        // A pipe holds at least one page; the manager reads a few dozen bytes.
        return size <= 4096 && readThroughPipe(address, out, size);
    }
    return false;
}

bool pinModuleOf(const void* code) {
    Dl_info info{};
    link_map* map = nullptr;
    if (dladdr1(code, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 || !map)
        return false;
    // The main program has an empty name and is never unloaded.
    if (!map->l_name || map->l_name[0] == '\0') return true;
    // A further reference that is never given back, on an object that may no
    // longer be deleted: dlclose by anyone else can no longer unmap its code.
    return dlopen(map->l_name, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
}

void showMessage(const char* text, const char* caption) {
    if (showThroughHook(text, caption)) return;
    std::fprintf(stderr, "%s: %s\n", caption, text);
    std::fflush(stderr);
}

} // namespace

const SystemServices kSystemServices{systemInfo, processId,   reservePage, releasePage,
                                     readMemory, pinModuleOf, showMessage};

} // namespace talvine::platform
