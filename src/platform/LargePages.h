// A hint that a block of memory holds a picture: the system may back it
// with large pages.  A fresh block of tens of megabytes otherwise costs one
// page fault per 4 KiB page on first touch, which on some virtual machines
// takes longer than any engine's work on it.
#pragma once

#include <cstddef>

namespace talvine::platform {

// Blocks below this size are left alone.
constexpr size_t kLargePageHintFrom = size_t{4} << 20;

// Asks for large pages for the whole large pages that lie within the block;
// nothing where the system offers none.  The block's contents are kept.
void adviseLargePages(void* block, size_t bytes);

} // namespace talvine::platform
