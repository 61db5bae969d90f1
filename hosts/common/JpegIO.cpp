// JPEG through libjpeg: reading, with the data-loss warnings as errors, and
// writing at a quality with the profile in APP2 segments.
#include "Codecs.h"
#include "MetadataScan.h"

#include <jpeglib.h>
// After jpeglib.h, whose configuration decides which messages exist.
#include <jerror.h>

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

} // namespace

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

namespace {

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

} // namespace

void writeJpeg(FILE* file, const PixelsView& picture, const WriteOptions& options) {
    JpegWriter writer;
    if (!jpegEncode(writer, file, picture, options.jpegQuality, options.iccProfile))
        throw PictureError(std::string("cannot write JPEG (") + writer.errors.message + ")");
}

namespace {} // namespace

} // namespace talvine::cli
