#include "core/Allocator.h"

#include <cstdlib>

namespace talvine {
namespace {

void* cAllocate(intptr_t size) {
    return size > 0 ? std::malloc(static_cast<size_t>(size)) : nullptr;
}

int cRelease(void* block) {
    std::free(block);
    return 0;
}

void* cReallocate(void* block, intptr_t size) {
    return size > 0 ? std::realloc(block, static_cast<size_t>(size)) : nullptr;
}

constexpr AllocatorRecord kOwn{cAllocate, cRelease, cReallocate};
AllocatorRecord gCurrent = kOwn;

} // namespace

AllocatorRecord currentAllocator() { return gCurrent; }
void setCurrentAllocator(const AllocatorRecord& record) { gCurrent = record; }

} // namespace talvine
