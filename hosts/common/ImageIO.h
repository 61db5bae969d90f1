// Picture files for the command-line host: PNG through libpng, JPEG through
// libjpeg(-turbo), TIFF through libtiff and WebP through libwebp, chosen by
// the file's extension or named outright.  "-" reads standard input (whose
// format may also be told by its first bytes) or writes standard output.  Every picture is
// 8-bit RGB in memory; other inputs are converted and the conversion is
// described in `notes` so that the tool can say so.
//
// Reading is safe on hostile files: the declared size is checked against a
// pixel limit and against what the file's bytes can possibly hold before any
// pixel memory is asked for, the decoders write into memory that nobody
// zeroes first, and a damaged or truncated file is an error, never a picture
// with invented parts.
#pragma once

#include "Picture.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace talvine::cli {

using hosts::Picture;

// Any failure to read or write a picture: one line for the user, starting
// with the file's name.
struct PictureError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

enum class Format { Png, Jpeg, Tiff, Webp };

// By extension (.png, .jpg, .jpeg, .tif, .tiff, .webp, any case); throws
// PictureError otherwise.
Format formatOf(const std::string& path);
// By name (png, jpeg, jpg, tiff, tif, webp, any case); nothing if unknown.
std::optional<Format> formatNamed(const std::string& name);
// By the first bytes of a picture file; nothing if none matches.
std::optional<Format> sniffFormat(const uint8_t* bytes, size_t size);

// The path that stands for standard input or output.
inline constexpr const char* kStdio = "-";

// The largest picture read by default: 2^30 pixels (3 GiB of RGB), half of
// what the plug-in's 32-bit pixel counts allow.
inline constexpr int64_t kDefaultMaxPixels = int64_t{1} << 30;
inline constexpr int64_t kMaxPixelsAllowed = INT32_MAX;

// Codecs whose expansion has a bound (PNG's and TIFF's deflate, LZW,
// PackBits, JPEG) are checked against it: a header that declares more pixels
// than the stored bytes can become is refused as damaged.  The others (TIFF's
// CCITT fax, JBIG, ZSTD, LZMA and WebP's codecs) can make gigabytes of a few
// bytes; such a file may declare up to kUnboundedPixelsFloor pixels whatever
// its size, and more only at kUnboundedPixelsPerByte pixels per byte of
// picture data at most.  Photographs stay far below that (a 24-megapixel
// WebP holds 1.5 MB at quality 10); a drawing or a fax page of more than 16
// megapixels that compresses better needs ReadOptions::trustDeclaredSize.
inline constexpr uint64_t kUnboundedPixelsFloor = uint64_t{16} << 20;
inline constexpr uint64_t kUnboundedPixelsPerByte = 16;

struct ReadOptions {
    int64_t maxPixels = kDefaultMaxPixels; // 1 .. kMaxPixelsAllowed
    // Takes the size a file declares even where its codec allows no check
    // (see kUnboundedPixelsPerByte); the pixel limit still holds.
    bool trustDeclaredSize = false;
    // For inputs whose extension (files) and first bytes tell no known
    // format.
    std::optional<Format> format;
};

// Where a decoder puts its pixels.  Called once, after the header has been
// checked, with the picture's size; returns width * height * 3 bytes that the
// decoder then fills row by row.  It may throw (std::bad_alloc).
using PixelSink = std::function<uint8_t*(int32_t width, int32_t height)>;

// Decodes an open file from its start; `name` names it in errors.
void decodePicture(std::FILE* file, Format format, const std::string& name, const PixelSink& sink,
                   const ReadOptions& options = {}, std::vector<std::string>* notes = nullptr);
// Opens `path` and decodes it by its extension, or its first bytes if the
// extension is unknown; "-" reads standard input to its end first, tells its
// format by its first bytes and decodes it from memory.  options.format
// serves where neither tells.  With `standardInput`, the bytes read from
// standard input are handed back there (for the metadata they carry).
void readPictureInto(const std::string& path, const PixelSink& sink, const ReadOptions& options,
                     std::vector<std::string>* notes = nullptr,
                     std::vector<uint8_t>* standardInput = nullptr);
Picture readPicture(const std::string& path, std::vector<std::string>* notes = nullptr,
                    const ReadOptions& options = {});

// PNG compression: 0 stores, 1 (the default, fastest) matches runs after
// adaptive filtering, 2 to 9 are zlib's levels, slower and smaller on
// drawings (on photographs 1 is about as small as 9).
inline constexpr int kDefaultCompression = 1;

struct WriteOptions {
    int jpegQuality = 92;                  // 1 .. 100, also lossy WebP's quality
    int compression = kDefaultCompression; // PNG's, and TIFF's deflate level (0: none)
    bool webpLossless = false;
    std::optional<Format> format; // instead of the extension; needed for standard output
    // The colour profile the pixels are in, written with them by each
    // format's own library (PNG's iCCP, JPEG's APP2, TIFF's tag, WebP's ICCP
    // chunk); without one, a PNG says sRGB.
    std::vector<uint8_t> iccProfile;
    std::vector<std::string>* notes = nullptr; // what was left out, if anything
};

// Pixels owned elsewhere: width * height * 3 bytes, row-major.
struct PixelsView {
    int32_t width = 0;
    int32_t height = 0;
    const uint8_t* rgb = nullptr;
};

// Writes the picture as writeFileSafely (SafeWrite.h) does: whole or not at
// all, never replacing a device or FIFO.  "-" writes standard output, in
// options.format.
void writePicture(const std::string& path, const PixelsView& picture, const WriteOptions& options);
// The file writePicture would write, in memory.
std::vector<uint8_t> encodePicture(const PixelsView& picture, Format format,
                                   const WriteOptions& options);
// Bytes already encoded, written as writePicture writes.
void writeEncoded(const std::string& path, const std::vector<uint8_t>& bytes);
void writePicture(const std::string& path, const Picture& picture, int jpegQuality = 92);

} // namespace talvine::cli
