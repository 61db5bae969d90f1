// Large private scratch memory for a command's temporary copy of a picture.
//
// A fresh block of tens of megabytes costs one page fault per 4 KiB page on
// first touch, which takes longer than the work itself; scratch memory asks
// the system for large pages where it offers them.  The memory is private to
// the library and never crosses the host boundary.
#pragma once

#include <cstddef>

namespace talvine::platform {

class Scratch {
  public:
    // Uninitialised memory of at least `bytes` bytes; throws std::bad_alloc.
    explicit Scratch(size_t bytes);
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    void* data() const { return data_; }

  private:
    void* data_ = nullptr;
    size_t mapped_ = 0;
};

} // namespace talvine::platform
