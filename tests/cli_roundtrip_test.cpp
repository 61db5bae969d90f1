// Every file the tool writes with exit 0 reads back: for each input of the
// test corpus (the fuzz seeds, with and without metadata, and the hostile
// files kept with them), the tool mirrors it into each of the four formats, and each output
// is read by the tool and by the format's own library through its plainest
// interface (libpng's simplified API, libjpeg's scanline loop, libtiff's
// scanlines, libwebp's one-call decoder), which must agree with each other
// and, for the lossless formats, with the input's own pixels, mirrored.
#include "support/RunTool.h"

#include <gtest/gtest.h>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
#include <webp/decode.h>

#include <algorithm>
#include <csetjmp>
#include <filesystem>
#include <fstream>

namespace talvine {
namespace {

namespace fs = std::filesystem;
using test::runTool;
using test::slurp;

struct Decoded {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    std::string error;
};

Decoded withLibpng(const std::string& bytes) {
    Decoded d;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
        d.error = image.message;
        return d;
    }
    image.format = PNG_FORMAT_RGB;
    d.rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, d.rgb.data(), 0, nullptr)) d.error = image.message;
    d.width = int(image.width);
    d.height = int(image.height);
    return d;
}

struct JpegFailure {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

Decoded withLibjpeg(const std::string& bytes) {
    Decoded d;
    jpeg_decompress_struct c{};
    JpegFailure failure{};
    c.err = jpeg_std_error(&failure.base);
    failure.base.error_exit = [](j_common_ptr info) {
        std::longjmp(reinterpret_cast<JpegFailure*>(info->err)->jump, 1);
    };
    if (setjmp(failure.jump)) {
        jpeg_destroy_decompress(&c);
        d.error = "libjpeg refused it";
        return d;
    }
    jpeg_create_decompress(&c);
    jpeg_mem_src(&c, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    jpeg_read_header(&c, TRUE);
    c.out_color_space = JCS_RGB;
    jpeg_start_decompress(&c);
    d.width = int(c.output_width);
    d.height = int(c.output_height);
    d.rgb.resize(size_t(d.width) * size_t(d.height) * 3);
    while (c.output_scanline < c.output_height) {
        JSAMPROW row = d.rgb.data() + size_t(c.output_scanline) * size_t(d.width) * 3;
        jpeg_read_scanlines(&c, &row, 1);
    }
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
    return d;
}

// The tool writes 8-bit RGB, one plane: its rows are the scanlines.
Decoded withLibtiff(const std::string& path) {
    Decoded d;
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t) {
        d.error = "libtiff refused it";
        return d;
    }
    uint32_t w = 0, h = 0;
    uint16_t spp = 0, bits = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    if (spp != 3 || bits != 8) {
        d.error = "not 8-bit RGB";
    } else {
        d.width = int(w);
        d.height = int(h);
        d.rgb.resize(size_t(w) * h * 3);
        for (uint32_t y = 0; y < h && d.error.empty(); ++y)
            if (TIFFReadScanline(t, d.rgb.data() + size_t(y) * w * 3, y, 0) < 0)
                d.error = "a scanline cannot be read";
    }
    TIFFClose(t);
    return d;
}

Decoded withLibwebp(const std::string& bytes) {
    Decoded d;
    uint8_t* rgb = WebPDecodeRGB(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                                 &d.width, &d.height);
    if (!rgb) {
        d.error = "libwebp refused it";
        return d;
    }
    d.rgb.assign(rgb, rgb + size_t(d.width) * size_t(d.height) * 3);
    WebPFree(rgb);
    return d;
}

// The fuzz targets' seeds: plain pictures of every format and kind, and
// pictures with metadata, damaged or hostile among them.
std::vector<std::string> corpus() {
    std::vector<std::string> files;
    for (const char* seeds : {"fuzz/corpus/decode", "fuzz/corpus/metadata"})
        for (const auto& e : fs::directory_iterator(fs::path(TALVINE_SOURCE_DIR) / seeds))
            files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

TEST(RoundTrip, EveryOutputWrittenReadsBackInTheToolAndInItsFormatsLibrary) {
    test::TempDir dir;
    int written = 0;
    for (const std::string& in : corpus()) {
        // The stored pixels: outputs keep them (and the orientation tag).
        cli::Picture source;
        try {
            source = cli::readPicture(in);
        } catch (const cli::PictureError&) {
            continue; // refused as input: nothing to write
        }
        const cli::Picture mirrored = test::mirroredLeftRight(source);
        for (const char* ext : {"png", "jpg", "tif", "webp"}) {
            const std::string out = dir / (fs::path(in).filename().string() + "." + ext);
            const auto r = runTool({"mirror-h", in, out, "--no-auto-orient"});
            SCOPED_TRACE(in + " -> " + ext + ": " + r.err);
            if (r.exitCode != 0) {
                EXPECT_EQ(r.exitCode, 1);
                EXPECT_FALSE(fs::exists(out));
                continue;
            }
            ++written;
            const cli::Picture ours = cli::readPicture(out);
            const std::string bytes = slurp(out);
            const std::string e = ext;
            const Decoded theirs = e == "png"   ? withLibpng(bytes)
                                   : e == "jpg" ? withLibjpeg(bytes)
                                   : e == "tif" ? withLibtiff(out)
                                                : withLibwebp(bytes);
            ASSERT_EQ(theirs.error, "");
            EXPECT_EQ(theirs.width, ours.width);
            EXPECT_EQ(theirs.height, ours.height);
            EXPECT_TRUE(theirs.rgb == ours.rgb);
            EXPECT_EQ(ours.width, mirrored.width);
            EXPECT_EQ(ours.height, mirrored.height);
            if (e == "png" || e == "tif") {
                EXPECT_TRUE(ours.rgb == mirrored.rgb);
            }
        }
    }
    EXPECT_GT(written, 40);
}

} // namespace
} // namespace talvine
