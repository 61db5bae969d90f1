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

// ---- PNG ----------------------------------------------------------------

[[noreturn]] void pngError(png_structp png, png_const_charp message) {
    auto* text = static_cast<std::string*>(png_get_error_ptr(png));
    *text = message;
    png_longjmp(png, 1);
}
void pngWarning(png_structp, png_const_charp) {}

Picture readPng(const std::string& path, std::vector<std::string>* notes) {
    File file = openForReading(path);
    std::string error;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, pngError, pngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        throw PictureError(path + ": out of memory");
    }
    Picture picture;
    std::vector<png_bytep> rows;
    std::vector<uint8_t> raw;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        throw PictureError(path + ": not a readable PNG picture (" + error + ")");
    }
    png_init_io(png, file.get());
    png_read_info(png, info);
    const png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    const int depth = png_get_bit_depth(png, info), type = png_get_color_type(png, info);
    const bool trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    if (notes) {
        if (type == PNG_COLOR_TYPE_PALETTE) notes->push_back("palette picture expanded to RGB");
        if (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA)
            notes->push_back("grey picture converted to RGB");
        if (depth == 16) notes->push_back("16-bit channels reduced to 8 bits");
        if ((type & PNG_COLOR_MASK_ALPHA) || trns)
            notes->push_back("transparency flattened onto white");
    }
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    if ((type & PNG_COLOR_MASK_ALPHA) || trns) {
        png_color_16 white{};
        white.red = white.green = white.blue = white.gray = 255;
        png_set_background(png, &white, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    checkSize(w, h, path);
    if (png_get_rowbytes(png, info) != size_t{w} * 3) {
        png_destroy_read_struct(&png, &info, nullptr);
        throw PictureError(path + ": unsupported PNG layout");
    }
    picture.width = static_cast<int32_t>(w);
    picture.height = static_cast<int32_t>(h);
    picture.rgb.resize(size_t{w} * h * 3);
    rows.resize(h);
    for (png_uint_32 y = 0; y < h; ++y)
        rows[y] = picture.rgb.data() + size_t{y} * w * 3;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return picture;
}

void writePng(FILE* file, const Picture& picture, std::string& error) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, pngError, pngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        throw PictureError("out of memory");
    }
    std::vector<png_bytep> rows(static_cast<size_t>(picture.height));
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw PictureError("cannot write PNG (" + error + ")");
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width),
                 static_cast<png_uint_32>(picture.height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 6);
    png_write_info(png, info);
    for (size_t y = 0; y < rows.size(); ++y)
        rows[y] = const_cast<png_bytep>(picture.rgb.data() + y * size_t(picture.width) * 3);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
}

// ---- JPEG ---------------------------------------------------------------

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

Picture readJpeg(const std::string& path, std::vector<std::string>* notes) {
    File file = openForReading(path);
    jpeg_decompress_struct cinfo{};
    JpegErrorManager errors{};
    cinfo.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = jpegError;
    Picture picture;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&cinfo);
        throw PictureError(path + ": not a readable JPEG picture (" + errors.message + ")");
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file.get());
    jpeg_read_header(&cinfo, TRUE);
    if (notes && cinfo.jpeg_color_space == JCS_GRAYSCALE)
        notes->push_back("grey picture converted to RGB");
    if (notes && (cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK))
        throw PictureError(path + ": CMYK JPEG pictures are not supported");
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    checkSize(cinfo.output_width, cinfo.output_height, path);
    picture.width = static_cast<int32_t>(cinfo.output_width);
    picture.height = static_cast<int32_t>(cinfo.output_height);
    picture.rgb.resize(size_t(picture.width) * size_t(picture.height) * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row =
            picture.rgb.data() + size_t(cinfo.output_scanline) * size_t(picture.width) * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return picture;
}

void writeJpeg(FILE* file, const Picture& picture, int quality) {
    jpeg_compress_struct cinfo{};
    JpegErrorManager errors{};
    cinfo.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = jpegError;
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&cinfo);
        throw PictureError(std::string("cannot write JPEG (") + errors.message + ")");
    }
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = static_cast<JDIMENSION>(picture.width);
    cinfo.image_height = static_cast<JDIMENSION>(picture.height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        auto* row = const_cast<JSAMPROW>(picture.rgb.data() +
                                         size_t(cinfo.next_scanline) * size_t(picture.width) * 3);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
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
        std::string error;
        if (format == Format::Png)
            writePng(file, picture, error);
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
