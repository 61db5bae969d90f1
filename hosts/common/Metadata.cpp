#include "Metadata.h"

#include "MetadataScan.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>

#ifdef TALVINE_HAVE_EXIV2
// exiv2 0.27 still hands out std::auto_ptr, deprecated in C++20.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>
#include <webp/mux.h>
#include <zlib.h>
#endif

namespace talvine::hosts {

struct PhotoMetadata::Data {
#ifdef TALVINE_HAVE_EXIV2
    Exiv2::ExifData exif;
    Exiv2::XmpData xmp;
    Exiv2::IptcData iptc;
#endif
    std::vector<uint8_t> icc;
};

namespace {

const std::vector<uint8_t> kNoProfile;

#ifdef TALVINE_HAVE_EXIV2
void quiet() {
    static const bool once = [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        return true;
    }();
    (void)once;
}

template <class Container, class Key> const auto* find(Container& c, const char* key) {
    auto it = c.findKey(Key(key));
    return it == c.end() ? nullptr : &*it;
}

Exiv2::Image::AutoPtr openBytes(const std::vector<uint8_t>& file) {
    if (file.empty() || file.size() > static_cast<size_t>(LONG_MAX))
        throw MetadataError("not a picture file");
    quiet();
    Exiv2::Image::AutoPtr image =
        Exiv2::ImageFactory::open(file.data(), static_cast<long>(file.size()));
    if (!image.get()) throw MetadataError("not a picture file");
    return image;
}
#endif

} // namespace

PhotoMetadata::PhotoMetadata() : data_(std::make_shared<Data>()) {}
PhotoMetadata::~PhotoMetadata() = default;
PhotoMetadata::PhotoMetadata(const PhotoMetadata&) = default;
PhotoMetadata& PhotoMetadata::operator=(const PhotoMetadata&) = default;

bool PhotoMetadata::supported() {
#ifdef TALVINE_HAVE_EXIV2
    return true;
#else
    return false;
#endif
}

#ifdef TALVINE_HAVE_EXIV2
namespace {

// The metadata exiv2 read, the profile checked.
PhotoMetadata::Data fromImage(Exiv2::Image& image, std::vector<std::string>* notes) {
    image.readMetadata();
    PhotoMetadata::Data data;
    data.exif = image.exifData();
    data.xmp = image.xmpData();
    data.iptc = image.iptcData();
    if (image.iccProfileDefined()) {
        const Exiv2::DataBuf* icc = image.iccProfile();
        data.icc.assign(icc->pData_, icc->pData_ + icc->size_);
        std::string why;
        if (!isUsableRgbProfile(data.icc, why)) {
            data.icc.clear();
            if (notes) notes->push_back("its colour profile is left out: " + why);
        }
    }
    return data;
}

// WebP's chunks hold the metadata as it is (EXIF as a TIFF structure, XMP
// as a packet, the profile): read here, not by exiv2's WebP reader, which
// looks for an EXIF header anywhere in the chunk and can find one inside a
// value.
PhotoMetadata::Data fromWebpChunks(const MetadataLayout& layout, const ReadAt& read,
                                   std::vector<std::string>* notes) {
    PhotoMetadata::Data data;
    for (size_t i = 0; i < layout.blocks.size(); ++i) {
        const MetadataBlock& b = layout.blocks[i];
        if (std::find(layout.dropped.begin(), layout.dropped.end(), i) != layout.dropped.end())
            continue;
        std::vector<uint8_t> bytes(b.payload);
        if (b.payload && !read(b.offset + 8, bytes.data(), bytes.size())) continue;
        if (b.kind == MetadataKind::Icc && data.icc.empty()) {
            data.icc = std::move(bytes);
        } else if (b.kind == MetadataKind::Exif && data.exif.empty()) {
            // Some writers keep JPEG's "Exif\0\0" before the TIFF header.
            const size_t skip =
                bytes.size() >= 6 && std::memcmp(bytes.data(), "Exif\0\0", 6) == 0 ? 6 : 0;
            if (bytes.size() > skip)
                Exiv2::ExifParser::decode(data.exif, bytes.data() + skip,
                                          static_cast<uint32_t>(bytes.size() - skip));
        } else if (b.kind == MetadataKind::Xmp && data.xmp.empty()) {
            const std::string packet(bytes.begin(), bytes.end());
            if (Exiv2::XmpParser::decode(data.xmp, packet) != 0 && notes)
                notes->push_back("its XMP cannot be parsed; left out");
        }
    }
    std::string why;
    if (!data.icc.empty() && !isUsableRgbProfile(data.icc, why)) {
        data.icc.clear();
        if (notes) notes->push_back("its colour profile is left out: " + why);
    }
    return data;
}

// Reads through the container walk first: what it drops never reaches
// exiv2.  `open` opens the file as it is; `bytes` reads any part of it.
PhotoMetadata::Data readChecked(const ReadAt& read, uint64_t size, bool exifOnly,
                                const std::function<Exiv2::Image::AutoPtr()>& open,
                                std::vector<std::string>* notes, uint8_t* privateTiff = nullptr) {
    quiet();
    const MetadataLayout layout = scanMetadata(read, size, exifOnly);
    if (notes) notes->insert(notes->end(), layout.notes.begin(), layout.notes.end());
    if (layout.container == Container::Webp) return fromWebpChunks(layout, read, notes);
    if (layout.dropped.empty() || layout.container == Container::Unknown) {
        Exiv2::Image::AutoPtr image = open();
        if (!image.get()) throw MetadataError("not a picture file");
        return fromImage(*image, notes);
    }
    std::vector<uint8_t> copy;
    const uint8_t* bytes = nullptr;
    size_t length = 0;
    if (layout.container == Container::Tiff && privateTiff) {
        emptyDroppedEntries(layout, privateTiff, size_t(size));
        bytes = privateTiff;
        length = size_t(size);
    } else {
        copy = withoutDropped(layout, read, size);
        bytes = copy.data();
        length = copy.size();
    }
    if (length == 0 || length > size_t(LONG_MAX)) throw MetadataError("not a picture file");
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(bytes, static_cast<long>(length));
    if (!image.get()) throw MetadataError("not a picture file");
    return fromImage(*image, notes);
}

} // namespace
#endif

PhotoMetadata PhotoMetadata::read(const std::string& path, std::vector<std::string>* notes,
                                  bool exifOnly) {
#ifdef TALVINE_HAVE_EXIV2
    try {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) throw MetadataError("cannot read " + path);
        struct Closer {
            int fd;
            ~Closer() { ::close(fd); }
        } closer{fd};
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0)
            throw MetadataError("cannot read " + path);
        const uint64_t size = uint64_t(st.st_size);
        const ReadAt read = [fd, size](uint64_t offset, void* out, size_t n) {
            if (offset > size || n > size - offset) return false;
            for (size_t done = 0; done < n;) {
                const ssize_t got = ::pread(fd, static_cast<char*>(out) + done, n - done,
                                            static_cast<off_t>(offset + done));
                if (got <= 0) return false;
                done += size_t(got);
            }
            return true;
        };
        // A TIFF's entries are emptied in a private mapping: only the pages
        // touched are copied, however large the file.
        void* mapped = ::mmap(nullptr, size_t(size), PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0);
        struct Unmap {
            void* p;
            size_t n;
            ~Unmap() {
                if (p != MAP_FAILED) ::munmap(p, n);
            }
        } unmap{mapped, size_t(size)};
        auto data = std::make_shared<Data>(readChecked(
            read, size, exifOnly, [&] { return Exiv2::ImageFactory::open(path); }, notes,
            mapped == MAP_FAILED ? nullptr : static_cast<uint8_t*>(mapped)));
        PhotoMetadata m;
        m.data_ = std::move(data);
        return m;
    } catch (const MetadataError&) {
        throw;
    } catch (const std::exception& e) {
        throw MetadataError(path + ": " + e.what());
    }
#else
    (void)path;
    (void)notes;
    (void)exifOnly;
    return {};
#endif
}

PhotoMetadata PhotoMetadata::fromBytes(const std::vector<uint8_t>& file,
                                       std::vector<std::string>* notes, bool exifOnly) {
#ifdef TALVINE_HAVE_EXIV2
    try {
        const ReadAt read = [&file](uint64_t offset, void* out, size_t n) {
            if (offset > file.size() || n > file.size() - offset) return false;
            std::memcpy(out, file.data() + offset, n);
            return true;
        };
        auto data = std::make_shared<Data>(readChecked(
            read, file.size(), exifOnly, [&] { return openBytes(file); }, notes));
        PhotoMetadata m;
        m.data_ = std::move(data);
        return m;
    } catch (const MetadataError&) {
        throw;
    } catch (const std::exception& e) {
        throw MetadataError(e.what());
    }
#else
    (void)file;
    (void)notes;
    (void)exifOnly;
    return {};
#endif
}

bool PhotoMetadata::hasExif() const {
#ifdef TALVINE_HAVE_EXIV2
    return !data_->exif.empty();
#else
    return false;
#endif
}

bool PhotoMetadata::hasXmp() const {
#ifdef TALVINE_HAVE_EXIV2
    return !data_->xmp.empty();
#else
    return false;
#endif
}

bool PhotoMetadata::hasIptc() const {
#ifdef TALVINE_HAVE_EXIV2
    return !data_->iptc.empty();
#else
    return false;
#endif
}

bool PhotoMetadata::hasIcc() const {
    return !data_->icc.empty();
}

const std::vector<uint8_t>& PhotoMetadata::icc() const {
    return data_ ? data_->icc : kNoProfile;
}

int PhotoMetadata::orientation() const {
#ifdef TALVINE_HAVE_EXIV2
    auto& exif = const_cast<Exiv2::ExifData&>(data_->exif);
    if (const auto* o = find<Exiv2::ExifData, Exiv2::ExifKey>(exif, "Exif.Image.Orientation")) {
        if (o->count() == 0) return 1;
        const long v = o->toLong();
        return v >= 1 && v <= 8 ? static_cast<int>(v) : 1;
    }
#endif
    return 1;
}

std::string PhotoMetadata::camera() const {
    std::string text;
#ifdef TALVINE_HAVE_EXIV2
    auto& exif = const_cast<Exiv2::ExifData&>(data_->exif);
    for (const char* key : {"Exif.Image.Make", "Exif.Image.Model"}) {
        if (const auto* d = find<Exiv2::ExifData, Exiv2::ExifKey>(exif, key)) {
            std::string part = d->toString();
            while (!part.empty() && (part.back() == '\0' || part.back() == ' '))
                part.pop_back();
            if (part.empty()) continue;
            if (!text.empty()) text += ' ';
            text += part;
        }
    }
#endif
    return text;
}

#ifdef TALVINE_HAVE_EXIV2
namespace {

// The EXIF fields of the first directory that describe how the input stored
// its pixels (TIFF's own structure, which exiv2 shows as EXIF for a TIFF
// input): never the output's.  The profile, XMP and IPTC go their own ways.
// The YCbCr fields belong in a JPEG's EXIF and stay there.
bool describesStorage(uint16_t tag, bool keepYCbCr) {
    switch (tag) {
    case 254:
    case 255:
    case 256:
    case 257:
    case 258:
    case 259:
    case 262:
    case 263:
    case 264:
    case 265:
    case 266:
    case 273:
    case 277:
    case 278:
    case 279:
    case 280:
    case 281:
    case 284:
    case 290:
    case 291:
    case 292:
    case 293:
    case 317:
    case 320:
    case 322:
    case 323:
    case 324:
    case 325:
    case 330:
    case 332:
    case 338:
    case 339:
    case 340:
    case 341:
    case 347:
    case 700:
    case 33723:
    case 34377:
    case 34675:
        return true;
    case 529:
    case 530:
    case 531:
    case 532:
        return !keepYCbCr;
    default:
        return tag >= 512 && tag <= 521; // old-style JPEG in TIFF
    }
}

// The EXIF and XMP as written with a picture of width x height whose pixels
// show as `orientation` says.
void prepare(Exiv2::ExifData& exif, Exiv2::XmpData& xmp, int32_t width, int32_t height,
             int orientation, bool keepYCbCr) {
    if (!exif.empty()) {
        for (auto it = exif.begin(); it != exif.end();)
            it = it->groupName() == "Image" && describesStorage(it->tag(), keepYCbCr)
                     ? exif.erase(it)
                     : std::next(it);
        if (find<Exiv2::ExifData, Exiv2::ExifKey>(exif, "Exif.Image.Orientation"))
            exif["Exif.Image.Orientation"] = static_cast<uint16_t>(orientation);
        exif["Exif.Photo.PixelXDimension"] = static_cast<uint32_t>(width);
        exif["Exif.Photo.PixelYDimension"] = static_cast<uint32_t>(height);
        Exiv2::ExifThumb(exif).erase();
    }
    if (!xmp.empty()) {
        if (find<Exiv2::XmpData, Exiv2::XmpKey>(xmp, "Xmp.tiff.Orientation"))
            xmp["Xmp.tiff.Orientation"] = std::to_string(orientation);
        for (auto [key, value] :
             {std::pair{"Xmp.exif.PixelXDimension", width},
              std::pair{"Xmp.exif.PixelYDimension", height},
              std::pair{"Xmp.tiff.ImageWidth", width}, std::pair{"Xmp.tiff.ImageLength", height}})
            if (find<Exiv2::XmpData, Exiv2::XmpKey>(xmp, key)) xmp[key] = std::to_string(value);
    }
}

uint32_t be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

void appendChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    for (int k = 3; k >= 0; --k)
        out.push_back(uint8_t(data.size() >> (8 * k)));
    const size_t from = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    const uLong crc = crc32(0, out.data() + from, static_cast<uInt>(out.size() - from));
    for (int k = 3; k >= 0; --k)
        out.push_back(uint8_t(crc >> (8 * k)));
}

// A PNG with `icc` in an iCCP chunk of its own, named as PNG readers want
// (exiv2 writes one with no name, which libpng refuses), right after the
// header; the chunks that say sRGB (sRGB, gAMA, cHRM) and any other profile
// go, since the profile says what the pixels are.
std::vector<uint8_t> pngWithProfile(const std::vector<uint8_t>& png,
                                    const std::vector<uint8_t>& icc) {
    uLongf packed = compressBound(static_cast<uLong>(icc.size()));
    std::vector<uint8_t> data{'I', 'C', 'C', ' ', 'p', 'r', 'o', 'f', 'i', 'l', 'e', 0, 0};
    const size_t head = data.size();
    data.resize(head + packed);
    if (compress2(data.data() + head, &packed, icc.data(), static_cast<uLong>(icc.size()), 9) !=
        Z_OK)
        throw MetadataError("the colour profile cannot be compressed");
    data.resize(head + packed);
    std::vector<uint8_t> out(png.begin(), png.begin() + 8);
    for (size_t at = 8; at + 12 <= png.size();) {
        const size_t length = be32(&png[at]);
        if (length > png.size() - at - 12) throw MetadataError("a PNG chunk runs past the end");
        const std::string type(reinterpret_cast<const char*>(&png[at + 4]), 4);
        if (type != "iCCP" && type != "sRGB" && type != "gAMA" && type != "cHRM")
            out.insert(out.end(), png.begin() + long(at), png.begin() + long(at + 12 + length));
        if (type == "IHDR") appendChunk(out, "iCCP", data);
        at += 12 + length;
    }
    return out;
}

using Mux = std::unique_ptr<WebPMux, void (*)(WebPMux*)>;

// WebP through libwebp's own muxer: EXIF and XMP chunks, the profile in
// ICCP, and the VP8X flags that announce them.
std::vector<uint8_t> intoWebp(const std::vector<uint8_t>& file, const Exiv2::ExifData& exif,
                              const Exiv2::XmpData& xmp, const std::vector<uint8_t>* icc,
                              bool hasIptc, std::vector<std::string>* notes) {
    Mux mux(WebPMuxCreate(std::array{WebPData{file.data(), file.size()}}.data(), 0), WebPMuxDelete);
    if (!mux) throw MetadataError("not a WebP file libwebp can rewrite");
    Exiv2::Blob exifBlob;
    if (!exif.empty()) Exiv2::ExifParser::encode(exifBlob, nullptr, 0, Exiv2::littleEndian, exif);
    std::string packet;
    if (!xmp.empty() && Exiv2::XmpParser::encode(packet, xmp) != 0) {
        packet.clear();
        if (notes) notes->push_back("its XMP cannot be written again; left out");
    }
    auto set = [&](const char* fourcc, const uint8_t* bytes, size_t size) {
        const WebPData data{bytes, size};
        if (size && WebPMuxSetChunk(mux.get(), fourcc, &data, 1) != WEBP_MUX_OK)
            throw MetadataError(std::string("libwebp refused the ") + fourcc + " chunk");
    };
    set("EXIF", exifBlob.data(), exifBlob.size());
    set("XMP ", reinterpret_cast<const uint8_t*>(packet.data()), packet.size());
    if (icc) set("ICCP", icc->data(), icc->size());
    if (hasIptc && notes) notes->push_back("its IPTC has no place in a WebP file; left out");
    WebPData assembled{nullptr, 0};
    if (WebPMuxAssemble(mux.get(), &assembled) != WEBP_MUX_OK)
        throw MetadataError("libwebp cannot assemble the file");
    std::vector<uint8_t> out(assembled.bytes, assembled.bytes + assembled.size);
    WebPDataClear(&assembled);
    return out;
}

std::vector<uint8_t> throughExiv2(const std::vector<uint8_t>& file, const Exiv2::ExifData& exif,
                                  const Exiv2::XmpData& xmp, const Exiv2::IptcData& iptc,
                                  const std::vector<uint8_t>* icc) {
    Exiv2::Image::AutoPtr image = openBytes(file);
    image->readMetadata();
    image->setExifData(exif);
    image->setXmpData(xmp);
    image->setIptcData(iptc);
    if (icc) {
        Exiv2::DataBuf profile(icc->data(), static_cast<long>(icc->size()));
        image->setIccProfile(profile, false);
    }
    image->writeMetadata();
    Exiv2::BasicIo& io = image->io();
    if (io.open() != 0) throw MetadataError("the written picture cannot be read back");
    io.seek(0, Exiv2::BasicIo::beg);
    const size_t size = io.size();
    std::vector<uint8_t> out(size);
    const long got = io.read(out.data(), static_cast<long>(size));
    io.close();
    if (got < 0 || static_cast<size_t>(got) != size)
        throw MetadataError("the written picture cannot be read back");
    return out;
}

} // namespace
#endif

std::vector<uint8_t> PhotoMetadata::writeInto(const std::vector<uint8_t>& file, int32_t width,
                                              int32_t height, int orientation, bool withProfile,
                                              std::vector<std::string>* notes) const {
#ifdef TALVINE_HAVE_EXIV2
    if (empty() || (!withProfile && !hasExif() && !hasXmp() && !hasIptc())) return file;
    try {
        const ReadAt read = [&file](uint64_t offset, void* out, size_t n) {
            if (offset > file.size() || n > file.size() - offset) return false;
            std::memcpy(out, file.data() + offset, n);
            return true;
        };
        const Container container = scanMetadata(read, file.size(), false).container;
        Exiv2::ExifData exif = data_->exif;
        Exiv2::XmpData xmp = data_->xmp;
        prepare(exif, xmp, width, height, orientation, container != Container::Tiff);
        const std::vector<uint8_t>* icc = withProfile && hasIcc() ? &data_->icc : nullptr;
        if (container == Container::Webp) return intoWebp(file, exif, xmp, icc, hasIptc(), notes);
        std::vector<uint8_t> named;
        if (container == Container::Png && icc) {
            named = pngWithProfile(file, *icc);
            icc = nullptr; // in the file now, as it should be
        }
        const std::vector<uint8_t>& source = named.empty() ? file : named;
        try {
            return throughExiv2(source, exif, xmp, data_->iptc, icc);
        } catch (const std::exception& e) {
            if (xmp.empty()) throw;
            // A JPEG segment holds at most 64 KB: an XMP packet that grew
            // past it is left out, and the rest still written.
            std::vector<uint8_t> out =
                throughExiv2(source, exif, Exiv2::XmpData(), data_->iptc, icc);
            if (notes)
                notes->push_back(std::string("its XMP cannot be written in this format (") +
                                 e.what() + "); left out");
            return out;
        }
    } catch (const MetadataError&) {
        throw;
    } catch (const std::exception& e) {
        throw MetadataError(e.what());
    }
#else
    (void)width;
    (void)height;
    (void)orientation;
    (void)withProfile;
    (void)notes;
    return file;
#endif
}

namespace {

// Where the k-th value of a table, as stored in the file, lies in the 8 x 8
// block (row-major).
constexpr std::array<int, 64> kZigzag = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// The example tables of the JPEG standard (Annex K), row-major.
constexpr std::array<int, 64> kLuminance = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr std::array<int, 64> kChrominance = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

int scaled(int base, int quality) {
    const int scale = quality < 50 ? 5000 / quality : 200 - quality * 2;
    return std::clamp((base * scale + 50) / 100, 1, 255);
}

} // namespace

int estimateJpegQuality(const std::vector<uint8_t>& file) {
    const size_t n = file.size();
    if (n < 4 || file[0] != 0xFF || file[1] != 0xD8) return 0;
    std::array<std::array<int, 64>, 2> tables{};
    std::array<bool, 2> found{};
    size_t at = 2;
    while (at + 4 <= n) {
        if (file[at] != 0xFF) return 0;
        const uint8_t marker = file[at + 1];
        if (marker == 0xFF) {
            ++at; // fill byte
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) break; // the scan: no tables after it count
        const size_t length = size_t{file[at + 2]} << 8 | file[at + 3];
        if (length < 2 || at + 2 + length > n) return 0;
        if (marker == 0xDB) {
            size_t p = at + 4;
            const size_t end = at + 2 + length;
            while (p < end) {
                const int precision = file[p] >> 4, id = file[p] & 0x0F;
                const size_t bytes = precision ? 128 : 64;
                if (p + 1 + bytes > end) return 0;
                if (id < 2) {
                    for (int k = 0; k < 64; ++k) {
                        const size_t v = p + 1 + static_cast<size_t>(precision ? 2 * k : k);
                        tables[id][kZigzag[k]] = precision ? (file[v] << 8 | file[v + 1]) : file[v];
                    }
                    found[id] = true;
                }
                p += 1 + bytes;
            }
        }
        at += 2 + length;
    }
    if (!found[0]) return 0;
    int best = 0;
    long bestError = 0;
    for (int q = 1; q <= 100; ++q) {
        long error = 0;
        for (int i = 0; i < 64; ++i) {
            error += std::abs(tables[0][i] - scaled(kLuminance[i], q));
            if (found[1]) error += std::abs(tables[1][i] - scaled(kChrominance[i], q));
        }
        if (best == 0 || error < bestError) {
            best = q;
            bestError = error;
        }
    }
    return best;
}

void applyOrientation(std::vector<uint8_t>& rgb, int32_t& width, int32_t& height, int orientation) {
    if (orientation < 2 || orientation > 8 || width <= 0 || height <= 0) return;
    const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
    if (rgb.size() < w * h * 3) throw std::invalid_argument("the pixels do not fill the picture");
    const bool swap = orientation >= 5;
    const size_t ow = swap ? h : w, oh = swap ? w : h;
    std::vector<uint8_t> out(w * h * 3);
    for (size_t y = 0; y < oh; ++y) {
        for (size_t x = 0; x < ow; ++x) {
            size_t sx = 0, sy = 0;
            switch (orientation) {
            case 2:
                sx = w - 1 - x;
                sy = y;
                break;
            case 3:
                sx = w - 1 - x;
                sy = h - 1 - y;
                break;
            case 4:
                sx = x;
                sy = h - 1 - y;
                break;
            case 5:
                sx = y;
                sy = x;
                break;
            case 6:
                sx = y;
                sy = h - 1 - x;
                break;
            case 7:
                sx = w - 1 - y;
                sy = h - 1 - x;
                break;
            default:
                sx = w - 1 - y;
                sy = x;
                break; // 8
            }
            std::memcpy(&out[(y * ow + x) * 3], &rgb[(sy * w + sx) * 3], 3);
        }
    }
    rgb = std::move(out);
    width = static_cast<int32_t>(ow);
    height = static_cast<int32_t>(oh);
}

std::string orientationText(int orientation) {
    switch (orientation) {
    case 2:
        return "mirrored left to right";
    case 3:
        return "turned half a turn";
    case 4:
        return "mirrored top to bottom";
    case 5:
        return "turned 90° clockwise and mirrored left to right";
    case 6:
        return "turned 90° clockwise";
    case 7:
        return "turned 90° anticlockwise and mirrored left to right";
    case 8:
        return "turned 90° anticlockwise";
    default:
        return {};
    }
}

} // namespace talvine::hosts

#ifdef TALVINE_HAVE_EXIV2
#pragma GCC diagnostic pop
#endif
