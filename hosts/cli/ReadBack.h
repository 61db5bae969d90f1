// The check a file passes before the tool writes it with its metadata: the
// metadata writers (exiv2, libwebp's muxer) rebuild a file's container, and a
// file they spoil must never be written with exit 0.
#pragma once

#include "ImageIO.h"

#include <cstdint>
#include <string>
#include <vector>

namespace talvine::cli {

// Whether `withMetadata`, the file `plain` (as the encoder wrote `picture`
// in `format`) with metadata added, still holds the same picture.  JPEG and
// PNG: the container walks cleanly (PNG: every chunk's CRC) and the coded
// picture (JPEG: everything from the first table on; PNG: the header and
// every IDAT) is byte for byte the encoder's.  TIFF: decoded by libtiff to
// exactly `picture`.  WebP: decoded by libwebp to exactly what `plain`
// decodes to.  Otherwise `why` says what differs.
bool holdsSamePicture(Format format, const std::vector<uint8_t>& plain,
                      const std::vector<uint8_t>& withMetadata, const PixelsView& picture,
                      std::string& why);

// Decodes a whole file in memory with the format's own library, as the tool
// reads files; throws PictureError when it cannot.
std::vector<uint8_t> decodeBytes(const std::vector<uint8_t>& file, Format format, int32_t& width,
                                 int32_t& height);

} // namespace talvine::cli
