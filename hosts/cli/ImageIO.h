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

#include <sys/types.h>

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

struct ReadOptions {
    int64_t maxPixels = kDefaultMaxPixels; // 1 .. kMaxPixelsAllowed
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
};

// Pixels owned elsewhere: width * height * 3 bytes, row-major.
struct PixelsView {
    int32_t width = 0;
    int32_t height = 0;
    const uint8_t* rgb = nullptr;
};

// The permissions for a file written over `path`: those of the regular file
// there, or those of a new file (0666 less the umask).
mode_t replacementMode(const std::string& path);

// Writes to a temporary file beside `path` and renames it into place, so that
// a failed write never leaves a half-written output; a file written over
// keeps its permissions.  "-" writes standard
// output directly, in options.format.
void writePicture(const std::string& path, const PixelsView& picture, const WriteOptions& options);
void writePicture(const std::string& path, const Picture& picture, int jpegQuality = 92);

} // namespace talvine::cli
