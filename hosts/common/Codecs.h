// What the codecs of ImageIO share: the file handle, the size checks every
// decoder makes before it asks for pixel memory, and each codec's two entry
// points.  Internal to hosts/common.
#pragma once

#include "ImageIO.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace talvine::cli {

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using File = std::unique_ptr<FILE, FileCloser>;

File openForReading(const std::string& path);

// The number of bytes in `file`, whose position is left at its start.
uint64_t sizeOf(FILE* file, const std::string& name);

std::string dimensions(uint64_t w, uint64_t h);

// The checks every decoder makes on the declared size before it asks for
// pixel memory.
void checkSize(uint64_t w, uint64_t h, const ReadOptions& options, const std::string& name);

// For codecs whose expansion has no useful bound (CCITT fax, JBIG, ZSTD,
// LZMA, WebP): a few bytes can declare a picture of gigabytes.  Such a file
// may declare kUnboundedPixelsFloor pixels whatever its size, and beyond that
// at most kUnboundedPixelsPerByte pixels per byte of picture data, unless the
// user trusts it (--trust-size).
void checkUnboundedRatio(uint64_t pixels, uint64_t stored, const std::string& codec,
                         const ReadOptions& options, const std::string& name);

[[noreturn]] void damaged(const std::string& name, const std::string& what);

// Flattens one RGBA row onto white, in place-compatible order (out may be
// the start of in).
void flattenOntoWhite(const uint8_t* in, uint8_t* out, size_t width);

// The whole of `file` from its start.
std::vector<uint8_t> wholeFile(FILE* file, const std::string& name);

// Each codec: PngIO.cpp, JpegIO.cpp, TiffIO.cpp, WebpIO.cpp.
void decodePng(FILE* file, const std::string& name, const PixelSink& sink,
               const ReadOptions& options, std::vector<std::string>* notes);
void writePng(FILE* file, const PixelsView& picture, const WriteOptions& options);
void decodeJpeg(FILE* file, const std::string& name, const PixelSink& sink,
                const ReadOptions& options, std::vector<std::string>* notes);
void writeJpeg(FILE* file, const PixelsView& picture, const WriteOptions& options);
void decodeTiff(FILE* file, const std::string& name, const PixelSink& sink,
                const ReadOptions& options, std::vector<std::string>* notes);
void writeTiff(FILE* file, const PixelsView& picture, const WriteOptions& options);
void decodeWebp(FILE* file, const std::string& name, const PixelSink& sink,
                const ReadOptions& options, std::vector<std::string>* notes);
void writeWebp(FILE* file, const PixelsView& picture, const WriteOptions& options);

} // namespace talvine::cli
