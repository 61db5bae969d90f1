// The tool's picture files under hostile and damaged input: declared sizes
// that the file cannot hold, truncation, corrupt data, the pixel limit; and
// the PNG variants and compression settings it reads and writes.
#include "support/RunTool.h"

#include <gtest/gtest.h>

#include <png.h>
#include <zlib.h>

#include <jpeglib.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace talvine {
namespace {

using test::runTool;
using Bytes = std::string;

void save(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

void put32(Bytes& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

// One PNG chunk with its length and CRC.
Bytes chunk(const char* type, const Bytes& data) {
    Bytes body = std::string(type, 4) + data;
    Bytes out;
    put32(out, static_cast<uint32_t>(data.size()));
    out += body;
    put32(out, static_cast<uint32_t>(
                   crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
    return out;
}

Bytes deflated(const Bytes& raw) {
    uLongf size = compressBound(uLong(raw.size()));
    Bytes out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &size,
              reinterpret_cast<const Bytef*>(raw.data()), uLong(raw.size()), 9);
    out.resize(size);
    return out;
}

// An RGB PNG whose header declares w x h and whose data is `raw`, deflated.
Bytes handMadePng(uint32_t w, uint32_t h, const Bytes& raw) {
    Bytes ihdr;
    put32(ihdr, w);
    put32(ihdr, h);
    ihdr += std::string("\x08\x02\x00\x00\x00", 5);
    return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) +
           chunk("IDAT", deflated(raw)) + chunk("IEND", "");
}

// A picture that does not compress much: every pixel differs.
cli::Picture noise(int w, int h) {
    return test::noisePicture(w, h, 12345);
}

// Mirrors `path` and returns the result, which must have been written.
cli::Picture mirrored(const std::string& path, const std::string& output,
                      std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"mirror-h", path, output};
    args.insert(args.end(), extra.begin(), extra.end());
    const auto r = runTool(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return cli::readPicture(output);
}

// A PNG of any colour type written with libpng; rows hold `channels` samples
// of `depth` bits per pixel, given as bytes already packed.
void writeWithLibpng(const std::string& path, int w, int h, int depth, int colourType,
                     bool interlaced, const std::vector<Bytes>& rows,
                     const std::vector<png_color>& palette = {},
                     const std::vector<png_byte>& alphas = {}) {
    FILE* f = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), depth, colourType,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), int(palette.size()));
    if (!alphas.empty()) png_set_tRNS(png, info, alphas.data(), int(alphas.size()), nullptr);
    png_write_info(png, info);
    std::vector<png_bytep> pointers;
    for (const Bytes& row : rows)
        pointers.push_back(reinterpret_cast<png_bytep>(const_cast<char*>(row.data())));
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

class CliPictures : public ::testing::Test {
  protected:
    // Runs a mirror that must be refused: exit 1, one line naming the file
    // and containing `fault`, nothing written, and no picture-sized memory
    // touched (the pictures declared here are 1.2 GB and more).
    void expectRefused(const std::string& input, const std::string& fault,
                       std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"mirror-h", input, out};
        args.insert(args.end(), extra.begin(), extra.end());
        const auto r = runTool(args);
        EXPECT_EQ(r.exitCode, 1) << input << ": " << r.err;
        EXPECT_EQ(r.err.rfind("talvine: " + input + ": ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(fault), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(std::filesystem::exists(out)) << input;
        // The goal is 256 MB for any file under 1 MB; sanitizers' shadow
        // memory for a reserved but untouched picture counts here too.
        EXPECT_LT(r.peakKb, 256 * 1024) << input;
    }
    Bytes jpegOf(const cli::Picture& p) {
        cli::writePicture(dir / "source.jpg", p, 90);
        return test::slurp(dir / "source.jpg");
    }
    test::TempDir dir;
    const std::string out = dir / "out.png";
};

TEST_F(CliPictures, PngHeadersThatTheFileCannotHoldAreRefusedAtOnce) {
    // 74 bytes declaring 46340 x 46340 (6.4 GB of pixels), and 20000 x 20000
    // with a few rows of real data.
    const Bytes huge = handMadePng(46340, 46340, Bytes(3 * 46340 + 1, '\0'));
    save(dir / "huge.png", huge);
    expectRefused(dir / "huge.png", "46340 x 46340 pixels, more than 1073741824");
    expectRefused(dir / "huge.png", "declares 46340 x 46340 pixels but holds only",
                  {"--max-pixels", "2147483647"});
    save(dir / "large.png", handMadePng(20000, 20000, Bytes(10 * (3 * 20000 + 1), '\x11')));
    expectRefused(dir / "large.png", "damaged or truncated");
    // Over the pixel limit, whatever the data.
    cli::writePicture(dir / "ok.png", test::coordinateRgb(100, 100));
    expectRefused(dir / "ok.png", "100 x 100 pixels, more than 9999", {"--max-pixels", "9999"});
    const auto r = runTool({"mirror-h", dir / "ok.png", out, "--max-pixels", "10000"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
}

TEST_F(CliPictures, TruncatedOrCorruptPngIsAnError) {
    cli::writePicture(dir / "full.png", noise(64, 64));
    const Bytes full = test::slurp(dir / "full.png");
    save(dir / "half.png", full.substr(0, full.size() / 2));
    expectRefused(dir / "half.png", "runs past the end of the file");
    save(dir / "noend.png", full.substr(0, full.size() - 12));
    expectRefused(dir / "noend.png", "ends before its IEND chunk");
    // A byte changed inside the pixel data: its chunk's CRC no longer holds.
    Bytes flipped = full;
    flipped[flipped.size() / 2] ^= 0x40;
    save(dir / "flipped.png", flipped);
    expectRefused(dir / "flipped.png", "damaged or truncated");
    // Whole chunks, but the compressed rows stop short of the picture.
    const Bytes rows(10 * (3 * 64 + 1), '\0');
    save(dir / "short.png", handMadePng(64, 64, rows));
    expectRefused(dir / "short.png", "Not enough image data");
}

// The SOF marker's height and width, patched in place.
Bytes withJpegSize(Bytes jpeg, uint16_t w, uint16_t h) {
    const size_t sof = jpeg.find("\xFF\xC0");
    jpeg[sof + 5] = char(h >> 8);
    jpeg[sof + 6] = char(h & 0xFF);
    jpeg[sof + 7] = char(w >> 8);
    jpeg[sof + 8] = char(w & 0xFF);
    return jpeg;
}

TEST_F(CliPictures, JpegHeadersThatTheFileCannotHoldAreRefusedAtOnce) {
    const Bytes small = jpegOf(noise(16, 16));
    save(dir / "bomb.jpg", withJpegSize(small, 65500, 32767));
    expectRefused(dir / "bomb.jpg", "65500 x 32767 pixels, more than 1073741824");
    expectRefused(dir / "bomb.jpg", "declares 65500 x 32767 pixels in only",
                  {"--max-pixels", "2147483647"});
    save(dir / "large.jpg", withJpegSize(jpegOf(noise(256, 256)), 20000, 20000));
    expectRefused(dir / "large.jpg", "declares 20000 x 20000 pixels in only");
    save(dir / "ok.jpg", small);
    expectRefused(dir / "ok.jpg", "16 x 16 pixels, more than 255", {"--max-pixels", "255"});
}

TEST_F(CliPictures, TruncatedOrCorruptJpegIsAnErrorAndHarmlessWarningsANote) {
    const Bytes full = jpegOf(noise(128, 128));
    // Cut in half: once libjpeg's grey lower half and exit status 0.
    save(dir / "half.jpg", full.substr(0, full.size() / 2));
    expectRefused(dir / "half.jpg", "ends before the end of its picture data");
    // A marker in the middle of the data: the blocks after it would be lost.
    Bytes marked = full;
    const size_t scan = full.find("\xFF\xDA");
    marked.replace(scan + (full.size() - scan) / 2, 2, "\xFF\xD3");
    save(dir / "marked.jpg", marked);
    expectRefused(dir / "marked.jpg", "Corrupt JPEG data");
    // Stray bytes between two header segments lose nothing: a note, and the picture.
    Bytes stray = full;
    stray.insert(full.find("\xFF\xDB"), "abc");
    save(dir / "stray.jpg", stray);
    const auto r = runTool({"mirror-h", dir / "stray.jpg", dir / "stray-out.jpg"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("extraneous bytes"), std::string::npos) << r.err;
    EXPECT_EQ(cli::readPicture(dir / "stray-out.jpg").width, 128);
}

// A 64 x 64 arithmetic-coded JPEG, sequential or progressive, with or
// without a restart marker after every row of blocks.
Bytes arithmeticJpeg(const std::string& path, bool progressive, bool restarts) {
    jpeg_compress_struct c{};
    jpeg_error_mgr errors{};
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    FILE* f = std::fopen(path.c_str(), "wb");
    jpeg_stdio_dest(&c, f);
    c.image_width = c.image_height = 64;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    c.arith_code = TRUE;
    c.restart_in_rows = restarts ? 1 : 0;
    if (progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    const cli::Picture p = noise(64, 64);
    while (c.next_scanline < 64) {
        auto* row = const_cast<JSAMPROW>(&p.rgb[size_t(c.next_scanline) * 64 * 3]);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
    return test::slurp(path);
}

TEST_F(CliPictures, ArithmeticCodedJpegThatEndsEarlyIsAnError) {
    // libjpeg pads such data with zeros and says nothing; no size bound holds
    // for arithmetic coding, so the decoder watches for the early end itself.
    for (const bool progressive : {false, true})
        for (const bool restarts : {false, true}) {
            const std::string whole = dir / (progressive ? "p.jpg" : "s.jpg");
            const Bytes jpeg = arithmeticJpeg(whole, progressive, restarts);
            EXPECT_EQ(mirrored(whole, dir / "whole.jpg").width, 64);
            Bytes patched = jpeg;
            const size_t sof = jpeg.find(progressive ? "\xFF\xCA" : "\xFF\xC9");
            ASSERT_NE(sof, std::string::npos);
            patched.replace(sof + 5, 4, "\x4E\x20\x4E\x20"); // 20000 x 20000
            save(dir / "bomb.jpg", patched);
            // Refused within the first rows, whichever check notices first:
            // a missing restart marker, a bad code, or a marker met too early.
            expectRefused(dir / "bomb.jpg", "the file is damaged or truncated");
        }
}

TEST_F(CliPictures, ADirectoryIsNotAPicture) {
    std::filesystem::create_directory(dir / "photos.png");
    expectRefused(dir / "photos.png", "is a directory, not a picture file");
    std::filesystem::create_directory(dir / "photos");
    expectRefused(dir / "photos", "is a directory, not a picture file");
}

TEST_F(CliPictures, PngVariantsReadAsTheirRgbPixels) {
    // Interlaced RGB: every pass lands on its own pixels.
    const cli::Picture coords = test::coordinateRgb(13, 11);
    std::vector<Bytes> rows;
    for (int y = 0; y < 11; ++y)
        rows.emplace_back(reinterpret_cast<const char*>(&coords.rgb[size_t(y) * 39]), 39);
    writeWithLibpng(dir / "adam7.png", 13, 11, 8, PNG_COLOR_TYPE_RGB, true, rows);
    const cli::Picture a = mirrored(dir / "adam7.png", dir / "a.png");
    ASSERT_EQ(a.rgb.size(), coords.rgb.size());
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 13; ++x)
            EXPECT_EQ(a.rgb[size_t(y * 13 + x) * 3], 12 - x) << x << "," << y;

    // Interlaced RGBA, half transparent: flattened onto white.
    std::vector<Bytes> rgba(5, Bytes());
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 9; ++x)
            rgba[size_t(y)] += std::string{char(0), char(100), char(200), char(128)};
    writeWithLibpng(dir / "rgba.png", 9, 5, 8, PNG_COLOR_TYPE_RGBA, true, rgba);
    const cli::Picture b = mirrored(dir / "rgba.png", dir / "b.png");
    ASSERT_EQ(b.rgb.size(), size_t(9 * 5 * 3));
    // c * 128/255 + 255 * 127/255, rounded.
    EXPECT_EQ(b.rgb[0], 127);
    EXPECT_EQ(b.rgb[1], 177);
    EXPECT_EQ(b.rgb[2], 227);
    EXPECT_EQ(b.rgb.back(), 227);

    // 16 bits a channel: scaled to 8 with rounding.
    writeWithLibpng(dir / "deep.png", 2, 1, 16, PNG_COLOR_TYPE_RGB, false,
                    {Bytes("\x80\x80\xFF\xFF\x00\x00\x12\x34\x00\x7F\x01\x00", 12)});
    const cli::Picture c = mirrored(dir / "deep.png", dir / "c.png");
    EXPECT_EQ(c.rgb, (std::vector<uint8_t>{0x12, 0x00, 0x01, 0x80, 0xFF, 0x00}));

    // A 2-bit palette with a transparent entry.
    writeWithLibpng(dir / "palette.png", 4, 1, 2, PNG_COLOR_TYPE_PALETTE, false,
                    {Bytes(1, char(0x1B))}, // entries 0, 1, 2, 3
                    {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}, {1, 2, 3}}, {255, 0});
    const cli::Picture d = mirrored(dir / "palette.png", dir / "d.png");
    EXPECT_EQ(d.rgb, (std::vector<uint8_t>{1, 2, 3, 70, 80, 90, 255, 255, 255, 10, 20, 30}));
}

TEST_F(CliPictures, CompressionChangesTheSizeNotThePixels) {
    cli::writePicture(dir / "in.png", test::coordinateRgb(300, 200));
    const cli::Picture stored = mirrored(dir / "in.png", dir / "c0.png", {"--compression", "0"});
    const cli::Picture fast = mirrored(dir / "in.png", dir / "c1.png");
    const cli::Picture small = mirrored(dir / "in.png", dir / "c9.png", {"--compression", "9"});
    EXPECT_EQ(stored.rgb, fast.rgb);
    EXPECT_EQ(small.rgb, fast.rgb);
    EXPECT_EQ(fast.rgb[0], 43); // (299, 0, 299 ^ 0) as bytes
    const auto size = [&](const char* name) { return std::filesystem::file_size(dir / name); };
    EXPECT_GE(size("c0.png"), size_t(300 * 200 * 3));
    EXPECT_LT(size("c1.png"), size("c0.png"));
    EXPECT_LT(size("c9.png"), size("c1.png"));
    const auto r = runTool({"mirror-h", dir / "in.png", dir / "x.png", "--compression", "10"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("--compression must be a whole number from 0 to 9"), std::string::npos)
        << r.err;
}

TEST_F(CliPictures, AFileWrittenOverKeepsItsPermissions) {
    cli::writePicture(dir / "in.png", test::coordinateRgb(20, 10));
    const auto mode = [](const std::string& path) {
        return std::filesystem::status(path).permissions();
    };
    using P = std::filesystem::perms;
    cli::writePicture(out, test::coordinateRgb(3, 3));
    std::filesystem::permissions(out, P::owner_read | P::owner_write | P::group_read);
    ASSERT_EQ(runTool({"mirror-h", dir / "in.png", out}).exitCode, 0);
    EXPECT_EQ(mode(out), P::owner_read | P::owner_write | P::group_read);
    EXPECT_EQ(cli::readPicture(out).width, 20);

    // A new file gets the permissions of any new file, not mkstemp's private ones.
    const mode_t mask = umask(0);
    umask(mask);
    ASSERT_EQ(runTool({"mirror-h", dir / "in.png", dir / "new.png"}).exitCode, 0);
    EXPECT_EQ(mode(dir / "new.png"), static_cast<P>(0666 & ~mask));
}

} // namespace
} // namespace talvine
