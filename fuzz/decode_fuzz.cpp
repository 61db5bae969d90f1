// libFuzzer target: the tool's picture decoders on arbitrary bytes.  Every
// input goes through the PNG, JPEG, TIFF and WebP decoders; each must either
// refuse it with a PictureError or fill a picture of the size it announced,
// within the pixel limit, without touching memory it does not own.
#include "ImageIO.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

namespace {

// Small enough that a declared size at the limit decodes quickly.
constexpr int64_t kMaxPixels = int64_t{1} << 22;

void decode(const uint8_t* data, size_t size, talvine::cli::Format format) {
    // fmemopen reads the fuzzer's bytes in place; it refuses an empty buffer.
    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!file) return;
    std::vector<uint8_t> pixels;
    int64_t announced = -1;
    try {
        talvine::cli::ReadOptions options;
        options.maxPixels = kMaxPixels;
        talvine::cli::decodePicture(
            file, format, "input",
            [&](int32_t w, int32_t h) {
                if (announced != -1 || w <= 0 || h <= 0 || int64_t{w} * h > kMaxPixels)
                    std::abort();
                announced = int64_t{w} * h;
                pixels.resize(size_t(announced) * 3);
                return pixels.data();
            },
            options, nullptr);
        if (announced <= 0) std::abort(); // a success must have produced a picture
    } catch (const talvine::cli::PictureError&) {
    } catch (const std::bad_alloc&) {
    }
    std::fclose(file);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    decode(data, size, talvine::cli::Format::Png);
    decode(data, size, talvine::cli::Format::Jpeg);
    decode(data, size, talvine::cli::Format::Tiff);
    decode(data, size, talvine::cli::Format::Webp);
    return 0;
}
