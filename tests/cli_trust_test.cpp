// Files the tool must read exactly once and exactly as stored, or refuse:
// TIFF orientations turned once (libtiff would flip, and only flip), small
// tiles read, strips libtiff had to make up refused, and bombs from codecs
// whose expansion has no bound refused quickly and cheaply while real
// pictures of the same codecs open.
#include "support/RunTool.h"

#include <gtest/gtest.h>

#include <tiffio.h>
#include <webp/encode.h>

#include <chrono>
#include <cstring>
#include <fstream>

namespace talvine {
namespace {

using test::runTool;
using test::slurp;

// A TIFF of `p`, 8-bit RGB, written by libtiff with extra fields set by
// `more` (tiles, a codec, the orientation).
template <class More> void writeTiff(const std::string& path, const cli::Picture& p, More more) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(p.width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(p.height));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t{8});
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t{3});
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t{PHOTOMETRIC_RGB});
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, uint16_t{PLANARCONFIG_CONTIG});
    more(t);
    const size_t stride = size_t(p.width) * 3;
    if (TIFFIsTiled(t)) {
        uint32_t tw = 0, th = 0;
        TIFFGetField(t, TIFFTAG_TILEWIDTH, &tw);
        TIFFGetField(t, TIFFTAG_TILELENGTH, &th);
        std::vector<uint8_t> tile(size_t(tw) * th * 3);
        for (uint32_t y0 = 0; y0 < uint32_t(p.height); y0 += th)
            for (uint32_t x0 = 0; x0 < uint32_t(p.width); x0 += tw) {
                std::fill(tile.begin(), tile.end(), 0);
                for (uint32_t y = 0; y < th && y0 + y < uint32_t(p.height); ++y)
                    for (uint32_t x = 0; x < tw && x0 + x < uint32_t(p.width); ++x)
                        std::memcpy(&tile[(y * tw + x) * 3],
                                    &p.rgb[(y0 + y) * stride + (x0 + x) * 3], 3);
                TIFFWriteTile(t, tile.data(), x0, y0, 0, 0);
            }
    } else {
        std::vector<uint8_t> row(stride);
        for (int y = 0; y < p.height; ++y) {
            std::memcpy(row.data(), &p.rgb[size_t(y) * stride], stride);
            TIFFWriteScanline(t, row.data(), uint32_t(y), 0);
        }
    }
    TIFFClose(t);
}

// The picture as EXIF orientation `o` shows stored pixels `s`: the row and
// column each shown pixel comes from, as the orientation's definition reads
// (6: the stored first row is the shown right column).
cli::Picture upright(const cli::Picture& s, int o) {
    const bool swap = o >= 5;
    cli::Picture r{swap ? s.height : s.width, swap ? s.width : s.height,
                   std::vector<uint8_t>(s.rgb.size())};
    const int W = s.width, H = s.height;
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x) {
            int sx = x, sy = y;
            switch (o) {
            case 2:
                sx = W - 1 - x;
                break;
            case 3:
                sx = W - 1 - x, sy = H - 1 - y;
                break;
            case 4:
                sy = H - 1 - y;
                break;
            case 5:
                sx = y, sy = x;
                break;
            case 6:
                sx = y, sy = H - 1 - x;
                break;
            case 7:
                sx = W - 1 - y, sy = H - 1 - x;
                break;
            case 8:
                sx = W - 1 - y, sy = x;
                break;
            default:
                break;
            }
            std::memcpy(&r.rgb[(size_t(y) * r.width + x) * 3], &s.rgb[(size_t(sy) * W + sx) * 3],
                        3);
        }
    return r;
}

TEST(Trust, EveryTiffOrientationIsTurnedExactlyOnce) {
    test::TempDir dir;
    const cli::Picture stored = test::coordinateRgb(5, 3);
    for (int o = 1; o <= 8; ++o) {
        SCOPED_TRACE("orientation " + std::to_string(o));
        const std::string in = dir / ("o" + std::to_string(o) + ".tif");
        writeTiff(in, stored, [o](TIFF* t) { TIFFSetField(t, TIFFTAG_ORIENTATION, uint16_t(o)); });
        auto r = runTool({"mirror-h", in, dir / "out.png"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(cli::readPicture(dir / "out.png").rgb,
                  test::mirroredLeftRight(upright(stored, o)).rgb);
        // Left as stored, and the tag with it.
        r = runTool({"mirror-h", in, dir / "kept.tif", "--no-auto-orient"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(cli::readPicture(dir / "kept.tif").rgb, test::mirroredLeftRight(stored).rgb);
        TIFF* t = TIFFOpen((dir / "kept.tif").c_str(), "r");
        ASSERT_NE(t, nullptr);
        uint16_t tag = 0;
        TIFFGetFieldDefaulted(t, TIFFTAG_ORIENTATION, &tag);
        TIFFClose(t);
        EXPECT_EQ(tag, o);
    }
}

TEST(Trust, SmallTilesAreReadAndMadeUpStripsRefused) {
    test::TempDir dir;
    const cli::Picture p = test::coordinateRgb(40, 30);
    writeTiff(dir / "tiles.tif", p, [](TIFF* t) {
        TIFFSetField(t, TIFFTAG_TILEWIDTH, uint32_t{16});
        TIFFSetField(t, TIFFTAG_TILELENGTH, uint32_t{16});
    });
    auto r = runTool({"mirror-v", dir / "tiles.tif", dir / "out.png"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(cli::readPicture(dir / "tiles.tif").rgb, p.rgb);

    // 64 x 48 stored in one run of bytes, but RowsPerStrip 1 with a single
    // strip offset: libtiff would read 47 made-up strips (the header's own
    // bytes among them).
    std::string f = "II*";
    f += '\0';
    auto put16 = [&f](uint32_t v) { f += char(v & 0xFF), f += char(v >> 8 & 0xFF); };
    auto put32 = [&](uint32_t v) { put16(v & 0xFFFF), put16(v >> 16); };
    const uint32_t pixels = 64 * 48 * 3;
    put32(8 + pixels);
    f += std::string(pixels, '\x55');
    const std::pair<uint16_t, uint32_t> entries[] = {{256, 64},     {257, 48}, {258, 8}, {259, 1},
                                                     {262, 2},      {273, 8},  {277, 3}, {278, 1},
                                                     {279, pixels}, {284, 1}};
    put16(uint16_t(std::size(entries)));
    for (const auto& [tag, value] : entries) {
        const bool isLong = tag == 273 || tag == 279;
        put16(tag), put16(isLong ? 4 : 3), put32(1);
        isLong ? put32(value) : (put16(uint16_t(value)), put16(0));
    }
    put32(0);
    std::ofstream(dir / "one-strip.tif", std::ios::binary) << f;
    r = runTool({"mirror-v", dir / "one-strip.tif", dir / "bad.png"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("damaged"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "bad.png"));
}

// A bilevel fax picture, all white, in CCITT Group 4 or another codec.
void writeBilevel(const std::string& path, uint32_t w, uint32_t h, uint16_t codec) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(codec == COMPRESSION_CCITTFAX4 ? 1 : 8));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t{1});
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t{PHOTOMETRIC_MINISWHITE});
    TIFFSetField(t, TIFFTAG_COMPRESSION, codec);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, h);
    std::vector<uint8_t> row(TIFFScanlineSize(t), 0);
    for (uint32_t y = 0; y < h; ++y)
        TIFFWriteScanline(t, row.data(), y, 0);
    TIFFClose(t);
}

TEST(Trust, BombsOfCodecsWithNoBoundAreRefusedCheaply) {
    test::TempDir dir;
    writeBilevel(dir / "g4-20000.tif", 20000, 20000, COMPRESSION_CCITTFAX4);
    auto r = test::runBounded({"mirror-h", dir / "g4-20000.tif", dir / "out.png"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("--trust-size"), std::string::npos) << r.err;

    if (TIFFIsCODECConfigured(COMPRESSION_ZSTD)) {
        writeBilevel(dir / "zstd.tif", 8000, 8000, COMPRESSION_ZSTD);
        r = test::runBounded({"mirror-h", dir / "zstd.tif", dir / "out.png"});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("--trust-size"), std::string::npos) << r.err;
    }

    // A lossless WebP whose header claims the largest size WebP allows.
    uint8_t* encoded = nullptr;
    const std::vector<uint8_t> flat(64 * 64 * 3, 200);
    const size_t n = WebPEncodeLosslessRGB(flat.data(), 64, 64, 64 * 3, &encoded);
    ASSERT_GT(n, 25u);
    std::string webp(reinterpret_cast<char*>(encoded), n);
    WebPFree(encoded);
    ASSERT_EQ(webp.substr(12, 4), "VP8L");
    // 14 bits of width - 1, 14 of height - 1, after the signature byte.
    const uint32_t bits = 16382u | 16382u << 14 | (uint32_t(uint8_t(webp[24])) >> 4 & 0xF) << 28;
    for (int k = 0; k < 4; ++k)
        webp[size_t(21 + k)] = char(bits >> (8 * k) & 0xFF);
    std::ofstream(dir / "big.webp", std::ios::binary) << webp;
    r = test::runBounded({"mirror-h", dir / "big.webp", dir / "out.png"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("--trust-size"), std::string::npos) << r.err;

    // A real fax page (A4 at 300 dpi) opens, and so does the bomb when the
    // user trusts it within a pixel limit that refuses it by size alone.
    writeBilevel(dir / "page.tif", 2480, 3508, COMPRESSION_CCITTFAX4);
    r = runTool({"mirror-h", dir / "page.tif", dir / "page.png"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    r = test::runBounded({"mirror-h", dir / "g4-20000.tif", dir / "out.png", "--trust-size",
                          "--max-pixels", "1000000"});
    EXPECT_NE(r.err.find("more than 1000000"), std::string::npos) << r.err;
}

} // namespace
} // namespace talvine
