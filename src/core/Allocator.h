// The module's current allocator record.
//
// Every block of dynamic memory that crosses the host boundary (pixel arrays)
// is allocated, freed and reallocated through the three entries of this
// record.  At start-up the shared memory manager may replace the module's own
// record by one that another module published, so that every module of the
// process allocates through the same allocator.
#pragma once

#include <cstdint>

namespace talvine {

struct AllocatorRecord {
    // Returns a new block of `size` bytes (size > 0), or null when memory is exhausted.
    void* (*allocate)(intptr_t size);
    // Returns 0 on success, anything else on failure.
    int (*release)(void* block);
    // Resizes `block` to `size` bytes, keeping its content up to the smaller size;
    // returns the (possibly moved) block, or null on failure (the block is then untouched).
    void* (*reallocate)(void* block, intptr_t size);
};

// The record through which this module allocates now.
AllocatorRecord currentAllocator();
void setCurrentAllocator(const AllocatorRecord& record);

} // namespace talvine
