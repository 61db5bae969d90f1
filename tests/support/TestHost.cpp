#include "support/TestHost.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace talvine::test {
namespace {
Recorder::Hook gHook = nullptr;
}

std::vector<Call>& Recorder::calls() {
    static std::vector<Call> recorded;
    return recorded;
}

void Recorder::setHook(Hook hook) {
    gHook = hook;
}

void TALVINE_CALL Recorder::callback(int32_t contexte, int32_t pt1x, int32_t pt1y, int32_t pt2x,
                                     int32_t pt2y, int32_t nature, intptr_t param, int32_t modifiee,
                                     int32_t fin) {
    const auto* array = reinterpret_cast<const TPtImg*>(param);
    const Call call{contexte,     {pt1x, pt1y},
                    {pt2x, pt2y}, nature,
                    param,        modifiee,
                    fin,          nature == rtImage && param ? referenceCount(array) : 0};
    calls().push_back(call);
    if (gHook) gHook(call);
}

TPtImg coordinatePixel(int32_t x, int32_t y) {
    return TPtImg{{static_cast<uint8_t>(x), static_cast<uint8_t>(y), static_cast<uint8_t>(x ^ y)}};
}

PtsImg coordinatePicture(int32_t w, int32_t h) {
    PtsImg picture(w * h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            picture[int64_t{y} * w + x] = coordinatePixel(x, y);
    return picture;
}

PtsImg randomPicture(int32_t w, int32_t h, uint32_t seed) {
    PtsImg picture(w * h);
    std::mt19937 rng(seed);
    auto* bytes = reinterpret_cast<uint8_t*>(picture.data());
    for (int64_t i = 0; i < int64_t{w} * h * 3; ++i)
        bytes[i] = static_cast<uint8_t>(rng());
    return picture;
}

std::vector<uint8_t> bytesOf(const TPtImg* handle, int64_t count) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(handle);
    return handle ? std::vector<uint8_t>(bytes, bytes + count * 3) : std::vector<uint8_t>{};
}

std::vector<uint8_t> bytesOf(const PtsImg& picture) {
    return bytesOf(picture.data(), picture.size());
}

Module::Module(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) throw std::runtime_error(std::string("dlopen: ") + dlerror());
    AdrRetour = reinterpret_cast<decltype(AdrRetour)>(dlsym(handle_, "AdrRetour"));
    PrmDLL = reinterpret_cast<decltype(PrmDLL)>(dlsym(handle_, "PrmDLL"));
    AddMenu = reinterpret_cast<decltype(AddMenu)>(dlsym(handle_, "AddMenu"));
    XchgData = reinterpret_cast<decltype(XchgData)>(dlsym(handle_, "XchgData"));
}

Module::~Module() {
    if (handle_) dlclose(handle_);
}

TPtImg* hostArray(const std::vector<uint8_t>& bytes, int32_t refs) {
    auto* block = static_cast<int32_t*>(std::malloc(8 + bytes.size()));
    block[0] = refs;
    block[1] = static_cast<int32_t>(bytes.size() / 3);
    auto* handle = reinterpret_cast<TPtImg*>(block + 2);
    if (!bytes.empty()) std::memcpy(handle, bytes.data(), bytes.size());
    return handle;
}

} // namespace talvine::test
