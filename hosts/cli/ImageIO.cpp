#include "ImageIO.h"

#include <png.h>

#include <jpeglib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace talvine::cli {
namespace {

// Pictures must fit the plug-in's 32-bit pixel counts.
void checkSize(uint64_t w, uint64_t h, const std::string& path) {
    if (w == 0 || h == 0) throw PictureError(path + ": the picture is empty");
    if (w * h > INT32_MAX) throw PictureError(path + ": the picture is too large");
}

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using File = std::unique_ptr<FILE, FileCloser>;

File openForReading(const std::string& path) {
    File f(std::fopen(path.c_str(), "rb"));
    if (!f) throw PictureError(path + ": " + std::strerror(errno));
    return f;
}

// ---- PNG: libpng's simplified interface (no setjmp on our side) ---------

Picture readPng(const std::string& path, std::vector<std::string>* notes) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        throw PictureError(path + ": not a readable PNG picture (" + image.message + ")");
    const png_uint_32 format = image.format;
    if (notes) {
        if (format & PNG_FORMAT_FLAG_COLORMAP) notes->push_back("palette picture expanded to RGB");
        if (!(format & PNG_FORMAT_FLAG_COLOR)) notes->push_back("grey picture converted to RGB");
        if (format & PNG_FORMAT_FLAG_LINEAR) notes->push_back("16-bit channels reduced to 8 bits");
        if (format & PNG_FORMAT_FLAG_ALPHA) notes->push_back("transparency flattened onto white");
    }
    try {
        checkSize(image.width, image.height, path);
    } catch (...) {
        png_image_free(&image);
        throw;
    }
    Picture picture;
    picture.width = static_cast<int32_t>(image.width);
    picture.height = static_cast<int32_t>(image.height);
    picture.rgb.resize(size_t{image.width} * image.height * 3);
    image.format = PNG_FORMAT_RGB;
    const png_color white{255, 255, 255};
    if (!png_image_finish_read(&image, &white, picture.rgb.data(), 0, nullptr))
        throw PictureError(path + ": not a readable PNG picture (" + image.message + ")");
    return picture;
}

void writePng(FILE* file, const Picture& picture) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(picture.width);
    image.height = static_cast<png_uint_32>(picture.height);
    image.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_stdio(&image, file, 0, picture.rgb.data(), 0, nullptr))
        throw PictureError(std::string("cannot write PNG (") + image.message + ")");
}

// ---- JPEG: libjpeg reports errors by longjmp, so each step that may fail
// sits in a small function whose locals are all set before its setjmp. ----

struct JpegErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void jpegError(j_common_ptr cinfo) {
    auto* manager = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, manager->message);
    std::longjmp(manager->jump, 1);
}

struct JpegReader {
    jpeg_decompress_struct cinfo{};
    JpegErrorManager errors{};
    JpegReader() {
        cinfo.err = jpeg_std_error(&errors.base);
        errors.base.error_exit = jpegError;
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

bool jpegDecode(JpegReader& r, uint8_t* out, size_t stride) {
    if (setjmp(r.errors.jump)) return false;
    r.cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&r.cinfo);
    while (r.cinfo.output_scanline < r.cinfo.output_height) {
        JSAMPROW row = out + size_t(r.cinfo.output_scanline) * stride;
        jpeg_read_scanlines(&r.cinfo, &row, 1);
    }
    jpeg_finish_decompress(&r.cinfo);
    return true;
}

Picture readJpeg(const std::string& path, std::vector<std::string>* notes) {
    File file = openForReading(path);
    JpegReader reader;
    if (!jpegStart(reader, file.get()))
        throw PictureError(path + ": not a readable JPEG picture (" + reader.errors.message + ")");
    const J_COLOR_SPACE space = reader.cinfo.jpeg_color_space;
    if (space == JCS_CMYK || space == JCS_YCCK)
        throw PictureError(path + ": CMYK JPEG pictures are not supported");
    if (notes && space == JCS_GRAYSCALE) notes->push_back("grey picture converted to RGB");
    // Output size is the picture size: no scaling is asked of the decoder.
    checkSize(reader.cinfo.image_width, reader.cinfo.image_height, path);
    Picture picture;
    picture.width = static_cast<int32_t>(reader.cinfo.image_width);
    picture.height = static_cast<int32_t>(reader.cinfo.image_height);
    picture.rgb.resize(size_t(picture.width) * size_t(picture.height) * 3);
    if (!jpegDecode(reader, picture.rgb.data(), size_t(picture.width) * 3))
        throw PictureError(path + ": not a readable JPEG picture (" + reader.errors.message + ")");
    return picture;
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

bool jpegEncode(JpegWriter& w, FILE* file, const uint8_t* rgb, int width, int height, int quality) {
    if (setjmp(w.errors.jump)) return false;
    jpeg_create_compress(&w.cinfo);
    jpeg_stdio_dest(&w.cinfo, file);
    w.cinfo.image_width = static_cast<JDIMENSION>(width);
    w.cinfo.image_height = static_cast<JDIMENSION>(height);
    w.cinfo.input_components = 3;
    w.cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&w.cinfo);
    jpeg_set_quality(&w.cinfo, quality, TRUE);
    jpeg_start_compress(&w.cinfo, TRUE);
    while (w.cinfo.next_scanline < w.cinfo.image_height) {
        auto* row = const_cast<JSAMPROW>(rgb + size_t(w.cinfo.next_scanline) * size_t(width) * 3);
        jpeg_write_scanlines(&w.cinfo, &row, 1);
    }
    jpeg_finish_compress(&w.cinfo);
    return true;
}

void writeJpeg(FILE* file, const Picture& picture, int quality) {
    JpegWriter writer;
    if (!jpegEncode(writer, file, picture.rgb.data(), picture.width, picture.height, quality))
        throw PictureError(std::string("cannot write JPEG (") + writer.errors.message + ")");
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

} // namespace

Format formatOf(const std::string& path) {
    const auto dot = path.find_last_of('.');
    const std::string ext = dot == std::string::npos ? "" : lower(path.substr(dot));
    if (ext == ".png") return Format::Png;
    if (ext == ".jpg" || ext == ".jpeg") return Format::Jpeg;
    throw PictureError(path + ": unknown picture format (use .png, .jpg or .jpeg)");
}

Picture readPicture(const std::string& path, std::vector<std::string>* notes) {
    return formatOf(path) == Format::Png ? readPng(path, notes) : readJpeg(path, notes);
}

void writePicture(const std::string& path, const Picture& picture, int jpegQuality) {
    const Format format = formatOf(path);
    if (picture.width <= 0 || picture.height <= 0)
        throw PictureError(path + ": nothing to write, the picture is empty");
    if (jpegQuality < 1 || jpegQuality > 100)
        throw PictureError("JPEG quality must be between 1 and 100");
    std::string temp = path + ".tmp-XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) throw PictureError(path + ": cannot write (" + std::strerror(errno) + ")");
    // mkstemp makes the file private; give it the permissions of a new file.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    FILE* file = fdopen(fd, "wb");
    try {
        if (!file) {
            close(fd);
            throw PictureError(std::strerror(errno));
        }
        if (format == Format::Png)
            writePng(file, picture);
        else
            writeJpeg(file, picture, jpegQuality);
        const bool flushed = std::fflush(file) == 0 && fsync(fd) == 0;
        const bool closed = std::fclose(file) == 0;
        file = nullptr;
        if (!flushed || !closed) throw PictureError(std::strerror(errno));
        if (std::rename(temp.c_str(), path.c_str()) != 0) throw PictureError(std::strerror(errno));
    } catch (const PictureError& e) {
        if (file) std::fclose(file);
        std::remove(temp.c_str());
        const std::string what = e.what();
        throw PictureError(what.rfind(path, 0) == 0 ? what
                                                    : path + ": cannot write (" + what + ")");
    }
}

} // namespace talvine::cli
