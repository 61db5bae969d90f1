#include "platform/LargePages.h"

#include <sys/mman.h>

#include <cstdint>

namespace talvine::platform {

void adviseLargePages(void* block, size_t bytes) {
    if (!block || bytes < kLargePageHintFrom) return;
    constexpr uintptr_t kLarge = uintptr_t{2} << 20;
    const auto start = reinterpret_cast<uintptr_t>(block);
    const uintptr_t first = (start + kLarge - 1) & ~(kLarge - 1);
    const uintptr_t end = (start + bytes) & ~(kLarge - 1);
    // Only a hint: where large pages are not offered the block works as it is.
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
}

} // namespace talvine::platform
