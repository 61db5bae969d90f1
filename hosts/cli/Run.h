// Steps that every picture subcommand shares.
#pragma once

#include "Cli.h"
#include "HostSession.h"
#include "ImageIO.h"
#include "PhotoFile.h"

#include <string>

namespace talvine::cli {

// The options every picture subcommand shares, checked before any work.
struct FileOptions {
    ReadOptions read;
    WriteOptions write;
    PhotoOptions photo;
    bool qualityGiven = false; // --quality; otherwise a JPEG keeps its input's
};
FileOptions fileOptions(Args& args);
inline constexpr const char* kFileHelp =
    "  --quality Q        JPEG or lossy WebP quality of the output, 1 to 100; by\n"
    "                     default a JPEG written from a JPEG keeps its quality (as\n"
    "                     its quantisation tables tell it), any other is 92\n"
    "  --compression N    PNG or TIFF compression of the output, 0 to 9: 0 stores, 1\n"
    "                     (default) is the fastest, 2 to 9 are zlib's levels, smaller\n"
    "                     on drawings\n"
    "  --lossless         WebP output without loss (--quality then does not apply)\n"
    "  --format F         png, jpeg, tiff or webp: the output's format instead of its\n"
    "                     extension (standard output, \"-\", takes the input's by\n"
    "                     default); for an input, used when its extension or first\n"
    "                     bytes tell none\n"
    "  --max-pixels N     refuse inputs of more pixels than N (default 1073741824,\n"
    "                     at most 2147483647)\n"
    "  --trust-size       read a file whose codec allows no size check (TIFF fax,\n"
    "                     JBIG, ZSTD or LZMA, WebP) even when it declares more than\n"
    "                     16 megapixels and more than 16 pixels per byte it holds\n"
    "  --quiet            say nothing but warnings and errors (notes name their file)\n"
    "  --strip            write none of the input's EXIF, XMP, IPTC and ICC profile\n"
    "  --no-auto-orient   leave the pixels as stored, not as the EXIF orientation\n"
    "                     shows them (the output then keeps the orientation tag)\n";

// Reads a picture file straight into the host's picture and tells on stderr
// how it was converted, if it was.
void loadInput(HostSession& host, const std::string& path, const FileOptions& options);

// Ends a subcommand: writes the host's picture if the command was applied;
// a command that did not end applied is an error and writes nothing.
int finish(const HostSession& host, const std::string& out, const FileOptions& options);

// Writes the host's picture as finish does, whether or not a command ran
// (upright on a picture already upright).
int writeResult(const HostSession& host, const std::string& out, const FileOptions& options);

} // namespace talvine::cli
