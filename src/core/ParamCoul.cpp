#include "core/ParamCoul.h"

#include "core/Allocator.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

namespace talvine {
namespace {

constexpr intptr_t kHeader = 8;

int32_t* countOf(const TPtImg* handle) {
    return reinterpret_cast<int32_t*>(reinterpret_cast<uintptr_t>(handle) - 8);
}
int32_t* lengthOf(const TPtImg* handle) {
    return reinterpret_cast<int32_t*>(reinterpret_cast<uintptr_t>(handle) - 4);
}
char* blockOf(TPtImg* handle) {
    return reinterpret_cast<char*>(handle) - kHeader;
}

intptr_t blockBytes(int32_t length) {
    if (length < 0) throw std::length_error("negative array length");
    if (static_cast<uint64_t>(length) * 3 + kHeader >
        static_cast<uint64_t>(std::numeric_limits<intptr_t>::max()))
        throw std::bad_alloc();
    return kHeader + static_cast<intptr_t>(length) * 3;
}

TPtImg* initialise(void* block, int32_t length) {
    auto* header = static_cast<int32_t*>(block);
    header[0] = 1;
    header[1] = length;
    return reinterpret_cast<TPtImg*>(static_cast<char*>(block) + kHeader);
}

void freeBlock(TPtImg* handle) {
    currentAllocator().release(blockOf(handle));
}

} // namespace

int32_t arrayLength(const TPtImg* handle) {
    return handle ? *lengthOf(handle) : 0;
}

int32_t referenceCount(const TPtImg* handle) {
    return handle ? std::atomic_ref<int32_t>(*countOf(handle)).load() : 0;
}

void takeReference(TPtImg* handle) {
    if (handle) std::atomic_ref<int32_t>(*countOf(handle)).fetch_add(1);
}

void releaseReference(TPtImg*& handle) {
    TPtImg* old = std::exchange(handle, nullptr);
    if (old && std::atomic_ref<int32_t>(*countOf(old)).fetch_sub(1) == 1) freeBlock(old);
}

TPtImg* newUninitialisedArray(int32_t length) {
    if (length == 0) return nullptr;
    const intptr_t bytes = blockBytes(length);
    void* block = currentAllocator().allocate(bytes);
    if (!block) throw std::bad_alloc();
    return initialise(block, length);
}

TPtImg* newArray(int32_t length) {
    TPtImg* handle = newUninitialisedArray(length);
    if (handle) std::memset(handle, 0, static_cast<size_t>(length) * 3);
    return handle;
}

void setArrayLength(TPtImg*& handle, int32_t length) {
    if (length == 0) {
        releaseReference(handle);
        return;
    }
    const intptr_t bytes = blockBytes(length);
    if (!handle) {
        handle = newArray(length);
        return;
    }
    const int32_t old = arrayLength(handle);
    if (referenceCount(handle) == 1) {
        void* block = currentAllocator().reallocate(blockOf(handle), bytes);
        if (!block) throw std::bad_alloc();
        handle = initialise(block, length);
        if (length > old) std::memset(handle + old, 0, static_cast<size_t>(length - old) * 3);
        return;
    }
    TPtImg* fresh = newArray(length);
    std::memcpy(fresh, handle, static_cast<size_t>(std::min(old, length)) * 3);
    releaseReference(handle);
    handle = fresh;
}

PtsImg PtsImg::clone() const {
    PtsImg copy(size());
    // A host's block may hold no element: nothing to copy, and no copy made.
    if (copy.handle_) std::memcpy(copy.handle_, handle_, static_cast<size_t>(size()) * 3);
    return copy;
}

} // namespace talvine
