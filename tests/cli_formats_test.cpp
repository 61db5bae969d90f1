// TIFF and WebP pictures through the tool, and standard input and output as
// "-": round trips against the PNG path, conversions told on stderr, damaged
// and oversized files refused without output, pipes byte for byte.
#include "Metadata.h"
#include "support/RunTool.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace talvine {
namespace {

using test::runTool;
using test::slurp;
using Bytes = std::string;

void save(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Runs the tool with `in` as standard input; its standard output is kept
// in `out` (a file), stderr returned.
// Standard input from `in`, standard output into `out`.
talvine::test::ToolResult runPiped(const std::vector<std::string>& args, const std::string& in,
                                   const std::string& out) {
    return talvine::test::runToolPiped(args, in, out);
}

// Every pixel differs, so that no codec has it easy.
cli::Picture noise(int w, int h) {
    return test::noisePicture(w, h, 99);
}

// Runs `mirror-h in out extra...`, which must succeed.
void mirrorFile(const std::string& in, const std::string& out,
                std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"mirror-h", in, out};
    args.insert(args.end(), extra.begin(), extra.end());
    const auto r = runTool(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
}

// ---- hand-made little-endian TIFF files: every directory before its data --

void put16(Bytes& b, uint32_t v) {
    b.push_back(char(v & 0xFF));
    b.push_back(char(v >> 8 & 0xFF));
}
void put32(Bytes& b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

struct TiffPage {
    uint32_t width = 0, height = 0;
    uint16_t samples = 3, bits = 8, photometric = 2; // RGB
    Bytes data;                                      // uncompressed, contiguous
    uint16_t extraSample = 0; // ExtraSamples' one value, if any (2: unassociated alpha)
};

Bytes handMadeTiff(const std::vector<TiffPage>& pages) {
    Bytes out = Bytes("II*\0", 4);
    put32(out, 8);
    for (size_t k = 0; k < pages.size(); ++k) {
        const TiffPage& p = pages[k];
        const uint32_t ifd = uint32_t(out.size());
        const int entries = p.extraSample ? 11 : 10;
        const uint32_t extra = ifd + 2 + 12 * entries + 4; // bits per sample, when not inline
        const uint32_t bitsBytes = p.samples > 2 ? 2u * p.samples : 0u;
        const uint32_t data = extra + bitsBytes;
        Bytes d;
        put16(d, entries);
        auto entry = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
            put16(d, tag);
            put16(d, type);
            put32(d, count);
            put32(d, value);
        };
        entry(256, 4, 1, p.width);
        entry(257, 4, 1, p.height);
        entry(258, 3, p.samples,
              p.samples > 2 ? extra
                            : uint32_t(p.bits) | (p.samples == 2 ? uint32_t(p.bits) << 16 : 0));
        entry(259, 3, 1, 1);
        entry(262, 3, 1, p.photometric);
        entry(273, 4, 1, data);
        entry(277, 3, 1, p.samples);
        entry(278, 4, 1, p.height);
        entry(279, 4, 1, uint32_t(uint64_t{p.width} * p.height * p.samples * p.bits / 8));
        entry(284, 3, 1, 1);
        if (p.extraSample) entry(338, 3, 1, p.extraSample);
        const bool last = k + 1 == pages.size();
        put32(d, last ? 0 : data + uint32_t(p.data.size()));
        for (uint32_t s = 0; s < (p.samples > 2 ? p.samples : 0u); ++s)
            put16(d, p.bits);
        out += d + p.data;
    }
    return out;
}

class Formats : public ::testing::Test {
  protected:
    test::TempDir dir;
    const cli::Picture source = noise(61, 37);
    void SetUp() override { cli::writePicture(dir / "in.png", source); }
};

TEST_F(Formats, LosslessRoundTripsGiveThePngPathsPixels) {
    mirrorFile(dir / "in.png", dir / "ref.png");
    const cli::Picture ref = cli::readPicture(dir / "ref.png");
    ASSERT_EQ(ref.rgb, test::mirroredLeftRight(source).rgb);
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"a.tif", {}},
        {"b.tiff", {"--compression", "0"}},
        {"c.TIF", {"--compression", "9"}},
        {"d.webp", {"--lossless"}},
    };
    for (const auto& [name, extra] : cases) {
        SCOPED_TRACE(name);
        mirrorFile(dir / "in.png", dir / name, extra);
        // Mirrored twice through the format: the source again.
        mirrorFile(dir / name, dir / (name + ".png"));
        const cli::Picture back = cli::readPicture(dir / (name + ".png"));
        EXPECT_EQ(back.width, source.width);
        EXPECT_EQ(back.height, source.height);
        EXPECT_EQ(back.rgb, source.rgb);
    }
    // Stored TIFF holds the raw pixels; deflate makes the same pixels smaller.
    EXPECT_GT(std::filesystem::file_size(dir / "b.tiff"), size_t(61 * 37 * 3));
    EXPECT_EQ(slurp(dir / "a.tif").substr(0, 4), Bytes("II*\0", 4));
    EXPECT_EQ(slurp(dir / "d.webp").substr(8, 4), "WEBP");
}

TEST_F(Formats, LossyWebpFollowsQuality) {
    cli::writePicture(dir / "smooth.png", test::coordinateRgb(128, 96));
    mirrorFile(dir / "smooth.png", dir / "hi.webp", {"--quality", "95"});
    mirrorFile(dir / "smooth.png", dir / "lo.webp", {"--quality", "5"});
    EXPECT_LT(std::filesystem::file_size(dir / "lo.webp"),
              std::filesystem::file_size(dir / "hi.webp"));
    mirrorFile(dir / "hi.webp", dir / "hi.png");
    const cli::Picture back = cli::readPicture(dir / "hi.png");
    const cli::Picture want = test::coordinateRgb(128, 96);
    ASSERT_EQ(back.rgb.size(), want.rgb.size());
    double error = 0;
    for (size_t i = 0; i < want.rgb.size(); ++i)
        error += std::abs(int(back.rgb[i]) - int(want.rgb[i]));
    EXPECT_LT(error / double(want.rgb.size()), 4.0);
}

TEST_F(Formats, TiffConversionsAreToldOnce) {
    // 16-bit RGB: 0xFFFF, 0x8080 and 0 become 255, 128 and 0.
    TiffPage deep{2, 1, 3, 16, 2, {}};
    for (uint32_t v : {0xFFFFu, 0x8080u, 0u, 0u, 0x8080u, 0xFFFFu})
        put16(deep.data, v);
    save(dir / "deep.tif", handMadeTiff({deep}));
    auto r = runTool({"mirror-h", dir / "deep.tif", dir / "deep.png"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("deep.tif: 16-bit channels reduced to 8 bits"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("16-bit", r.err.find("16-bit") + 1), std::string::npos) << r.err;
    EXPECT_EQ(cli::readPicture(dir / "deep.png").rgb,
              (std::vector<uint8_t>{0, 128, 255, 255, 128, 0}));

    // Grey, two pages: converted, the first page read.
    TiffPage grey{3, 1, 1, 8, 1, Bytes("\x00\x40\xff", 3)};
    TiffPage other{3, 1, 1, 8, 1, Bytes("\x11\x11\x11", 3)};
    save(dir / "grey.tif", handMadeTiff({grey, other}));
    r = runTool({"mirror-h", dir / "grey.tif", dir / "grey.png"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("grey picture converted to RGB"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("first of 2 pages read"), std::string::npos) << r.err;
    EXPECT_EQ(cli::readPicture(dir / "grey.png").rgb,
              (std::vector<uint8_t>{255, 255, 255, 64, 64, 64, 0, 0, 0}));

    // RGBA with unassociated alpha: flattened onto white.
    TiffPage rgba{2, 1, 4, 8, 2, Bytes("\x00\x00\x00\x00\xff\x00\x00\x80", 8), 2};
    save(dir / "alpha.tif", handMadeTiff({rgba}));
    r = runTool({"mirror-h", dir / "alpha.tif", dir / "alpha.png"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("transparency flattened onto white"), std::string::npos) << r.err;
    // Mirrored: half-transparent red first, then transparent black.
    const auto px = cli::readPicture(dir / "alpha.png").rgb;
    ASSERT_EQ(px.size(), 6u);
    EXPECT_EQ(px[0], 255);
    EXPECT_NEAR(px[1], 127, 1);
    EXPECT_NEAR(px[2], 127, 1);
    EXPECT_EQ(std::vector<uint8_t>(px.begin() + 3, px.end()), std::vector<uint8_t>(3, 255));
}

TEST_F(Formats, DamagedFilesAreRefusedAndNothingIsWritten) {
    mirrorFile(dir / "in.png", dir / "whole.tif");
    mirrorFile(dir / "in.png", dir / "whole.webp", {"--lossless"});
    const Bytes tif = slurp(dir / "whole.tif"), webp = slurp(dir / "whole.webp");
    TiffPage page{61, 37, 3, 8, 2, Bytes(size_t(61) * 37 * 3, '\x7f')};
    const Bytes firstIfd = handMadeTiff({page});
    const std::vector<std::pair<std::string, Bytes>> cases = {
        {"cut.tif", tif.substr(0, tif.size() / 2)}, // the directory is at its end
        {"cut-data.tif", firstIfd.substr(0, firstIfd.size() - 100)},
        {"cut.webp", webp.substr(0, webp.size() - 10)},
        {"garbled.webp", webp.substr(0, 40) + Bytes(webp.size() - 40, '\x55')},
        {"empty.tif", ""},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        save(dir / name, bytes);
        const auto r = runTool({"mirror-h", dir / name, dir / "out.png"});
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find(name), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(dir / "out.png"));
    }
    const auto r = runTool({"mirror-h", dir / "cut-data.tif", dir / "out.png"});
    EXPECT_NE(r.err.find("strip runs past the end of the file"), std::string::npos) << r.err;
}

TEST_F(Formats, DeclaredSizesBeyondTheLimitOrTheFileAreRefused) {
    // A TIFF header declaring 40000 x 40000 with a few bytes of data.
    TiffPage huge{40000, 40000, 3, 8, 2, Bytes(16, '\0')};
    Bytes tif = handMadeTiff({huge});
    save(dir / "huge.tif", tif);
    auto r = runTool({"mirror-h", dir / "huge.tif", dir / "out.png", "--max-pixels", "1000000"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("40000 x 40000 pixels, more than 1000000"), std::string::npos) << r.err;
    // Within the limit, the strip is larger than the file.
    r = runTool({"mirror-h", dir / "huge.tif", dir / "out.png", "--max-pixels", "2147483647"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("damaged or truncated"), std::string::npos) << r.err;
    EXPECT_LT(r.peakKb, 200 * 1024);

    // A lossless WebP header declaring 16383 x 16383.
    Bytes vp8l("\x2f", 1);
    const uint32_t bits = 16382u | 16382u << 14;
    put32(vp8l, bits);
    Bytes webp = "RIFF";
    put32(webp, 4 + 8 + 6);
    webp += "WEBPVP8L";
    put32(webp, 5);
    webp += vp8l + Bytes(1, '\0');
    save(dir / "huge.webp", webp);
    r = runTool({"mirror-h", dir / "huge.webp", dir / "out.png", "--max-pixels", "1000000"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("16383 x 16383 pixels, more than 1000000"), std::string::npos) << r.err;
    r = runTool({"mirror-h", dir / "huge.webp", dir / "out.png"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("huge.webp"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.png"));
}

TEST_F(Formats, PipesGiveTheFilePathsBytes) {
    mirrorFile(dir / "in.png", dir / "ref.png");
    auto r = runPiped({"mirror-h", "-", "-", "--format", "png"}, dir / "in.png", dir / "piped.png");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_EQ(slurp(dir / "piped.png"), slurp(dir / "ref.png"));

    // Each format out to a pipe and back in, sniffed by its first bytes.
    for (const std::string format : {"tiff", "webp", "jpeg"}) {
        SCOPED_TRACE(format);
        const std::vector<std::string> extra =
            format == "webp" ? std::vector<std::string>{"--lossless"} : std::vector<std::string>{};
        std::vector<std::string> args{"mirror-h", "-", "-", "--format", format};
        args.insert(args.end(), extra.begin(), extra.end());
        r = runPiped(args, dir / "in.png", dir / ("p." + format));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        r = runPiped({"mirror-h", "-", dir / ("back-" + format + ".png")}, dir / ("p." + format),
                     dir / "nothing");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(slurp(dir / "nothing").empty());
        const cli::Picture back = cli::readPicture(dir / ("back-" + format + ".png"));
        EXPECT_EQ(back.width, source.width);
        if (format != "jpeg") {
            EXPECT_EQ(back.rgb, source.rgb);
        }
    }
    // --format beats the output's extension; an input of unknown extension
    // is told by its first bytes.
    mirrorFile(dir / "in.png", dir / "named.png", {"--format", "tiff"});
    EXPECT_EQ(slurp(dir / "named.png").substr(0, 4), Bytes("II*\0", 4));
    std::filesystem::rename(dir / "named.png", dir / "named.picture");
    mirrorFile(dir / "named.picture", dir / "plain.png");
    EXPECT_EQ(cli::readPicture(dir / "plain.png").rgb, source.rgb);
}

TEST_F(Formats, PipeNotesAndErrorsStayOnStderr) {
    TiffPage deep{2, 1, 3, 16, 2, Bytes(12, '\x80')};
    save(dir / "deep.tif", handMadeTiff({deep}));
    auto r = runPiped({"mirror-h", "-", "-", "--format", "png"}, dir / "deep.tif", dir / "o.png");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("standard input: 16-bit channels reduced to 8 bits"), std::string::npos)
        << r.err;
    EXPECT_EQ(cli::readPicture(dir / "o.png").rgb, std::vector<uint8_t>(6, 128));

    // Output to a pipe takes the input's format; bytes of no known format
    // need one.
    r = runPiped({"mirror-h", "-", "-"}, dir / "in.png", dir / "o2");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(slurp(dir / "o2").substr(1, 3), "PNG");
    r = runPiped({"mirror-h", "-", "-"}, dir / "deep.tif", dir / "o2");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(slurp(dir / "o2").substr(0, 2), "II");
    save(dir / "junk", "not a picture at all");
    r = runPiped({"mirror-h", "-", "-", "--format", "png"}, dir / "junk", dir / "o3");
    EXPECT_EQ(r.exitCode, 1);
    r = runPiped({"mirror-h", "-", dir / "o4.png"}, dir / "junk", dir / "o3");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("standard input: unknown picture format"), std::string::npos) << r.err;
    EXPECT_TRUE(slurp(dir / "o3").empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "o4.png"));
    // More bytes than any picture within the limit: refused while reading.
    save(dir / "flood", Bytes(size_t(17) << 20, '\0'));
    r = runPiped({"mirror-h", "-", "-", "--format", "png", "--max-pixels", "1000"}, dir / "flood",
                 dir / "o6");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("more than any picture within the pixel limit"), std::string::npos)
        << r.err;
    EXPECT_TRUE(slurp(dir / "o6").empty());
    // A truncated picture on stdin: an error, nothing on stdout.
    const Bytes png = slurp(dir / "in.png");
    save(dir / "cut.png", png.substr(0, png.size() / 2));
    r = runPiped({"mirror-h", "-", "-", "--format", "png"}, dir / "cut.png", dir / "o5");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("standard input"), std::string::npos) << r.err;
    EXPECT_TRUE(slurp(dir / "o5").empty());
}

TEST_F(Formats, CropKeepsItsOwnFormatOption) {
    cli::writePicture(dir / "big.png", test::coordinateRgb(120, 90));
    const auto r = runTool(
        {"crop", dir / "big.png", dir / "c.png", "--rect", "0,0,60,90", "--format", "2/3V"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
}

// A JPEG keeps its quality through the tool unless told otherwise: a photo
// written at 75 does not come back at 92, larger for nothing.
TEST(JpegQuality, KeptFromTheInputUnlessOneIsGiven) {
    test::TempDir dir;
    const cli::Picture p = test::noisePicture(64, 48, 11);
    cli::writePicture(dir / "q75.jpg", p, 75);
    cli::writePicture(dir / "in.png", p);
    auto quality = [&](const std::vector<std::string>& args) {
        const auto r = runTool(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const std::string out = slurp(args[2]);
        return hosts::estimateJpegQuality(std::vector<uint8_t>(out.begin(), out.end()));
    };
    EXPECT_EQ(quality({"mirror-h", dir / "q75.jpg", dir / "a.jpg"}), 75);
    EXPECT_EQ(quality({"rotate-cw", dir / "q75.jpg", dir / "b.jpg", "--quality", "50"}), 50);
    EXPECT_EQ(quality({"mirror-v", dir / "in.png", dir / "c.jpg"}), 92);
}

} // namespace
} // namespace talvine