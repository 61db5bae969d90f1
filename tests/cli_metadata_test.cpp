// A photo's metadata through the tool: a JPEG with EXIF (camera, orientation
// 6) and an ICC profile, its segments written and read back by hand here so
// that the test depends on no metadata library.  The orientation is applied
// before the command and the tag written upright; --strip writes none;
// --no-auto-orient leaves pixels and tag as stored.
#include "support/RunTool.h"

#include <gtest/gtest.h>

#include <tiffio.h>
#include <webp/decode.h>
#include <webp/mux.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>

namespace talvine {
namespace {

using test::runTool;
using test::slurp;
using Bytes = std::string;

void put16(Bytes& b, uint32_t v) {
    b += char(v & 0xFF);
    b += char((v >> 8) & 0xFF);
}
void put32(Bytes& b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}
Bytes segment(uint8_t marker, const Bytes& payload) {
    const size_t len = payload.size() + 2;
    return Bytes{char(0xFF), char(marker), char(len >> 8), char(len & 0xFF)} + payload;
}

const Bytes kMake = "Talvine Optics";
const Bytes kModel = "TV-6";

// A little-endian EXIF block: IFD0 with Make, Model and Orientation.
Bytes exifBlock(int orientation) {
    Bytes t = "II*";
    t += '\0';
    put32(t, 8);
    const uint32_t data = 8 + 2 + 3 * 12 + 4;
    put16(t, 3);
    put16(t, 0x010F), put16(t, 2), put32(t, uint32_t(kMake.size() + 1)), put32(t, data);
    put16(t, 0x0110), put16(t, 2), put32(t, uint32_t(kModel.size() + 1));
    put32(t, data + uint32_t(kMake.size() + 1));
    put16(t, 0x0112), put16(t, 3), put32(t, 1), put32(t, uint32_t(orientation));
    put32(t, 0);
    t += kMake + '\0' + kModel + '\0';
    return Bytes("Exif\0\0", 6) + t;
}

// A profile whose header is well formed (size, "acsp") and whose body names
// itself, so that a copy is told from an invented one.
Bytes iccProfile() {
    Bytes p(300, '\0');
    p[0] = 0, p[1] = 0, p[2] = char(300 >> 8), p[3] = char(300 & 0xFF);
    p.replace(12, 8, "mntrRGB ");
    p.replace(36, 4, "acsp");
    for (size_t i = 128; i < p.size(); ++i)
        p[i] = char(i * 7);
    return p;
}

// `jpeg` with the EXIF and ICC segments placed right after its start marker.
Bytes withMetadata(const Bytes& jpeg, int orientation) {
    Bytes icc = Bytes("ICC_PROFILE\0", 12) + char(1) + char(1) + iccProfile();
    return jpeg.substr(0, 2) + segment(0xE1, exifBlock(orientation)) + segment(0xE2, icc) +
           jpeg.substr(2);
}

struct Segment {
    uint8_t marker;
    Bytes payload;
};
std::vector<Segment> segmentsOf(const Bytes& f) {
    std::vector<Segment> out;
    size_t pos = 2;
    while (pos + 4 <= f.size() && uint8_t(f[pos]) == 0xFF) {
        const uint8_t marker = uint8_t(f[pos + 1]);
        if (marker == 0xDA) break;
        const size_t len = (uint8_t(f[pos + 2]) << 8) | uint8_t(f[pos + 3]);
        if (len < 2 || pos + 2 + len > f.size()) break;
        out.push_back({marker, f.substr(pos + 4, len - 2)});
        pos += 2 + len;
    }
    return out;
}

// The TIFF structure of a JPEG's EXIF segment, either byte order.
class Exif {
  public:
    explicit Exif(const Bytes& jpeg) {
        for (const auto& s : segmentsOf(jpeg))
            if (s.marker == 0xE1 && s.payload.compare(0, 6, Bytes("Exif\0\0", 6)) == 0)
                tiff_ = s.payload.substr(6);
        little_ = tiff_.size() >= 2 && tiff_[0] == 'I';
    }
    // A TIFF structure as it is (a WebP's EXIF chunk).
    static Exif fromTiff(const Bytes& tiff) {
        Exif e{Bytes()};
        e.tiff_ = tiff;
        e.little_ = tiff.size() >= 2 && tiff[0] == 'I';
        return e;
    }
    bool present() const { return tiff_.size() >= 8; }
    uint32_t ifd0() const { return u32(4); }
    // The value of a SHORT or LONG entry, or the offset of anything larger.
    std::optional<uint32_t> value(uint32_t ifd, uint16_t tag) const {
        if (auto at = entry(ifd, tag)) {
            const uint16_t type = u16(*at + 2);
            return type == 3 ? u16(*at + 8) : u32(*at + 8);
        }
        return std::nullopt;
    }
    std::string text(uint32_t ifd, uint16_t tag) const {
        auto at = entry(ifd, tag);
        if (!at) return {};
        const uint32_t count = u32(*at + 4);
        const uint32_t from = count <= 4 ? *at + 8 : u32(*at + 8);
        if (from + count > tiff_.size()) return {};
        std::string s = tiff_.substr(from, count);
        while (!s.empty() && s.back() == '\0')
            s.pop_back();
        return s;
    }

  private:
    std::optional<uint32_t> entry(uint32_t ifd, uint16_t tag) const {
        if (ifd + 2 > tiff_.size()) return std::nullopt;
        const uint16_t n = u16(ifd);
        for (uint32_t i = 0; i < n && ifd + 2 + (i + 1) * 12 <= tiff_.size(); ++i)
            if (u16(ifd + 2 + i * 12) == tag) return ifd + 2 + i * 12;
        return std::nullopt;
    }
    uint32_t byte(uint32_t at) const { return at < tiff_.size() ? uint8_t(tiff_[at]) : 0; }
    uint16_t u16(uint32_t at) const {
        return uint16_t(little_ ? byte(at) | byte(at + 1) << 8 : byte(at) << 8 | byte(at + 1));
    }
    uint32_t u32(uint32_t at) const {
        return little_ ? u16(at) | uint32_t(u16(at + 2)) << 16
                       : uint32_t(u16(at)) << 16 | u16(at + 2);
    }
    Bytes tiff_;
    bool little_ = true;
};

Bytes iccOf(const Bytes& jpeg) {
    Bytes icc;
    for (const auto& s : segmentsOf(jpeg))
        if (s.marker == 0xE2 && s.payload.compare(0, 12, Bytes("ICC_PROFILE\0", 12)) == 0)
            icc += s.payload.substr(14);
    return icc;
}

// Stored pixels turned as orientation 6 shows them: 90 degrees clockwise.
cli::Picture turned6(const cli::Picture& s) {
    cli::Picture r{s.height, s.width, std::vector<uint8_t>(s.rgb.size())};
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x)
            for (int c = 0; c < 3; ++c)
                r.rgb[(size_t(y) * r.width + x) * 3 + c] =
                    s.rgb[(size_t(s.height - 1 - x) * s.width + y) * 3 + c];
    return r;
}

class Photo : public ::testing::Test {
  protected:
    void SetUp() override {
        // 10 x 6, not square, so that a turn shows in the size.
        cli::Picture p = test::coordinateRgb(10, 6);
        for (auto& v : p.rgb)
            v = uint8_t(v * 23);
        cli::writePicture(dir / "plain.jpg", p, 95);
        std::ofstream(dir / "in.jpg", std::ios::binary)
            << withMetadata(slurp(dir / "plain.jpg"), 6);
        stored = cli::readPicture(dir / "plain.jpg");
    }
    test::TempDir dir;
    cli::Picture stored; // the input's pixels as its file stores them
};

TEST_F(Photo, OrientationAppliedBeforeTheCommandAndMetadataKeptUpright) {
    auto r = runTool({"mirror-h", dir / "in.jpg", dir / "out.png"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("turned 90° clockwise as its EXIF orientation says"), std::string::npos)
        << r.err;
    const cli::Picture out = cli::readPicture(dir / "out.png");
    const cli::Picture expected = test::mirroredLeftRight(turned6(stored));
    ASSERT_EQ(out.width, 6);
    ASSERT_EQ(out.height, 10);
    EXPECT_EQ(out.rgb, expected.rgb);

    // The same as the tool makes of a copy that was turned beforehand.
    cli::writePicture(dir / "turned.png", turned6(stored));
    ASSERT_EQ(runTool({"mirror-h", dir / "turned.png", dir / "turned-out.png"}).exitCode, 0);
    EXPECT_EQ(cli::readPicture(dir / "turned-out.png").rgb, out.rgb);

    r = runTool({"mirror-h", dir / "in.jpg", dir / "out.jpg"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Bytes jpeg = slurp(dir / "out.jpg");
    const Exif exif(jpeg);
    ASSERT_TRUE(exif.present());
    EXPECT_EQ(exif.text(exif.ifd0(), 0x010F), kMake);
    EXPECT_EQ(exif.text(exif.ifd0(), 0x0110), kModel);
    EXPECT_EQ(exif.value(exif.ifd0(), 0x0112), 1u);
    const auto sub = exif.value(exif.ifd0(), 0x8769);
    ASSERT_TRUE(sub);
    EXPECT_EQ(exif.value(*sub, 0xA002), 6u);
    EXPECT_EQ(exif.value(*sub, 0xA003), 10u);
    EXPECT_EQ(iccOf(jpeg), iccProfile());
    const cli::Picture decoded = cli::readPicture(dir / "out.jpg");
    EXPECT_EQ(decoded.width, 6);
    EXPECT_EQ(decoded.height, 10);

    // Standard output gets the same file.
    r = runTool({"mirror-h", dir / "in.jpg", "-", "--format", "jpeg"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, jpeg);

    // A photo piped in is turned and keeps its metadata as the file does.
    r = test::runToolPiped({"mirror-h", "-", "-", "--format", "jpeg"}, dir / "in.jpg",
                           dir / "piped.jpg");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("standard input: turned"), std::string::npos) << r.err;
    EXPECT_EQ(slurp(dir / "piped.jpg"), jpeg);

    // Opened again, the written file is upright: nothing more is turned.
    r = runTool({"mirror-h", dir / "out.jpg", dir / "again.jpg"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("turned"), std::string::npos) << r.err;
    EXPECT_EQ(cli::readPicture(dir / "again.jpg").width, 6);
}

TEST_F(Photo, AFileWrittenOverKeepsItsPermissions) {
    using P = std::filesystem::perms;
    const P kept = P::owner_read | P::owner_write;
    std::filesystem::copy_file(dir / "in.jpg", dir / "out.jpg");
    std::filesystem::permissions(dir / "out.jpg", kept);
    const auto r = runTool({"mirror-h", dir / "in.jpg", dir / "out.jpg"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(std::filesystem::status(dir / "out.jpg").permissions(), kept);
    EXPECT_EQ(cli::readPicture(dir / "out.jpg").width, 6); // turned: it was rewritten
}

TEST_F(Photo, StripWritesNone) {
    auto r = runTool({"mirror-h", "--strip", dir / "in.jpg", dir / "out.jpg"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Bytes jpeg = slurp(dir / "out.jpg");
    EXPECT_FALSE(Exif(jpeg).present());
    EXPECT_TRUE(iccOf(jpeg).empty());
    // Stripping does not stop the turn: the pixels are written as shown.
    EXPECT_EQ(cli::readPicture(dir / "out.jpg").width, 6);
}

TEST_F(Photo, NoAutoOrientLeavesPixelsAndTagAsStored) {
    auto r = runTool({"mirror-h", "--no-auto-orient", dir / "in.jpg", dir / "out.png"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("turned"), std::string::npos) << r.err;
    const cli::Picture out = cli::readPicture(dir / "out.png");
    ASSERT_EQ(out.width, 10);
    EXPECT_EQ(out.rgb, test::mirroredLeftRight(stored).rgb);

    r = runTool({"mirror-h", "--no-auto-orient", dir / "in.jpg", dir / "out.jpg"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Bytes jpeg = slurp(dir / "out.jpg");
    const Exif exif(jpeg);
    ASSERT_TRUE(exif.present());
    // The pixels were not turned: the tag still says how to show them.
    EXPECT_EQ(exif.value(exif.ifd0(), 0x0112), 6u);
    EXPECT_EQ(exif.text(exif.ifd0(), 0x010F), kMake);
    EXPECT_EQ(iccOf(jpeg), iccProfile());
}

TEST_F(Photo, AFailedWriteLeavesNoFileBehind) {
    // A directory where the output should be: the rename cannot replace it.
    std::filesystem::create_directory(dir / "out.jpg");
    auto r = runTool({"mirror-h", dir / "in.jpg", dir / "out.jpg"});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "out.jpg"));
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"in.jpg", "out.jpg", "plain.jpg"}));
}

TEST_F(Photo, DamagedMetadataIsToldAndLeftOut) {
    // An EXIF segment whose first directory lies far beyond its end.
    Bytes tiff = Bytes("Exif\0\0II*\0", 10);
    put32(tiff, 0xFFFFFFF0u);
    tiff += Bytes(20, char(0xFF));
    const Bytes plain = slurp(dir / "plain.jpg");
    std::ofstream(dir / "bad.jpg", std::ios::binary)
        << plain.substr(0, 2) + segment(0xE1, tiff) + plain.substr(2);
    auto r = runTool({"mirror-h", dir / "bad.jpg", dir / "out.jpg"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("metadata cannot be read"), std::string::npos) << r.err;
    EXPECT_FALSE(Exif(slurp(dir / "out.jpg")).present());
    EXPECT_EQ(cli::readPicture(dir / "out.jpg").width, 10);
}

// libwebp's own reader finds the profile in ICCP and the EXIF in EXIF, both
// announced in VP8X: a file libvips, Pillow and dwebp take.
TEST_F(Photo, WebpCarriesProfileAndExifInItsOwnChunks) {
    const auto r = runTool({"mirror-h", dir / "in.jpg", dir / "out.webp"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Bytes file = slurp(dir / "out.webp");
    const WebPData data{reinterpret_cast<const uint8_t*>(file.data()), file.size()};
    WebPMux* mux = WebPMuxCreate(&data, 0);
    ASSERT_NE(mux, nullptr);
    uint32_t flags = 0;
    EXPECT_EQ(WebPMuxGetFeatures(mux, &flags), WEBP_MUX_OK);
    EXPECT_TRUE(flags & ICCP_FLAG);
    EXPECT_TRUE(flags & EXIF_FLAG);
    WebPData icc{}, exif{};
    ASSERT_EQ(WebPMuxGetChunk(mux, "ICCP", &icc), WEBP_MUX_OK);
    EXPECT_EQ(Bytes(reinterpret_cast<const char*>(icc.bytes), icc.size), iccProfile());
    ASSERT_EQ(WebPMuxGetChunk(mux, "EXIF", &exif), WEBP_MUX_OK);
    const Exif tags = Exif::fromTiff(Bytes(reinterpret_cast<const char*>(exif.bytes), exif.size));
    EXPECT_EQ(tags.text(tags.ifd0(), 0x010F), kMake);
    EXPECT_EQ(tags.value(tags.ifd0(), 0x0112), 1u);
    WebPMuxDelete(mux);
    int w = 0, h = 0;
    uint8_t* rgb = WebPDecodeRGB(data.bytes, data.size, &w, &h);
    ASSERT_NE(rgb, nullptr);
    WebPFree(rgb);
    EXPECT_EQ(w, 6);
    EXPECT_EQ(h, 10);
}

// A profile is carried whole or not at all: a PNG whose profile's
// compressed stream is broken gives outputs with no profile and a note,
// never bytes made up by a reader.
TEST_F(Photo, DamagedProfileIsLeftOutOfEveryOutput) {
    cli::writePicture(dir / "plain.png", stored);
    const Bytes png = slurp(dir / "plain.png");
    // An iCCP chunk with a name, deflate's method byte and a stream that
    // stops being deflate after its header.
    Bytes chunk = Bytes("iCCP", 4) + Bytes("icc\0\0", 5) + Bytes("\x78\x9c\xff\xff\xff\xff", 6);
    uint32_t crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(chunk.data()), static_cast<uInt>(chunk.size())));
    Bytes be;
    for (int k = 3; k >= 0; --k)
        be += char((chunk.size() - 4) >> (8 * k) & 0xFF);
    Bytes tail;
    for (int k = 3; k >= 0; --k)
        tail += char(crc >> (8 * k) & 0xFF);
    // After the 33 bytes of signature and header.
    std::ofstream(dir / "broken-icc.png", std::ios::binary)
        << png.substr(0, 33) + be + chunk + tail + png.substr(33);
    for (const char* ext : {"png", "jpg", "tif"}) {
        const std::string out = dir / (std::string("out.") + ext);
        const auto r = runTool({"mirror-h", dir / "broken-icc.png", out});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.err.find("colour profile is damaged"), std::string::npos) << r.err;
        const Bytes written = slurp(out);
        EXPECT_EQ(written.find("iCCP"), Bytes::npos) << ext;
        EXPECT_EQ(written.find("ICC_PROFILE"), Bytes::npos) << ext;
        EXPECT_EQ(written.find("acsp"), Bytes::npos) << ext; // no profile header anywhere
        if (std::string(ext) == "tif") {
            TIFF* t = TIFFOpen(out.c_str(), "r");
            ASSERT_NE(t, nullptr);
            uint32_t size = 0;
            void* profile = nullptr;
            EXPECT_FALSE(TIFFGetField(t, TIFFTAG_ICCPROFILE, &size, &profile));
            TIFFClose(t);
        }
    }
}

} // namespace
} // namespace talvine