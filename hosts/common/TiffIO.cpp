// TIFF through libtiff: reading through a private mapping, rows as stored,
// warnings that mean made-up data as errors; writing strips.
#include "Codecs.h"
#include "MetadataScan.h"

#include <tiffio.h>

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

// ---- TIFF: libtiff reads and writes through a FILE*, so that files, memory
// (fmemopen) and scratch files go the same way. ----

// What libtiff's client procedures work on.  Reading maps the file: libtiff
// reads small uncompressed tiles wrongly through plain reads (it refuses a
// 16 x 16 tile of 768 bytes as "got 1024"), and not through a mapping.  A
// regular file is mapped; a stream in memory is copied once instead.
struct TiffStream {
    FILE* file = nullptr;
    void* mapped = nullptr;
    size_t mappedSize = 0;
    std::vector<uint8_t> copy;
};

// libtiff reads every field of the first directory into memory when it opens
// a file, a profile of 100 MB as well: the fields the metadata reader leaves
// out for their size are emptied in the private mapping first.
void leaveOutOversizedMetadata(uint8_t* bytes, size_t size) {
    const hosts::ReadAt read = [bytes, size](uint64_t offset, void* out, size_t n) {
        if (offset > size || n > size - offset) return false;
        std::memcpy(out, bytes + offset, n);
        return true;
    };
    const hosts::MetadataLayout layout = hosts::scanMetadata(read, size, false);
    if (layout.container == hosts::Container::Tiff) hosts::emptyDroppedEntries(layout, bytes, size);
}

FILE* fileOf(thandle_t h) {
    return static_cast<TiffStream*>(h)->file;
}
tsize_t tiffRead(thandle_t h, tdata_t buf, tsize_t n) {
    return static_cast<tsize_t>(std::fread(buf, 1, size_t(n), fileOf(h)));
}
tsize_t tiffWrite(thandle_t h, tdata_t buf, tsize_t n) {
    return static_cast<tsize_t>(std::fwrite(buf, 1, size_t(n), fileOf(h)));
}
toff_t tiffSeek(thandle_t h, toff_t off, int whence) {
    FILE* f = fileOf(h);
    if (off > toff_t(INT64_MAX) || fseeko(f, static_cast<off_t>(off), whence) != 0)
        return toff_t(-1);
    return static_cast<toff_t>(ftello(f));
}
int tiffClose(thandle_t) {
    return 0;
}
toff_t tiffSize(thandle_t h) {
    FILE* f = fileOf(h);
    const off_t keep = ftello(f);
    if (keep < 0 || fseeko(f, 0, SEEK_END) != 0) return 0;
    const off_t size = ftello(f);
    fseeko(f, keep, SEEK_SET);
    return size < 0 ? 0 : static_cast<toff_t>(size);
}
int tiffMap(thandle_t h, tdata_t* base, toff_t* size) {
    auto* s = static_cast<TiffStream*>(h);
    const int fd = fileno(s->file);
    struct stat st {};
    uint8_t* bytes = nullptr;
    size_t length = 0;
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        // Private and writable: see leaveOutOversizedMetadata.
        void* p = ::mmap(nullptr, size_t(st.st_size), PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0);
        if (p == MAP_FAILED) return 0;
        s->mapped = p;
        s->mappedSize = length = size_t(st.st_size);
        bytes = static_cast<uint8_t*>(p);
    } else {
        const toff_t n = tiffSize(h);
        const off_t keep = ftello(s->file);
        if (n == 0 || keep < 0 || fseeko(s->file, 0, SEEK_SET) != 0) return 0;
        s->copy.resize(size_t(n));
        const size_t got = std::fread(s->copy.data(), 1, size_t(n), s->file);
        fseeko(s->file, keep, SEEK_SET);
        if (got != size_t(n)) return 0;
        bytes = s->copy.data();
        length = size_t(n);
    }
    leaveOutOversizedMetadata(bytes, length);
    *base = bytes;
    *size = toff_t(length);
    return 1;
}
void tiffUnmap(thandle_t h, tdata_t, toff_t) {
    auto* s = static_cast<TiffStream*>(h);
    if (s->mapped) ::munmap(s->mapped, s->mappedSize);
    s->mapped = nullptr;
    std::vector<uint8_t>().swap(s->copy);
}

// The first error libtiff reports, and the first warning that means pixels
// were lost or guessed: a strip or tile list, or a field that says how the
// samples are laid out, ignored or made up by libtiff ("Incorrect count for
// "StripOffsets"; tag ignored"); or, once the pixels are being read, any
// warning but the few that lose nothing.  Other warnings (unknown tags, an
// unterminated text) are dropped: the pixels do not depend on them.
struct TiffMessages {
    std::string error;
    bool decoding = false; // past the directory, reading pixels
};

bool losesPixels(const std::string& text, bool decoding) {
    if (decoding)
        return text.find("not terminated with EOI") == std::string::npos &&
               text.find("Subsampling") == std::string::npos;
    static constexpr const char* kLayout[] = {
        "StripOffsets",  "StripByteCounts", "TileOffsets",  "TileByteCounts", "RowsPerStrip",
        "ImageWidth",    "ImageLength",     "imagelength",  "TileWidth",      "TileLength",
        "BitsPerSample", "SamplesPerPixel", "SampleFormat", "PlanarConfig",   "Compression",
        "ColorMap",      "Colormap"};
    for (const char* field : kLayout)
        if (text.find(field) != std::string::npos) return true;
    return false;
}

int tiffError(TIFF*, void* user, const char*, const char* fmt, va_list ap) {
    auto* m = static_cast<TiffMessages*>(user);
    if (m->error.empty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, fmt, ap);
        m->error = text;
    }
    return 1;
}
int tiffWarning(TIFF*, void* user, const char*, const char* fmt, va_list ap) {
    auto* m = static_cast<TiffMessages*>(user);
    char text[512];
    std::vsnprintf(text, sizeof text, fmt, ap);
    if (m->error.empty() && losesPixels(text, m->decoding)) m->error = text;
    return 1;
}

struct TiffCloser {
    void operator()(TIFF* t) const {
        if (t) TIFFClose(t);
    }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

TiffHandle tiffOpen(TiffStream& stream, const char* mode, TiffMessages& messages) {
    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    if (!opts) throw std::bad_alloc();
    TIFFOpenOptionsSetErrorHandlerExtR(opts, tiffError, &messages);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, tiffWarning, &messages);
    TIFF* t = TIFFClientOpenExt("picture", mode, &stream, tiffRead, tiffWrite, tiffSeek, tiffClose,
                                tiffSize, tiffMap, tiffUnmap, opts);
    TIFFOpenOptionsFree(opts);
    return TiffHandle(t);
}

// How many bytes of samples `compressed` bytes can at most become, for the
// codecs with a bound on their expansion.
std::optional<uint64_t> tiffMostExpanded(uint16_t compression, uint64_t compressed) {
    switch (compression) {
    case COMPRESSION_NONE:
        return compressed;
    case COMPRESSION_PACKBITS:
        return compressed * 64 + 128; // 2 bytes make at most 128
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
        return compressed * 1032 + 64;
    case COMPRESSION_LZW:
        return compressed * 3641 + 4096; // a 9-bit code makes <= 4096 bytes
    default:
        return std::nullopt;
    }
}

// The name of a TIFF codec for a user.
std::string tiffCodecName(uint16_t compression) {
    switch (compression) {
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTRLEW:
        return "CCITT fax";
    case COMPRESSION_CCITTFAX3:
        return "CCITT Group 3 fax";
    case COMPRESSION_CCITTFAX4:
        return "CCITT Group 4 fax";
    case COMPRESSION_JBIG:
    case COMPRESSION_T85:
    case COMPRESSION_T43:
        return "JBIG";
    case COMPRESSION_LZMA:
        return "LZMA";
    case COMPRESSION_ZSTD:
        return "ZSTD";
    case COMPRESSION_WEBP:
        return "WebP-in-TIFF";
    default:
        return "TIFF codec " + std::to_string(compression);
    }
}

} // namespace

void decodeTiff(FILE* file, const std::string& name, const PixelSink& sink,
                const ReadOptions& options, std::vector<std::string>* notes) {
    const uint64_t fileSize = sizeOf(file, name);
    TiffMessages messages;
    TiffStream stream;
    stream.file = file;
    TiffHandle tif = tiffOpen(stream, "r", messages);
    if (!tif) throw PictureError(name + ": not a readable TIFF picture (" + messages.error + ")");
    TIFF* t = tif.get();
    uint32_t w = 0, h = 0;
    uint16_t bits = 1, spp = 1, photometric = 0, compression = COMPRESSION_NONE;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &compression);
    if (!TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric))
        photometric = spp >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    checkSize(w, h, options, name);
    // libtiff holds a whole strip or tile of samples at a time: no more
    // than colour and alpha and one more channel.
    if (spp == 0 || spp > 6)
        throw PictureError(name + ": unsupported TIFF picture (" + std::to_string(spp) +
                           " samples per pixel)");
    // Every strip or tile must lie inside the file, and together they must
    // be able to hold the pixels that the header declares.
    const bool tiled = TIFFIsTiled(t) != 0;
    const uint32_t pieces = tiled ? TIFFNumberOfTiles(t) : TIFFNumberOfStrips(t);
    uint64_t *offsets = nullptr, *counts = nullptr;
    if (pieces == 0 ||
        !TIFFGetField(t, tiled ? TIFFTAG_TILEOFFSETS : TIFFTAG_STRIPOFFSETS, &offsets) ||
        !TIFFGetField(t, tiled ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS, &counts) ||
        !offsets || !counts)
        damaged(name, "it has no picture data");
    uint64_t stored = 0;
    for (uint32_t k = 0; k < pieces; ++k) {
        if (offsets[k] > fileSize || counts[k] > fileSize - offsets[k])
            damaged(name, std::string("a ") + (tiled ? "tile" : "strip") +
                              " runs past the end of the file");
        stored += counts[k];
    }
    const uint64_t raw = (uint64_t{w} * spp * bits + 7) / 8 * h;
    const uint64_t pixels = uint64_t{w} * h;
    const bool jpeg = compression == COMPRESSION_JPEG || compression == COMPRESSION_OJPEG;
    if (const auto most = tiffMostExpanded(compression, stored); most && *most < raw)
        damaged(name, "it declares " + dimensions(w, h) + " pixels but holds only " +
                          std::to_string(stored) + " bytes of picture data");
    else if (jpeg && pixels / 512 > stored) // one bit at least for every 8 x 8 block
        damaged(name, "it declares " + dimensions(w, h) + " pixels but holds only " +
                          std::to_string(stored) + " bytes of picture data");
    else if (!most && !jpeg)
        checkUnboundedRatio(pixels, stored, tiffCodecName(compression), options, name);
    // A strip list libtiff had to make up, or a layout field it ignored.
    if (!messages.error.empty()) damaged(name, messages.error);
    char why[1024] = "";
    TIFFRGBAImage img{};
    if (!TIFFRGBAImageOK(t, why) || !TIFFRGBAImageBegin(&img, t, 1, why))
        throw PictureError(name + ": unsupported TIFF picture (" + why + ")");
    struct End {
        TIFFRGBAImage* img;
        ~End() { TIFFRGBAImageEnd(img); }
    } end{&img};
    // Rows as stored, first row first: what the orientation tag says is done
    // with them, once, by whoever turns the picture upright (libtiff would
    // only flip, even where the tag asks for a quarter turn).
    img.req_orientation = img.orientation;
    if (notes) {
        if (photometric == PHOTOMETRIC_PALETTE) notes->push_back("palette picture expanded to RGB");
        if (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE)
            notes->push_back("grey picture converted to RGB");
        if (photometric == PHOTOMETRIC_SEPARATED) notes->push_back("CMYK picture converted to RGB");
        if (bits == 16) notes->push_back("16-bit channels reduced to 8 bits");
        if (img.alpha != 0) notes->push_back("transparency flattened onto white");
        const tdir_t pages = TIFFNumberOfDirectories(t);
        if (pages > 1) notes->push_back("first of " + std::to_string(pages) + " pages read");
    }
    // A damaged chain of later pages does not touch the first one.
    messages.error.clear();
    messages.decoding = true;
    // Rows come in bands through an RGBA scratch band, premultiplied: onto
    // white, each channel becomes c + 255 - alpha.  libtiff decodes a whole
    // strip for every band that touches it, so a band holds whole strips
    // where they are taller than 256 rows (a single-strip 24-megapixel file
    // is then decoded once, not sixteen times), as long as it stays within
    // 512 MB.
    uint32_t band = std::min<uint32_t>(h, 256);
    uint32_t stripRows = 0;
    if (!tiled && TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &stripRows) && stripRows > band &&
        uint64_t{w} * std::min(stripRows, h) * 4 <= (uint64_t{512} << 20))
        band = std::min(stripRows, h);
    std::unique_ptr<uint32_t[]> scratch(new uint32_t[size_t(w) * band]);
    uint8_t* out = sink(static_cast<int32_t>(w), static_cast<int32_t>(h));
    for (uint32_t y = 0; y < h; y += band) {
        const uint32_t rows = std::min(band, h - y);
        img.row_offset = static_cast<int>(y);
        img.col_offset = 0;
        if (!TIFFRGBAImageGet(&img, scratch.get(), w, rows) || !messages.error.empty())
            damaged(name,
                    messages.error.empty() ? "its picture data cannot be decoded" : messages.error);
        for (size_t i = 0; i < size_t(w) * rows; ++i) {
            const uint32_t p = scratch[i];
            const unsigned a = TIFFGetA(p);
            uint8_t* o = out + (size_t(y) * w + i) * 3;
            o[0] = static_cast<uint8_t>(std::min(255u, TIFFGetR(p) + 255 - a));
            o[1] = static_cast<uint8_t>(std::min(255u, TIFFGetG(p) + 255 - a));
            o[2] = static_cast<uint8_t>(std::min(255u, TIFFGetB(p) + 255 - a));
        }
    }
}

namespace {} // namespace

void writeTiff(FILE* file, const PixelsView& p, const WriteOptions& options) {
    TiffMessages messages;
    // Classic TIFF's offsets are 32-bit: pictures that might not fit below
    // 4 GiB, stored, are written as BigTIFF.
    const bool big = uint64_t(p.width) * uint64_t(p.height) * 3 > (uint64_t{15} << 28);
    TiffStream stream;
    stream.file = file;
    TiffHandle tif = tiffOpen(stream, big ? "w8" : "w", messages);
    if (!tif) throw PictureError("cannot write TIFF (" + messages.error + ")");
    TIFF* t = tif.get();
    const auto w = static_cast<uint32_t>(p.width), h = static_cast<uint32_t>(p.height);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t{8});
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t{3});
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t{PHOTOMETRIC_RGB});
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, uint16_t{PLANARCONFIG_CONTIG});
    TIFFSetField(t, TIFFTAG_ORIENTATION, uint16_t{ORIENTATION_TOPLEFT});
    if (!options.iccProfile.empty())
        TIFFSetField(t, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(options.iccProfile.size()),
                     options.iccProfile.data());
    const int compression = options.compression;
    if (compression == 0) {
        TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t{COMPRESSION_NONE});
    } else {
        TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t{COMPRESSION_ADOBE_DEFLATE});
        TIFFSetField(t, TIFFTAG_ZIPQUALITY, compression);
        TIFFSetField(t, TIFFTAG_PREDICTOR, uint16_t{PREDICTOR_HORIZONTAL});
    }
    // Strips of about 256 KB of pixels.
    const uint32_t stripRows = std::max<uint32_t>(1, uint32_t((256u << 10) / (size_t(w) * 3)));
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, std::min(stripRows, h));
    const size_t stride = size_t(w) * 3;
    std::vector<uint8_t> row(stride); // libtiff's predictor works on the row in place
    for (uint32_t y = 0; y < h; ++y) {
        std::memcpy(row.data(), p.rgb + y * stride, stride);
        if (TIFFWriteScanline(t, row.data(), y, 0) < 0)
            throw PictureError("cannot write TIFF (" + messages.error + ")");
    }
    if (!TIFFWriteDirectory(t) || !messages.error.empty())
        throw PictureError("cannot write TIFF (" + messages.error + ")");
    TIFFFlush(t);
}

namespace {} // namespace

} // namespace talvine::cli
