// A photo's metadata through the tool: a JPEG with EXIF (camera, orientation
// 6) and an ICC profile, its segments written and read back by hand here so
// that the test depends on no metadata library.  The orientation is applied
// before the command and the tag written upright; --strip writes none;
// --no-auto-orient leaves pixels and tag as stored.
#include "support/RunTool.h"

#include <gtest/gtest.h>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
#include <webp/decode.h>
#include <webp/mux.h>
#include <zlib.h>

#include <chrono>
#include <csetjmp>
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
    p[8] = 2, p[9] = 0x10;             // version 2.1
    p.replace(12, 12, "mntrRGB XYZ "); // a display's RGB profile, XYZ connection
    p.replace(36, 4, "acsp");
    // The D50 illuminant, as s15Fixed16 numbers.
    p.replace(68, 12, Bytes("\0\0\xF6\xD6\0\x01\0\0\0\0\xD3\x2D", 12));
    // No tags (a count of 0 at 128), then bytes that name the copy.
    for (size_t i = 132; i < p.size(); ++i)
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

    // A photo piped in is turned and keeps its metadata as the file does
    // (encoded again: standard input is read through the plug-in).
    r = test::runToolPiped({"mirror-h", "-", "-", "--format", "jpeg"}, dir / "in.jpg",
                           dir / "piped.jpg");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("standard input: turned"), std::string::npos) << r.err;
    const Bytes piped = slurp(dir / "piped.jpg");
    EXPECT_EQ(Exif(piped).text(Exif(piped).ifd0(), 0x010F), kMake);
    EXPECT_EQ(Exif(piped).value(Exif(piped).ifd0(), 0x0112), 1u);
    EXPECT_EQ(iccOf(piped), iccProfile());
    EXPECT_EQ(cli::readPicture(dir / "piped.jpg").width, 6);

    // Opened again, the written file is upright: nothing more is turned.
    r = runTool({"mirror-h", dir / "out.jpg", dir / "again.jpg"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("as its EXIF orientation says"), std::string::npos) << r.err;
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

// A PNG chunk: length, type, data, CRC.
Bytes pngChunk(const Bytes& type, const Bytes& data) {
    Bytes out;
    for (int k = 3; k >= 0; --k)
        out += char(data.size() >> (8 * k) & 0xFF);
    const Bytes body = type + data;
    const auto crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
    out += body;
    for (int k = 3; k >= 0; --k)
        out += char(crc >> (8 * k) & 0xFF);
    return out;
}

// An XMP packet of `n` properties, `name` each.
Bytes xmpPacket(int n, const std::string& name = "p") {
    Bytes x = "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?><x:xmpmeta "
              "xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
              "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description "
              "rdf:about=\"\" xmlns:t=\"http://example.com/t/\">";
    for (int i = 0; i < n; ++i)
        x += "<t:" + name + std::to_string(i) + ">v</t:" + name + std::to_string(i) + ">";
    return x + "</rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";
}

// Metadata past the limits is left out, with a note, before anything
// parses it: the run stays quick and small however much there is.
TEST_F(Photo, MetadataPastItsLimitsIsLeftOutBeforeItIsParsed) {
    cli::writePicture(dir / "plain.png", stored);
    const Bytes png = slurp(dir / "plain.png");
    // 40,000 XMP properties in a PNG: parsing them would take many seconds.
    std::ofstream(dir / "xmp.png", std::ios::binary)
        << png.substr(0, 33) +
               pngChunk("iTXt", Bytes("XML:com.adobe.xmp\0\0\0\0\0", 22) + xmpPacket(40000)) +
               png.substr(33);
    for (const char* strip : {"", "--strip"}) {
        std::vector<std::string> args{"mirror-h", dir / "xmp.png", dir / "out.jpg"};
        if (*strip) args.push_back(strip);
        const auto r = test::runBounded(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err.find("XMP holds 40010 properties") == std::string::npos, *strip != 0)
            << r.err;
        EXPECT_EQ(slurp(dir / "out.jpg").find("http://ns.adobe.com/xap/1.0/"), Bytes::npos);
    }

    // A JPEG whose profile is split over 1,600 segments of 60 KB: 96 MB.
    // (Large files are made in scopes of their own: a program started while
    // this one holds them would count them in its peak.)
    {
        const Bytes plain = slurp(dir / "plain.jpg");
        std::ofstream split(dir / "split.jpg", std::ios::binary);
        split << plain.substr(0, 2) + segment(0xE1, exifBlock(1));
        const Bytes part(60000, 'p');
        for (int i = 0; i < 1600; ++i)
            split << segment(0xE2,
                             Bytes("ICC_PROFILE\0", 12) + char(i % 255 + 1) + char(255) + part);
        split << plain.substr(2);
    }
    auto r = test::runBounded({"mirror-h", dir / "split.jpg", dir / "out.jpg"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("colour profile is 96000000 bytes"), std::string::npos) << r.err;
    const Bytes jpeg = slurp(dir / "out.jpg");
    EXPECT_TRUE(iccOf(jpeg).empty());
    EXPECT_EQ(Exif(jpeg).text(Exif(jpeg).ifd0(), 0x010F), kMake); // the EXIF is kept

    // A 64 x 48 TIFF with a 100 MB profile tag.
    {
        TIFF* t = TIFFOpen((dir / "icc.tif").c_str(), "w");
        ASSERT_NE(t, nullptr);
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 64u);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, 48u);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t{8});
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t{3});
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t{PHOTOMETRIC_RGB});
        Bytes huge = iccProfile();
        huge.resize(100u << 20, 'i');
        TIFFSetField(t, TIFFTAG_ICCPROFILE, uint32_t(huge.size()), huge.data());
        const Bytes row(64 * 3, 'r');
        for (uint32_t y = 0; y < 48; ++y)
            TIFFWriteScanline(t, const_cast<char*>(row.data()), y, 0);
        TIFFClose(t);
    }
    r = test::runBounded({"mirror-h", dir / "icc.tif", dir / "out.tif"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("colour profile is 104857600 bytes"), std::string::npos) << r.err;
    EXPECT_LT(std::filesystem::file_size(dir / "out.tif"), 100000u);
}

// The input's TIFF structure is never the output's: fields such as
// MinSampleValue in the EXIF of a JPEG (here with a wrong type) stay out of
// a TIFF output, which libtiff and the tool then read.
TEST_F(Photo, StorageFieldsOfTheInputNeverReachATiffOutput) {
    Bytes t = "II*";
    t += '\0';
    put32(t, 8);
    put16(t, 3);
    put16(t, 0x010F), put16(t, 2), put32(t, uint32_t(kMake.size() + 1)), put32(t, 8 + 2 + 36 + 4);
    put16(t, 280), put16(t, 2), put32(t, 3), put32(t, uint32_t('a' | 'b' << 8)); // ASCII
    put16(t, 281), put16(t, 5), put32(t, 1), put32(t, 8 + 2 + 36 + 4 + 16);      // RATIONAL
    put32(t, 0);
    t += kMake + '\0';
    t.resize(8 + 2 + 36 + 4 + 16, '\0');
    put32(t, 7), put32(t, 3);
    const Bytes plain = slurp(dir / "plain.jpg");
    std::ofstream(dir / "tags.jpg", std::ios::binary)
        << plain.substr(0, 2) + segment(0xE1, Bytes("Exif\0\0", 6) + t) + plain.substr(2);
    const auto r = runTool({"mirror-h", dir / "tags.jpg", dir / "out.tif"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    TIFF* tif = TIFFOpen((dir / "out.tif").c_str(), "r");
    ASSERT_NE(tif, nullptr);
    uint16_t v = 0;
    EXPECT_FALSE(TIFFGetField(tif, TIFFTAG_MINSAMPLEVALUE, &v));
    EXPECT_FALSE(TIFFGetField(tif, TIFFTAG_MAXSAMPLEVALUE, &v));
    char* make = nullptr;
    ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_MAKE, &make));
    EXPECT_EQ(std::string(make), kMake);
    TIFFClose(tif);
    EXPECT_EQ(cli::readPicture(dir / "out.tif").rgb, test::mirroredLeftRight(stored).rgb);
}

// An XMP packet that grows past a JPEG segment when written again costs only
// itself: the EXIF and the profile are kept.  (Quotes in single-quoted
// attributes come back as &quot;: 4,400 of them grow the packet by 66 KB.)
TEST_F(Photo, XmpTooLargeForAJpegSegmentLeavesTheRest) {
    Bytes packet = xmpPacket(0);
    Bytes quotes;
    for (int i = 0; i < 4400; ++i)
        quotes += " t:a" + std::to_string(i) + "='\"\"\"'";
    packet.insert(packet.find("xmlns:t=") + 31, quotes);
    const Bytes xmp = Bytes("http://ns.adobe.com/xap/1.0/\0", 29) + packet;
    ASSERT_LT(xmp.size(), 65533u);
    ASSERT_GT(xmp.size(), 60000u);
    const Bytes in = slurp(dir / "in.jpg");
    std::ofstream(dir / "xmp.jpg", std::ios::binary)
        << in.substr(0, 2) + segment(0xE1, xmp) + in.substr(2);
    const auto r = runTool({"mirror-h", dir / "xmp.jpg", dir / "out.jpg"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("XMP cannot be written"), std::string::npos) << r.err;
    const Bytes out = slurp(dir / "out.jpg");
    EXPECT_EQ(Exif(out).text(Exif(out).ifd0(), 0x010F), kMake);
    EXPECT_EQ(iccOf(out), iccProfile());
}

// The profile of a file as each format's own library reads it, or "" when
// it finds none (or refuses the chunk holding it, as libpng does a nameless
// iCCP).
Bytes profileByLibpng(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
    png_image_free(&image);
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    Bytes icc;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f && !setjmp(png_jmpbuf(png))) {
        png_init_io(png, f);
        png_read_info(png, info);
        png_charp name = nullptr;
        png_bytep data = nullptr;
        png_uint_32 size = 0;
        int method = 0;
        if (png_get_iCCP(png, info, &name, &method, &data, &size))
            icc.assign(reinterpret_cast<const char*>(data), size);
    }
    if (f) std::fclose(f);
    png_destroy_read_struct(&png, &info, nullptr);
    return icc;
}

Bytes profileByLibjpeg(const std::string& path) {
    jpeg_decompress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_decompress(&c);
    FILE* f = std::fopen(path.c_str(), "rb");
    jpeg_stdio_src(&c, f);
    jpeg_save_markers(&c, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&c, TRUE);
    JOCTET* data = nullptr;
    unsigned size = 0;
    Bytes icc;
    if (jpeg_read_icc_profile(&c, &data, &size)) {
        icc.assign(reinterpret_cast<const char*>(data), size);
        std::free(data);
    }
    jpeg_destroy_decompress(&c);
    std::fclose(f);
    return icc;
}

Bytes profileByLibtiff(const std::string& path) {
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t) return {};
    uint32_t size = 0;
    void* data = nullptr;
    Bytes icc;
    if (TIFFGetField(t, TIFFTAG_ICCPROFILE, &size, &data))
        icc.assign(static_cast<const char*>(data), size);
    TIFFClose(t);
    return icc;
}

Bytes profileByLibwebp(const std::string& path) {
    const Bytes file = slurp(path);
    const WebPData data{reinterpret_cast<const uint8_t*>(file.data()), file.size()};
    WebPMux* mux = WebPMuxCreate(&data, 0);
    WebPData icc{};
    Bytes out;
    if (mux && WebPMuxGetChunk(mux, "ICCP", &icc) == WEBP_MUX_OK)
        out.assign(reinterpret_cast<const char*>(icc.bytes), icc.size);
    WebPMuxDelete(mux);
    return out;
}

// Colour is kept in every format: the profile comes back byte for byte from
// each format's own library, with the EXIF beside it or without.
TEST_F(Photo, EveryFormatCarriesTheProfileForItsOwnLibrary) {
    for (const char* input : {"in.jpg", "plain-with-profile.jpg"}) {
        if (std::string(input) == "plain-with-profile.jpg") {
            const Bytes plain = slurp(dir / "plain.jpg");
            std::ofstream(dir / input, std::ios::binary)
                << plain.substr(0, 2) +
                       segment(0xE2,
                               Bytes("ICC_PROFILE\0", 12) + char(1) + char(1) + iccProfile()) +
                       plain.substr(2);
        }
        SCOPED_TRACE(input);
        for (const char* ext : {"png", "jpg", "tif", "webp"}) {
            const std::string out = dir / (std::string("profile.") + ext);
            const auto r = runTool({"mirror-h", dir / input, out});
            ASSERT_EQ(r.exitCode, 0) << r.err;
            const std::string e = ext;
            const Bytes icc = e == "png"   ? profileByLibpng(out)
                              : e == "jpg" ? profileByLibjpeg(out)
                              : e == "tif" ? profileByLibtiff(out)
                                           : profileByLibwebp(out);
            EXPECT_EQ(icc, iccProfile()) << ext;
        }
        // A PNG with a profile says nothing of sRGB beside it.
        const Bytes png = slurp(dir / "profile.png");
        EXPECT_EQ(png.find("sRGB"), Bytes::npos);
        EXPECT_EQ(png.find("gAMA"), Bytes::npos);
    }
}

// Quarter turns and mirrors of a JPEG rearrange its blocks: four turns give
// back the very pixels, the EXIF orientation and the command make one
// operation, and the metadata is kept.  A size that is no whole number of
// blocks is encoded again, and says so.
TEST(Lossless, JpegTurnsLoseNothingAndKeepTheMetadata) {
    test::TempDir dir;
    // 64 x 48: whole 16 x 16 blocks of 4:2:0 chroma.
    cli::writePicture(dir / "plain.jpg", test::noisePicture(64, 48, 5), 90);
    std::ofstream(dir / "in.jpg", std::ios::binary) << withMetadata(slurp(dir / "plain.jpg"), 1);
    const cli::Picture original = cli::readPicture(dir / "in.jpg");
    std::string current = dir / "in.jpg";
    for (int turn = 1; turn <= 4; ++turn) {
        const std::string next = dir / ("turn" + std::to_string(turn) + ".jpg");
        const auto r = runTool({"rotate-cw", current, next});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.err.find("turned losslessly"), std::string::npos) << r.err;
        current = next;
    }
    EXPECT_EQ(cli::readPicture(current).rgb, original.rgb);
    const Bytes out = slurp(current);
    EXPECT_EQ(Exif(out).text(Exif(out).ifd0(), 0x010F), kMake);
    EXPECT_EQ(iccOf(out), iccProfile());
    // Twice mirrored, the same.
    ASSERT_EQ(runTool({"mirror-v", dir / "in.jpg", dir / "m1.jpg"}).exitCode, 0);
    ASSERT_EQ(runTool({"mirror-v", dir / "m1.jpg", dir / "m2.jpg"}).exitCode, 0);
    EXPECT_EQ(cli::readPicture(dir / "m2.jpg").rgb, original.rgb);

    // Stored turned (orientation 6): a counter-clockwise turn of what shows
    // is the stored picture itself, tagged upright.
    std::ofstream(dir / "six.jpg", std::ios::binary) << withMetadata(slurp(dir / "plain.jpg"), 6);
    auto r = runTool({"rotate-ccw", dir / "six.jpg", dir / "back.jpg"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(cli::readPicture(dir / "back.jpg").rgb, cli::readPicture(dir / "plain.jpg").rgb);
    const Bytes back = slurp(dir / "back.jpg");
    EXPECT_EQ(Exif(back).value(Exif(back).ifd0(), 0x0112), 1u);

    // 100 x 75 has partial blocks on both edges: a quarter turn encodes
    // again, and says why; --reencode asks for that at once.
    cli::writePicture(dir / "odd.jpg", test::noisePicture(100, 75, 6), 90);
    r = runTool({"rotate-cw", dir / "odd.jpg", dir / "odd-out.jpg"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("encoded again, not turned losslessly: its size (100 x 75)"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(cli::readPicture(dir / "odd-out.jpg").width, 75);
    r = runTool({"rotate-cw", dir / "in.jpg", dir / "again.jpg", "--reencode"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("losslessly"), std::string::npos) << r.err;
    EXPECT_NE(cli::readPicture(dir / "again.jpg").rgb, cli::readPicture(dir / "turn1.jpg").rgb);
    // The pixel limit holds for a lossless turn too.
    r = runTool({"rotate-cw", dir / "in.jpg", dir / "big.jpg", "--max-pixels", "1000"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("more than 1000"), std::string::npos) << r.err;
}

} // namespace
} // namespace talvine