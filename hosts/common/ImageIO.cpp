#include "ImageIO.h"

#include "Codecs.h"

#include "MetadataScan.h"
#include "SafeWrite.h"

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

namespace {

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
    static constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size >= 8 && std::memcmp(b, kPngSignature, 8) == 0) return Format::Png;
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
