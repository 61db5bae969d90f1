#include "ImageIO.h"

#include "MetadataScan.h"
#include "SafeWrite.h"

#include <png.h>

#include <jpeglib.h>
// After jpeglib.h, whose configuration decides which messages exist.
#include <jerror.h>
#include <zlib.h>

#include <tiffio.h>
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

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using File = std::unique_ptr<FILE, FileCloser>;

File openForReading(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        throw PictureError(path + ": is a directory, not a picture file");
    File f(std::fopen(path.c_str(), "rb"));
    if (!f) throw PictureError(path + ": " + std::strerror(errno));
    return f;
}

// The number of bytes in `file`, whose position is left at its start.
uint64_t sizeOf(FILE* file, const std::string& name) {
    if (std::fseek(file, 0, SEEK_END) != 0) throw PictureError(name + ": cannot be read");
    const long size = std::ftell(file);
    if (size < 0 || std::fseek(file, 0, SEEK_SET) != 0)
        throw PictureError(name + ": cannot be read");
    return static_cast<uint64_t>(size);
}

std::string dimensions(uint64_t w, uint64_t h) {
    return std::to_string(w) + " x " + std::to_string(h);
}

// The checks every decoder makes on the declared size before it asks for
// pixel memory.
void checkSize(uint64_t w, uint64_t h, const ReadOptions& options, const std::string& name) {
    if (w == 0 || h == 0) throw PictureError(name + ": the picture is empty");
    if (w * h > static_cast<uint64_t>(options.maxPixels))
        throw PictureError(name + ": the picture is " + dimensions(w, h) + " pixels, more than " +
                           std::to_string(options.maxPixels) +
                           " (--max-pixels sets the limit, at most " +
                           std::to_string(kMaxPixelsAllowed) + ")");
}

// For codecs whose expansion has no useful bound (CCITT fax, JBIG, ZSTD,
// LZMA, WebP): a few bytes can declare a picture of gigabytes.  Such a file
// may declare kUnboundedPixelsFloor pixels whatever its size, and beyond that
// at most kUnboundedPixelsPerByte pixels per byte of picture data, unless the
// user trusts it (--trust-size).
void checkUnboundedRatio(uint64_t pixels, uint64_t stored, const std::string& codec,
                         const ReadOptions& options, const std::string& name) {
    if (options.trustDeclaredSize || pixels <= kUnboundedPixelsFloor ||
        pixels / kUnboundedPixelsPerByte <= stored)
        return;
    throw PictureError(name + ": it declares " + std::to_string(pixels) + " pixels in " +
                       std::to_string(stored) + " bytes of " + codec +
                       " data, more than a picture of that size holds without being built to "
                       "(--trust-size reads it all the same)");
}

[[noreturn]] void damaged(const std::string& name, const std::string& what) {
    throw PictureError(name + ": the file is damaged or truncated (" + what + ")");
}

// ---- PNG --------------------------------------------------------------------

uint32_t bigEndian32(const unsigned char* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

// Walks the chunk list without reading the chunks' data: every chunk must lie
// inside the file and the list must end with IEND.  Returns the number of
// bytes of compressed pixel data (the IDAT chunks), and leaves the file at
// its start.
uint64_t pngDataBytes(FILE* file, uint64_t fileSize, const std::string& name) {
    unsigned char head[8];
    if (std::fread(head, 1, 8, file) != 8 || png_sig_cmp(head, 0, 8) != 0)
        throw PictureError(name + ": not a PNG picture");
    uint64_t at = 8, idat = 0;
    for (;;) {
        if (std::fread(head, 1, 8, file) != 8) damaged(name, "it ends before its IEND chunk");
        const uint64_t length = bigEndian32(head);
        if (length > PNG_UINT_31_MAX) damaged(name, "a chunk has an impossible length");
        const std::string type(reinterpret_cast<const char*>(head + 4), 4);
        if (!std::all_of(type.begin(), type.end(), [](unsigned char c) { return std::isalpha(c); }))
            throw PictureError(name + ": not a readable PNG picture (a chunk has no valid type)");
        if (at + 12 + length > fileSize)
            damaged(name, "its " + type + " chunk runs past the end of the file");
        if (type == "IDAT") idat += length;
        if (type == "IEND") break;
        at += 12 + length;
        if (std::fseek(file, static_cast<long>(at), SEEK_SET) != 0)
            throw PictureError(name + ": cannot be read");
    }
    if (std::fseek(file, 0, SEEK_SET) != 0) throw PictureError(name + ": cannot be read");
    return idat;
}

struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    char message[256] = "";
    ~PngReader() { png_destroy_read_struct(&png, &info, nullptr); }
};

[[noreturn]] void pngError(png_structp png, png_const_charp message) {
    auto* reader = static_cast<PngReader*>(png_get_error_ptr(png));
    std::snprintf(reader->message, sizeof reader->message, "%s", message);
    png_longjmp(png, 1);
}
// Warnings are about ancillary chunks (colour profiles, text): the pixels do
// not depend on them.
void pngWarning(png_structp, png_const_charp) {}

struct PngHeader {
    png_uint_32 width = 0, height = 0;
    int depth = 0, colour = 0, interlace = 0;
    bool alpha = false; // rows come as RGBA, to be flattened onto white
    int passes = 1;
};

bool pngStart(PngReader& r, FILE* file, const ReadOptions& options, PngHeader& h) {
    if (setjmp(png_jmpbuf(r.png))) return false;
    // Each side may reach the pixel limit (a picture one pixel high), and no
    // ancillary chunk may ask for more than 16 MB, expanded.
    const auto side =
        static_cast<png_uint_32>(std::min<int64_t>(options.maxPixels, int64_t{PNG_UINT_31_MAX}));
    png_set_user_limits(r.png, side, side);
    png_set_chunk_malloc_max(r.png, 16u << 20);
    png_set_chunk_cache_max(r.png, 1000);
    png_init_io(r.png, file);
    png_read_info(r.png, r.info);
    png_get_IHDR(r.png, r.info, &h.width, &h.height, &h.depth, &h.colour, &h.interlace, nullptr,
                 nullptr);
    return true;
}

bool pngTransforms(PngReader& r, PngHeader& h) {
    if (setjmp(png_jmpbuf(r.png))) return false;
    const bool tRNS = png_get_valid(r.png, r.info, PNG_INFO_tRNS) != 0;
    h.alpha = (h.colour & PNG_COLOR_MASK_ALPHA) != 0 || tRNS;
    if (h.colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(r.png);
    if (h.colour == PNG_COLOR_TYPE_GRAY && h.depth < 8) png_set_expand_gray_1_2_4_to_8(r.png);
    if (tRNS) png_set_tRNS_to_alpha(r.png);
    if (h.depth == 16) png_set_scale_16(r.png);
    if (!(h.colour & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(r.png);
    h.passes = png_set_interlace_handling(r.png);
    png_read_update_info(r.png, r.info);
    if (png_get_rowbytes(r.png, r.info) != size_t{h.width} * (h.alpha ? 4 : 3))
        png_error(r.png, "unexpected row layout");
    return true;
}

// Flattens one RGBA row onto white, in place-compatible order (out may be
// the start of in).
void flattenOntoWhite(const uint8_t* in, uint8_t* out, size_t width) {
    for (size_t x = 0; x < width; ++x) {
        const unsigned a = in[4 * x + 3];
        for (size_t c = 0; c < 3; ++c)
            out[3 * x + c] =
                static_cast<uint8_t>((in[4 * x + c] * a + 255 * (255 - a) + 127) / 255);
    }
}

// Reads every row: RGB straight into `out`; RGBA into `scratch` (one row, or
// the whole picture when interlaced) and flattened into `out`.
bool pngRows(PngReader& r, const PngHeader& h, uint8_t* out, uint8_t* scratch) {
    if (setjmp(png_jmpbuf(r.png))) return false;
    const size_t width = h.width, stride = width * 3, alphaStride = width * 4;
    if (!h.alpha) {
        for (int pass = 0; pass < h.passes; ++pass)
            for (size_t y = 0; y < h.height; ++y)
                png_read_row(r.png, out + y * stride, nullptr);
    } else if (h.passes == 1) {
        for (size_t y = 0; y < h.height; ++y) {
            png_read_row(r.png, scratch, nullptr);
            flattenOntoWhite(scratch, out + y * stride, width);
        }
    } else {
        for (int pass = 0; pass < h.passes; ++pass)
            for (size_t y = 0; y < h.height; ++y)
                png_read_row(r.png, scratch + y * alphaStride, nullptr);
        for (size_t y = 0; y < h.height; ++y)
            flattenOntoWhite(scratch + y * alphaStride, out + y * stride, width);
    }
    png_read_end(r.png, nullptr);
    return true;
}

void decodePng(FILE* file, const std::string& name, const PixelSink& sink,
               const ReadOptions& options, std::vector<std::string>* notes) {
    const uint64_t fileSize = sizeOf(file, name);
    const uint64_t idat = pngDataBytes(file, fileSize, name);
    PngReader r;
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r, pngError, pngWarning);
    if (!r.png) throw std::bad_alloc();
    r.info = png_create_info_struct(r.png);
    if (!r.info) throw std::bad_alloc();
    PngHeader h;
    if (!pngStart(r, file, options, h))
        throw PictureError(name + ": not a readable PNG picture (" + r.message + ")");
    checkSize(h.width, h.height, options, name);
    // Deflate cannot expand its input more than 1032 times: a header that
    // declares more rows than the compressed data could hold lies.
    const int channels = png_get_channels(r.png, r.info);
    const uint64_t rowBytes = (uint64_t{h.width} * uint64_t(channels) * uint64_t(h.depth) + 7) / 8;
    const uint64_t filtered = uint64_t{h.height} * rowBytes;
    if (filtered / 1032 > idat + 64)
        damaged(name, "it declares " + dimensions(h.width, h.height) + " pixels but holds only " +
                          std::to_string(idat) + " bytes of compressed pixel data");
    if (notes) {
        if (h.colour == PNG_COLOR_TYPE_PALETTE) notes->push_back("palette picture expanded to RGB");
        if (!(h.colour & PNG_COLOR_MASK_COLOR)) notes->push_back("grey picture converted to RGB");
        if (h.depth == 16) notes->push_back("16-bit channels reduced to 8 bits");
    }
    if (!pngTransforms(r, h))
        throw PictureError(name + ": not a readable PNG picture (" + r.message + ")");
    if (notes && h.alpha) notes->push_back("transparency flattened onto white");
    std::unique_ptr<uint8_t[]> scratch;
    if (h.alpha)
        scratch.reset(new uint8_t[size_t{h.width} * 4 * (h.passes > 1 ? size_t{h.height} : 1)]);
    uint8_t* out = sink(static_cast<int32_t>(h.width), static_cast<int32_t>(h.height));
    if (!pngRows(r, h, out, scratch.get())) damaged(name, r.message);
}

struct PngWriter {
    png_structp png = nullptr;
    png_infop info = nullptr;
    char message[256] = "";
    ~PngWriter() { png_destroy_write_struct(&png, &info); }
};

[[noreturn]] void pngWriteError(png_structp png, png_const_charp message) {
    auto* writer = static_cast<PngWriter*>(png_get_error_ptr(png));
    std::snprintf(writer->message, sizeof writer->message, "%s", message);
    png_longjmp(png, 1);
}

bool pngEncode(PngWriter& w, FILE* file, const PixelsView& p, const WriteOptions& options) {
    if (setjmp(png_jmpbuf(w.png))) return false;
    const int compression = options.compression;
    png_init_io(w.png, file);
    png_set_IHDR(w.png, w.info, static_cast<png_uint_32>(p.width),
                 static_cast<png_uint_32>(p.height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // The input's profile says what the pixels mean; without one they are
    // sRGB, and the chunks sRGB, gAMA and cHRM say so.
    const std::vector<uint8_t>& icc = options.iccProfile;
    if (!icc.empty())
        png_set_iCCP(w.png, w.info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, icc.data(),
                     static_cast<png_uint_32>(icc.size()));
    if (icc.empty() || !png_get_valid(w.png, w.info, PNG_INFO_iCCP)) {
        if (!icc.empty() && options.notes)
            options.notes->push_back("libpng refused the colour profile; written as sRGB");
        png_set_sRGB_gAMA_and_cHRM(w.png, w.info, PNG_sRGB_INTENT_PERCEPTUAL);
    }
    // Measured on 6000 x 4000 photographs: run matching after libpng's
    // adaptive filters is 3.7 times as fast as zlib's level 6 and as small.
    if (compression == 0) {
        png_set_compression_level(w.png, 0);
        png_set_filter(w.png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    } else if (compression == 1) {
        png_set_compression_level(w.png, 1);
        png_set_compression_strategy(w.png, Z_RLE);
        png_set_filter(w.png, PNG_FILTER_TYPE_BASE, PNG_ALL_FILTERS);
    } else {
        png_set_compression_level(w.png, compression);
        png_set_filter(w.png, PNG_FILTER_TYPE_BASE, PNG_ALL_FILTERS);
    }
    png_set_compression_buffer_size(w.png, 1u << 18);
    png_write_info(w.png, w.info);
    const size_t stride = size_t(p.width) * 3;
    for (size_t y = 0; y < size_t(p.height); ++y)
        png_write_row(w.png, p.rgb + y * stride);
    png_write_end(w.png, w.info);
    return true;
}

void writePng(FILE* file, const PixelsView& picture, const WriteOptions& options) {
    PngWriter w;
    w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &w, pngWriteError, pngWarning);
    if (!w.png) throw std::bad_alloc();
    w.info = png_create_info_struct(w.png);
    if (!w.info) throw std::bad_alloc();
    // A profile libpng finds fault with is a warning, then left out.
    png_set_benign_errors(w.png, 1);
    if (!pngEncode(w, file, picture, options))
        throw PictureError(std::string("cannot write PNG (") + w.message + ")");
}

// ---- JPEG: libjpeg reports errors by longjmp, so each step that may fail
// sits in a small function whose locals are all set before its setjmp. ----

struct JpegErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    char note[JMSG_LENGTH_MAX]; // the first warning that loses nothing
};

[[noreturn]] void jpegError(j_common_ptr cinfo) {
    auto* manager = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, manager->message);
    std::longjmp(manager->jump, 1);
}

// libjpeg goes on after these warnings with made-up data (grey rows, lost
// blocks): they are errors.  Others (an odd colour profile, stray bytes
// between segments) lose nothing and become a note.
bool losesData(int code) {
    switch (code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
    case JWRN_BOGUS_PROGRESSION:
        return true;
    default:
        return false;
    }
}

void jpegMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return; // trace output
    auto* manager = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    if (losesData(cinfo->err->msg_code)) jpegError(cinfo);
    if (manager->note[0] == '\0') (*cinfo->err->format_message)(cinfo, manager->note);
}

struct JpegReader {
    jpeg_decompress_struct cinfo{};
    JpegErrorManager errors{};
    JpegReader() {
        cinfo.err = jpeg_std_error(&errors.base);
        errors.base.error_exit = jpegError;
        errors.base.emit_message = jpegMessage;
    }
    ~JpegReader() { jpeg_destroy_decompress(&cinfo); }
};

bool jpegStart(JpegReader& r, FILE* file) {
    if (setjmp(r.errors.jump)) return false;
    jpeg_create_decompress(&r.cinfo);
    jpeg_stdio_src(&r.cinfo, file);
    jpeg_read_header(&r.cinfo, TRUE);
    return true;
}

// Arithmetic-coded data that runs into a marker is padded with zeros by
// libjpeg, without a warning: a scan that meets any marker but a restart
// more than two rows of blocks before its end was cut short.
bool endedEarly(JpegReader& r) {
    const jpeg_decompress_struct& c = r.cinfo;
    const int marker = c.unread_marker;
    if (!c.arith_code || marker == 0 || (marker >= 0xD0 && marker <= 0xD7) ||
        c.input_iMCU_row + 2 >= c.total_iMCU_rows)
        return false;
    std::snprintf(r.errors.message, sizeof r.errors.message,
                  "its compressed data ends before the last rows of the picture");
    return true;
}

bool jpegDecode(JpegReader& r, uint8_t* out, size_t stride) {
    if (setjmp(r.errors.jump)) return false;
    jpeg_decompress_struct& c = r.cinfo;
    c.out_color_space = JCS_RGB;
    // A multi-scan arithmetic-coded file is taken in scan by scan (libjpeg's
    // buffered-image mode), so that each row of blocks can be checked.
    const bool buffered = c.arith_code && jpeg_has_multiple_scans(&c);
    c.buffered_image = buffered ? TRUE : FALSE;
    jpeg_start_decompress(&c);
    if (buffered) {
        for (int status = 0; status != JPEG_REACHED_EOI;) {
            status = jpeg_consume_input(&c);
            if (status == JPEG_SUSPENDED || endedEarly(r)) return false;
        }
        jpeg_start_output(&c, c.input_scan_number);
    }
    JSAMPROW rows[16];
    while (c.output_scanline < c.output_height) {
        const JDIMENSION count = std::min<JDIMENSION>(c.output_height - c.output_scanline, 16);
        for (JDIMENSION k = 0; k < count; ++k)
            rows[k] = out + size_t(c.output_scanline + k) * stride;
        jpeg_read_scanlines(&c, rows, count);
        if (!buffered && endedEarly(r)) return false;
    }
    if (buffered) jpeg_finish_output(&c);
    jpeg_finish_decompress(&c);
    return true;
}

// Whether an end-of-image marker (FF D9) follows `from`: entropy-coded data
// never holds one, so a file without it after its first scan's header was
// cut short.  The file's position is kept.
bool endMarkerAfter(FILE* file, long from) {
    const long keep = std::ftell(file);
    if (keep < 0 || std::fseek(file, from, SEEK_SET) != 0) return true;
    bool found = false;
    int previous = 0;
    unsigned char buffer[65536];
    size_t n = 0;
    while (!found && (n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        for (size_t i = 0; i < n && !found; ++i) {
            found = previous == 0xFF && buffer[i] == 0xD9;
            previous = buffer[i];
        }
    std::fseek(file, keep, SEEK_SET);
    return found;
}

void decodeJpeg(FILE* file, const std::string& name, const PixelSink& sink,
                const ReadOptions& options, std::vector<std::string>* notes) {
    const uint64_t fileSize = sizeOf(file, name);
    JpegReader reader;
    if (!jpegStart(reader, file))
        throw PictureError(name + ": not a readable JPEG picture (" + reader.errors.message + ")");
    const J_COLOR_SPACE space = reader.cinfo.jpeg_color_space;
    if (space == JCS_CMYK || space == JCS_YCCK)
        throw PictureError(name + ": CMYK JPEG pictures are not supported");
    // Output size is the picture size: no scaling is asked of the decoder.
    const uint64_t w = reader.cinfo.image_width, h = reader.cinfo.image_height;
    checkSize(w, h, options, name);
    // Huffman coding spends at least one bit on every 8 x 8 block of the
    // first component; a header declaring more blocks than that lies.
    const uint64_t blocks = ((w + 7) / 8) * ((h + 7) / 8);
    if (!reader.cinfo.arith_code && blocks / 8 > fileSize)
        damaged(name, "it declares " + dimensions(w, h) + " pixels in only " +
                          std::to_string(fileSize) + " bytes");
    // The stdio source has read ahead; the first scan starts where its
    // buffer's unread bytes begin.
    const long scan = std::ftell(file) - static_cast<long>(reader.cinfo.src->bytes_in_buffer);
    if (!endMarkerAfter(file, scan)) damaged(name, "it ends before the end of its picture data");
    if (notes && space == JCS_GRAYSCALE) notes->push_back("grey picture converted to RGB");
    uint8_t* out = sink(static_cast<int32_t>(w), static_cast<int32_t>(h));
    if (!jpegDecode(reader, out, size_t(w) * 3)) damaged(name, reader.errors.message);
    if (notes && reader.errors.note[0] != '\0') notes->push_back(reader.errors.note);
}

struct JpegWriter {
    jpeg_compress_struct cinfo{};
    JpegErrorManager errors{};
    JpegWriter() {
        cinfo.err = jpeg_std_error(&errors.base);
        errors.base.error_exit = jpegError;
    }
    ~JpegWriter() { jpeg_destroy_compress(&cinfo); }
};

bool jpegEncode(JpegWriter& w, FILE* file, const PixelsView& p, int quality,
                const std::vector<uint8_t>& icc) {
    if (setjmp(w.errors.jump)) return false;
    jpeg_create_compress(&w.cinfo);
    jpeg_stdio_dest(&w.cinfo, file);
    w.cinfo.image_width = static_cast<JDIMENSION>(p.width);
    w.cinfo.image_height = static_cast<JDIMENSION>(p.height);
    w.cinfo.input_components = 3;
    w.cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&w.cinfo);
    jpeg_set_quality(&w.cinfo, quality, TRUE);
    jpeg_start_compress(&w.cinfo, TRUE);
    if (!icc.empty())
        jpeg_write_icc_profile(&w.cinfo, icc.data(), static_cast<unsigned>(icc.size()));
    const size_t stride = size_t(p.width) * 3;
    JSAMPROW rows[16];
    while (w.cinfo.next_scanline < w.cinfo.image_height) {
        const JDIMENSION count =
            std::min<JDIMENSION>(w.cinfo.image_height - w.cinfo.next_scanline, 16);
        for (JDIMENSION k = 0; k < count; ++k)
            rows[k] = const_cast<JSAMPROW>(p.rgb + size_t(w.cinfo.next_scanline + k) * stride);
        jpeg_write_scanlines(&w.cinfo, rows, count);
    }
    jpeg_finish_compress(&w.cinfo);
    return true;
}

void writeJpeg(FILE* file, const PixelsView& picture, const WriteOptions& options) {
    JpegWriter writer;
    if (!jpegEncode(writer, file, picture, options.jpegQuality, options.iccProfile))
        throw PictureError(std::string("cannot write JPEG (") + writer.errors.message + ")");
}

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

// ---- WebP: libwebp works on whole buffers. ----

std::vector<uint8_t> wholeFile(FILE* file, const std::string& name) {
    const uint64_t size = sizeOf(file, name);
    std::vector<uint8_t> bytes(size);
    if (size && std::fread(bytes.data(), 1, size, file) != size)
        throw PictureError(name + ": cannot be read");
    return bytes;
}

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

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// Standard input, read to its end.
// No picture within the pixel limit takes more than `limit` bytes (16-bit
// samples, up to six a pixel, stored, and room for metadata).
std::vector<uint8_t> readStdin(uint64_t limit) {
    std::vector<uint8_t> bytes;
    uint8_t buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            throw PictureError(std::string("standard input: ") + std::strerror(errno));
        }
        bytes.insert(bytes.end(), buffer, buffer + n);
        if (bytes.size() > limit)
            throw PictureError("standard input: more than " + std::to_string(limit) +
                               " bytes, more than any picture within the pixel limit holds");
    }
    return bytes;
}

void encode(FILE* file, Format format, const PixelsView& picture, const WriteOptions& options) {
    switch (format) {
    case Format::Png:
        writePng(file, picture, options);
        break;
    case Format::Jpeg:
        writeJpeg(file, picture, options);
        break;
    case Format::Tiff:
        writeTiff(file, picture, options);
        break;
    case Format::Webp:
        writeWebp(file, picture, options);
        break;
    }
}

void checkWritable(const std::string& name, const PixelsView& picture,
                   const WriteOptions& options) {
    if (picture.width <= 0 || picture.height <= 0 || !picture.rgb)
        throw PictureError(name + ": nothing to write, the picture is empty");
    if (options.jpegQuality < 1 || options.jpegQuality > 100)
        throw PictureError("JPEG quality must be between 1 and 100");
    if (options.compression < 0 || options.compression > 9)
        throw PictureError("PNG compression must be between 0 and 9");
}

// Bytes to standard output.  With SIGPIPE ignored, a reader that stops early
// makes this an error (EPIPE), not a silent death.
void writeStdout(const uint8_t* bytes, size_t size) {
    if ((size && std::fwrite(bytes, 1, size, stdout) != size) || std::fflush(stdout) != 0)
        throw PictureError(std::string("standard output: cannot write (") + std::strerror(errno) +
                           ")");
}

} // namespace

Format formatOf(const std::string& path) {
    const auto dot = path.find_last_of('.');
    const std::string ext = dot == std::string::npos ? "" : lower(path.substr(dot));
    if (ext == ".png") return Format::Png;
    if (ext == ".jpg" || ext == ".jpeg") return Format::Jpeg;
    if (ext == ".tif" || ext == ".tiff") return Format::Tiff;
    if (ext == ".webp") return Format::Webp;
    throw PictureError(path +
                       ": unknown picture format (use .png, .jpg, .jpeg, .tif, .tiff or .webp, "
                       "or --format)");
}

std::optional<Format> formatNamed(const std::string& name) {
    const std::string n = lower(name);
    if (n == "png") return Format::Png;
    if (n == "jpeg" || n == "jpg") return Format::Jpeg;
    if (n == "tiff" || n == "tif") return Format::Tiff;
    if (n == "webp") return Format::Webp;
    return std::nullopt;
}

std::optional<Format> sniffFormat(const uint8_t* b, size_t size) {
    if (size >= 8 && png_sig_cmp(b, 0, 8) == 0) return Format::Png;
    if (size >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return Format::Jpeg;
    // Classic TIFF, then BigTIFF.
    if (size >= 4 && (std::memcmp(b, "II*\0", 4) == 0 || std::memcmp(b, "MM\0*", 4) == 0 ||
                      std::memcmp(b, "II+\0", 4) == 0 || std::memcmp(b, "MM\0+", 4) == 0))
        return Format::Tiff;
    if (size >= 12 && std::memcmp(b, "RIFF", 4) == 0 && std::memcmp(b + 8, "WEBP", 4) == 0)
        return Format::Webp;
    return std::nullopt;
}

void decodePicture(std::FILE* file, Format format, const std::string& name, const PixelSink& sink,
                   const ReadOptions& options, std::vector<std::string>* notes) {
    switch (format) {
    case Format::Png:
        decodePng(file, name, sink, options, notes);
        break;
    case Format::Jpeg:
        decodeJpeg(file, name, sink, options, notes);
        break;
    case Format::Tiff:
        decodeTiff(file, name, sink, options, notes);
        break;
    case Format::Webp:
        decodeWebp(file, name, sink, options, notes);
        break;
    }
}

void readPictureInto(const std::string& path, const PixelSink& sink, const ReadOptions& options,
                     std::vector<std::string>* notes, std::vector<uint8_t>* standardInput) {
    if (path == kStdio) {
        const std::string name = "standard input";
        std::vector<uint8_t> bytes =
            readStdin(uint64_t(options.maxPixels) * 12 + (uint64_t{16} << 20));
        if (bytes.empty()) throw PictureError(name + ": no picture, the input is empty");
        auto format = sniffFormat(bytes.data(), bytes.size());
        if (!format) format = options.format;
        if (!format)
            throw PictureError(name + ": unknown picture format (--format png|jpeg|tiff|webp)");
        File file(fmemopen(bytes.data(), bytes.size(), "rb"));
        if (!file) throw PictureError(name + ": " + std::strerror(errno));
        decodePicture(file.get(), *format, name, sink, options, notes);
        file.reset();
        if (standardInput) *standardInput = std::move(bytes);
        return;
    }
    // The extension decides; for an unknown one, the first bytes or
    // options.format.
    File file = openForReading(path);
    Format format = Format::Png;
    try {
        format = formatOf(path);
    } catch (const PictureError&) {
        uint8_t head[12];
        const size_t n = std::fread(head, 1, sizeof head, file.get());
        std::rewind(file.get());
        const auto sniffed = sniffFormat(head, n);
        if (!sniffed && !options.format) throw;
        format = sniffed ? *sniffed : *options.format;
    }
    decodePicture(file.get(), format, path, sink, options, notes);
}

Picture readPicture(const std::string& path, std::vector<std::string>* notes,
                    const ReadOptions& options) {
    Picture picture;
    readPictureInto(
        path,
        [&picture](int32_t w, int32_t h) {
            picture.width = w;
            picture.height = h;
            picture.rgb.resize(size_t(w) * size_t(h) * 3);
            return picture.rgb.data();
        },
        options, notes);
    return picture;
}

std::vector<uint8_t> encodePicture(const PixelsView& picture, Format format,
                                   const WriteOptions& options) {
    checkWritable("the picture", picture, options);
    std::vector<uint8_t> bytes;
    if (format == Format::Tiff) {
        // libtiff goes back to fill in offsets: an unnamed scratch file, gone
        // with the process whatever happens to it.
        File scratch(std::tmpfile());
        if (!scratch)
            throw PictureError(std::string("cannot write TIFF (") + std::strerror(errno) + ")");
        encode(scratch.get(), format, picture, options);
        if (std::fflush(scratch.get()) != 0)
            throw PictureError(std::string("cannot write TIFF (") + std::strerror(errno) + ")");
        bytes = wholeFile(scratch.get(), "the scratch file");
        return bytes;
    }
    char* buffer = nullptr;
    size_t size = 0;
    FILE* memory = open_memstream(&buffer, &size);
    if (!memory) throw std::bad_alloc();
    try {
        encode(memory, format, picture, options);
    } catch (...) {
        std::fclose(memory);
        std::free(buffer);
        throw;
    }
    const bool ok = std::fclose(memory) == 0;
    if (ok) bytes.assign(buffer, buffer + size);
    std::free(buffer);
    if (!ok) throw std::bad_alloc();
    return bytes;
}

void writeEncoded(const std::string& path, const std::vector<uint8_t>& bytes) {
    if (path == kStdio) return writeStdout(bytes.data(), bytes.size());
    writeFileSafely(path, [&](FILE* file) {
        if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size())
            throw PictureError(std::strerror(errno));
    });
}

void writePicture(const std::string& path, const PixelsView& picture, const WriteOptions& options) {
    if (path == kStdio) {
        if (!options.format)
            throw PictureError("standard output: --format is needed to write a picture there");
        try {
            const std::vector<uint8_t> bytes = encodePicture(picture, *options.format, options);
            return writeStdout(bytes.data(), bytes.size());
        } catch (const PictureError& e) {
            const std::string what = e.what();
            if (what.rfind("standard output", 0) == 0) throw;
            throw PictureError("standard output: cannot write (" + what + ")");
        }
    }
    const Format format = options.format ? *options.format : formatOf(path);
    checkWritable(path, picture, options);
    writeFileSafely(path, [&](FILE* file) { encode(file, format, picture, options); });
}

void writePicture(const std::string& path, const Picture& picture, int jpegQuality) {
    if (picture.rgb.size() <
        size_t(std::max(picture.width, 0)) * size_t(std::max(picture.height, 0)) * 3)
        throw PictureError(path + ": the picture holds fewer pixels than its size");
    WriteOptions options;
    options.jpegQuality = jpegQuality;
    writePicture(path, PixelsView{picture.width, picture.height, picture.rgb.data()}, options);
}

} // namespace talvine::cli
