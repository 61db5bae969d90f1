// Test support: a host that records every callback, pictures whose bytes
// name their coordinates, and the built module loaded with dlopen.
#pragma once

#include "core/Host.h"
#include "core/ParamCoul.h"
#include "talvine/talvine.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace talvine::test {

struct Call {
    int32_t contexte;
    Point pt1;
    Point pt2;
    int32_t nature;
    intptr_t param;
    int32_t modifiee;
    int32_t fin;
    // Reference count of the array in Param of an rtImage call while the
    // callback ran (0 if none; the other kinds carry a code in Param).
    int32_t paramRefs;
    friend bool operator==(const Call&, const Call&) = default;
};

// Records callbacks in order; optionally runs a hook inside each one.
class Recorder {
  public:
    static void TALVINE_CALL callback(int32_t contexte, int32_t pt1x, int32_t pt1y, int32_t pt2x,
                                      int32_t pt2y, int32_t nature, intptr_t param,
                                      int32_t modifiee, int32_t fin);
    static std::vector<Call>& calls();
    static void clear() { calls().clear(); }
    using Hook = void (*)(const Call&);
    static void setHook(Hook hook);
};

// The pixel (x, y) of a test picture: bytes x, y and x ^ y (all mod 256), so
// that any pixel of a nearest-sampled result names the source pixel it came from.
TPtImg coordinatePixel(int32_t x, int32_t y);
PtsImg coordinatePicture(int32_t w, int32_t h);
PtsImg randomPicture(int32_t w, int32_t h, uint32_t seed);
// Pixels from a handle, as a comparable vector of bytes.
std::vector<uint8_t> bytesOf(const TPtImg* handle, int64_t count);
std::vector<uint8_t> bytesOf(const PtsImg& picture);

// The built Talvine.so, opened with dlopen (RTLD_NOW | RTLD_LOCAL) and closed
// at destruction.
class Module {
  public:
    explicit Module(const std::string& path = TALVINE_MODULE_PATH);
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    decltype(&::AdrRetour) AdrRetour = nullptr;
    decltype(&::PrmDLL) PrmDLL = nullptr;
    decltype(&::AddMenu) AddMenu = nullptr;
    decltype(&::XchgData) XchgData = nullptr;
    void* handle() const { return handle_; }

  private:
    void* handle_ = nullptr;
};

// Arrays made by hand in the documented block layout, with the C runtime's
// allocator, as a host that links nothing of ours would make them.
TPtImg* hostArray(const std::vector<uint8_t>& bytes, int32_t refs = 1);

} // namespace talvine::test
