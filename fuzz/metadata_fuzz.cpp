// libFuzzer target: a picture file's metadata through the tool's whole path.
// The input is read as a picture (its format told by its first bytes) and
// for its metadata; the picture is then written in each of the four formats
// with that metadata, as the tool writes it, and every file made is read
// back.  It fails on any crash, on a file the tool's own decoders or its
// metadata reader cannot read back, and on a file whose pixels differ from
// the input's (for JPEG and lossy WebP: from the same picture encoded
// without metadata).
#include "ImageIO.h"
#include "Metadata.h"
#include "ReadBack.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

namespace {

using namespace talvine;

// Small enough that every format encodes it quickly.
constexpr int64_t kMaxPixels = int64_t{1} << 16;

void fail(const char* what, cli::Format format) {
    std::fprintf(stderr, "metadata_fuzz: %s (format %d)\n", what, static_cast<int>(format));
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> file(data, data + size);
    const auto format = cli::sniffFormat(data, size);
    if (!format) return 0;
    std::vector<uint8_t> pixels;
    int32_t width = 0, height = 0;
    try {
        cli::ReadOptions limits;
        limits.maxPixels = kMaxPixels;
        pixels = cli::decodeBytes(file, *format, width, height, &limits);
    } catch (const cli::PictureError&) {
        return 0;
    } catch (const std::bad_alloc&) {
        return 0;
    }
    hosts::PhotoMetadata metadata;
    try {
        std::vector<std::string> notes;
        metadata = hosts::PhotoMetadata::fromBytes(file, &notes);
    } catch (const hosts::MetadataError&) {
        return 0; // the tool writes such a picture without metadata
    }
    const cli::PixelsView picture{width, height, pixels.data()};
    for (cli::Format out :
         {cli::Format::Png, cli::Format::Jpeg, cli::Format::Tiff, cli::Format::Webp}) {
        std::vector<std::string> notes;
        cli::WriteOptions options;
        options.jpegQuality = 90;
        std::vector<uint8_t> written;
        try {
            written = cli::encodeWithMetadata(picture, out, options, metadata, 1, notes);
        } catch (const cli::PictureError&) {
            fail("the picture cannot be written", out);
        }
        int32_t w = 0, h = 0;
        std::vector<uint8_t> back;
        try {
            back = cli::decodeBytes(written, out, w, h);
        } catch (const cli::PictureError&) {
            fail("the written file does not read back", out);
        }
        std::vector<uint8_t> expected = pixels;
        if (out == cli::Format::Jpeg || out == cli::Format::Webp) {
            cli::WriteOptions plain = options;
            plain.iccProfile = metadata.icc();
            int32_t pw = 0, ph = 0;
            expected = cli::decodeBytes(cli::encodePicture(picture, out, plain), out, pw, ph);
        }
        if (w != width || h != height || back != expected)
            fail("the written file holds other pixels", out);
        try {
            (void)hosts::PhotoMetadata::fromBytes(written);
        } catch (const hosts::MetadataError&) {
            fail("the written file's metadata does not read back", out);
        }
    }
    return 0;
}
