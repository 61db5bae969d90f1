#include "platform/Scratch.h"

#include <sys/mman.h>

#include <new>

namespace talvine::platform {

namespace {
constexpr size_t kLargePage = size_t{2} << 20;
}

Scratch::Scratch(size_t bytes) {
    if (bytes == 0) return;
    mapped_ = (bytes + kLargePage - 1) / kLargePage * kLargePage;
    void* p = mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    // Only a hint: where large pages are not offered the block works as it is.
    madvise(p, mapped_, MADV_HUGEPAGE);
    data_ = p;
}

Scratch::~Scratch() {
    if (data_) munmap(data_, mapped_);
}

} // namespace talvine::platform
