#include "platform/Scratch.h"

#include <windows.h>

#include <new>

namespace talvine::platform {

// Committed pages come zero-filled on first touch; large pages need a
// privilege that hosts do not hold, so none are asked for.
Scratch::Scratch(size_t bytes) {
    if (bytes == 0) return;
    void* p = VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (!p) throw std::bad_alloc();
    mapped_ = bytes;
    data_ = p;
}

Scratch::~Scratch() {
    if (data_) VirtualFree(data_, 0, MEM_RELEASE);
}

} // namespace talvine::platform
