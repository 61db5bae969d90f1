// WebP through libwebp and libwebpmux: whole buffers, lossy or lossless,
// the metadata in chunks.
#include "Codecs.h"
#include "MetadataScan.h"

#include <webp/decode.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <csetjmp>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace talvine::cli {
namespace {

// ---- WebP: libwebp works on whole buffers. ----

} // namespace

std::vector<uint8_t> wholeFile(FILE* file, const std::string& name) {
    const uint64_t size = sizeOf(file, name);
    std::vector<uint8_t> bytes(size);
    if (size && std::fread(bytes.data(), 1, size, file) != size)
        throw PictureError(name + ": cannot be read");
    return bytes;
}

namespace {} // namespace

void decodeWebp(FILE* file, const std::string& name, const PixelSink& sink,
                const ReadOptions& options, std::vector<std::string>* notes) {
    const std::vector<uint8_t> data = wholeFile(file, name);
    if (data.size() < 12 || std::memcmp(data.data(), "RIFF", 4) != 0 ||
        std::memcmp(data.data() + 8, "WEBP", 4) != 0)
        throw PictureError(name + ": not a WebP picture");
    // The RIFF header tells the file's length: less is a truncated file.
    const uint64_t riff = uint64_t{data[4]} | uint64_t{data[5]} << 8 | uint64_t{data[6]} << 16 |
                          uint64_t{data[7]} << 24;
    if (riff + 8 > data.size())
        damaged(name, "it holds " + std::to_string(data.size()) + " of its " +
                          std::to_string(riff + 8) + " bytes");
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) throw PictureError(name + ": WebP decoder unavailable");
    if (WebPGetFeatures(data.data(), data.size(), &config.input) != VP8_STATUS_OK)
        throw PictureError(name + ": not a readable WebP picture");
    if (config.input.has_animation)
        throw PictureError(name + ": animated WebP pictures are not supported");
    const int w = config.input.width, h = config.input.height;
    checkSize(uint64_t(std::max(w, 0)), uint64_t(std::max(h, 0)), options, name);
    checkUnboundedRatio(uint64_t(w) * uint64_t(h), data.size(),
                        config.input.format == 2 ? "lossless WebP" : "WebP", options, name);
    const bool alpha = config.input.has_alpha != 0;
    std::unique_ptr<uint8_t[]> scratch;
    uint8_t* out = nullptr;
    if (alpha) {
        scratch.reset(new uint8_t[size_t(w) * size_t(h) * 4]);
        config.output.colorspace = MODE_RGBA;
        config.output.u.RGBA.rgba = scratch.get();
        config.output.u.RGBA.stride = w * 4;
        config.output.u.RGBA.size = size_t(w) * size_t(h) * 4;
    } else {
        out = sink(w, h);
        config.output.colorspace = MODE_RGB;
        config.output.u.RGBA.rgba = out;
        config.output.u.RGBA.stride = w * 3;
        config.output.u.RGBA.size = size_t(w) * size_t(h) * 3;
    }
    config.output.is_external_memory = 1;
    const VP8StatusCode status = WebPDecode(data.data(), data.size(), &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK)
        damaged(name, status == VP8_STATUS_NOT_ENOUGH_DATA ? "its picture data ends early"
                                                           : "its picture data cannot be decoded");
    if (alpha) {
        if (notes) notes->push_back("transparency flattened onto white");
        out = sink(w, h);
        for (size_t y = 0; y < size_t(h); ++y)
            flattenOntoWhite(scratch.get() + y * size_t(w) * 4, out + y * size_t(w) * 3, size_t(w));
    }
}

namespace {} // namespace

void writeWebp(FILE* file, const PixelsView& p, const WriteOptions& options) {
    if (p.width > WEBP_MAX_DIMENSION || p.height > WEBP_MAX_DIMENSION)
        throw PictureError("WebP pictures are at most " + std::to_string(WEBP_MAX_DIMENSION) +
                           " pixels on a side");
    // libwebp's own settings for the quality (method 4, as its one-call
    // encoders use), with its second thread for the filter and the alpha
    // search: the same file, sooner.
    WebPConfig config;
    if (!WebPConfigPreset(&config, WEBP_PRESET_DEFAULT, float(options.jpegQuality)))
        throw PictureError("cannot write WebP (libwebp's version does not match)");
    if (options.webpLossless) {
        config.lossless = 1;
        config.quality = 70; // as WebPEncodeLosslessRGB
        config.exact = 0;
    }
    config.thread_level = 1;
    WebPPicture picture;
    if (!WebPPictureInit(&picture)) throw PictureError("cannot write WebP (libwebp's version)");
    picture.use_argb = options.webpLossless ? 1 : 0;
    picture.width = p.width;
    picture.height = p.height;
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    const bool ok =
        WebPPictureImportRGB(&picture, p.rgb, p.width * 3) && WebPEncode(&config, &picture);
    WebPPictureFree(&picture);
    uint8_t* encoded = writer.mem;
    const size_t size = ok ? writer.size : 0;
    std::unique_ptr<uint8_t, void (*)(void*)> keep(encoded, WebPFree);
    if (size == 0 || !encoded) throw PictureError("cannot write WebP (the encoder failed)");
    if (options.iccProfile.empty()) {
        if (std::fwrite(encoded, 1, size, file) != size) throw PictureError(std::strerror(errno));
        return;
    }
    // The profile goes in an ICCP chunk, which libwebp's muxer places and
    // flags in the VP8X header as the container wants.
    std::unique_ptr<WebPMux, void (*)(WebPMux*)> mux(
        WebPMuxCreate(std::array{WebPData{encoded, size}}.data(), 0), WebPMuxDelete);
    const WebPData icc{options.iccProfile.data(), options.iccProfile.size()};
    WebPData assembled{nullptr, 0};
    if (!mux || WebPMuxSetChunk(mux.get(), "ICCP", &icc, 0) != WEBP_MUX_OK ||
        WebPMuxAssemble(mux.get(), &assembled) != WEBP_MUX_OK)
        throw PictureError("cannot write WebP (its colour profile cannot be added)");
    std::unique_ptr<const uint8_t, void (*)(const uint8_t*)> done(
        assembled.bytes, [](const uint8_t* b) { WebPFree(const_cast<uint8_t*>(b)); });
    if (std::fwrite(assembled.bytes, 1, assembled.size, file) != assembled.size)
        throw PictureError(std::strerror(errno));
}

namespace {} // namespace

} // namespace talvine::cli
