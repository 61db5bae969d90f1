// Pixel arrays: the reference-counted arrays of 3-byte pixels that cross the
// host boundary, their raw handle operations and a small owning wrapper.
//
// Block layout (one allocation through the current allocator record):
//
//     block + 0 : reference count (int32, atomic)
//     block + 4 : element count (int32)
//     block + 8 : elements, 3 bytes each      <- the handle points here
//
// The empty array is the null handle.  Allocation failures throw
// std::bad_alloc; nothing here ever reads or writes past an array's count.
#pragma once

#include "talvine/talvine.h"

#include <cstdint>
#include <utility>

namespace talvine {

// Raw handle operations (null handles are accepted everywhere).
int32_t arrayLength(const TPtImg* handle);
int32_t referenceCount(const TPtImg* handle);
void takeReference(TPtImg* handle);
// Releases one reference; the last one frees the block.  Sets `handle` to null.
void releaseReference(TPtImg*& handle);
// A new block with count 1 and `length` zeroed elements (null for 0).
TPtImg* newArray(int32_t length);
// The same without zeroing the elements, for a writer that fills every one of
// them before anything reads it (a decoder).
TPtImg* newUninitialisedArray(int32_t length);
// Changes the length held through `handle`: to 0 releases it; an unshared
// block (or null) is reallocated, new elements zeroed; a shared block is
// copied into a new block of count 1 that only this holder sees, while the
// other holders keep the old block and its content.
void setArrayLength(TPtImg*& handle, int32_t length);

// A buffer a host reports with a pick: present and holding at least the
// w x h pixels of the picture it stands for.
inline bool holdsPicture(const TPtImg* buffer, int32_t w, int32_t h) {
    return buffer != nullptr && arrayLength(buffer) >= int64_t{w} * h;
}

// One pixel split into integer channels, byte 2 first.
struct TCompPt {
    int32_t octet2;
    int32_t octet1;
    int32_t octet0;
};

// Splits a pixel packed in a 32-bit value (byte 0 in bits 0-7, byte 1 in
// bits 8-15, byte 2 in bits 16-23; bits 24-31 ignored).
constexpr TCompPt DecompPt(uint32_t packed) {
    return TCompPt{static_cast<int32_t>((packed >> 16) & 0xFF),
                   static_cast<int32_t>((packed >> 8) & 0xFF), static_cast<int32_t>(packed & 0xFF)};
}

constexpr uint32_t packPixel(const TPtImg& p) {
    return static_cast<uint32_t>(p.octets[0]) | static_cast<uint32_t>(p.octets[1]) << 8 |
           static_cast<uint32_t>(p.octets[2]) << 16;
}

// An owning reference to a pixel array.  Copying takes a reference, like the
// assignment of one handle to another; destruction releases it.
class PtsImg {
  public:
    PtsImg() = default;
    // A new unshared array of `length` zeroed pixels.
    explicit PtsImg(int32_t length) : handle_(newArray(length)) {}
    // A new unshared array of `length` pixels whose content is left undefined.
    static PtsImg uninitialised(int32_t length) {
        return PtsImg(newUninitialisedArray(length), Adopt{});
    }
    // Takes a new reference on `handle`.
    static PtsImg share(TPtImg* handle) {
        takeReference(handle);
        return PtsImg(handle, Adopt{});
    }
    // Takes over a reference the caller already holds.
    static PtsImg adopt(TPtImg* handle) { return PtsImg(handle, Adopt{}); }

    PtsImg(const PtsImg& other) : handle_(other.handle_) { takeReference(handle_); }
    PtsImg(PtsImg&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    PtsImg& operator=(const PtsImg& other) {
        // Take the new reference before releasing the old one.
        TPtImg* incoming = other.handle_;
        takeReference(incoming);
        releaseReference(handle_);
        handle_ = incoming;
        return *this;
    }
    PtsImg& operator=(PtsImg&& other) noexcept {
        if (this != &other) {
            releaseReference(handle_);
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    ~PtsImg() { releaseReference(handle_); }

    TPtImg* handle() const { return handle_; }
    TPtImg* data() const { return handle_; }
    int32_t size() const { return arrayLength(handle_); }
    bool empty() const { return handle_ == nullptr; }
    TPtImg& operator[](int64_t i) const { return handle_[i]; }

    void setLength(int32_t length) { setArrayLength(handle_, length); }
    void clear() { releaseReference(handle_); }
    // A private array holding a copy of every pixel.
    PtsImg clone() const;

  private:
    struct Adopt {};
    PtsImg(TPtImg* handle, Adopt) : handle_(handle) {}
    TPtImg* handle_ = nullptr;
};

} // namespace talvine
