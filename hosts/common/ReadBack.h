// The check a file passes before the tool writes it with its metadata: the
// metadata writers (exiv2, libwebp's muxer) rebuild a file's container, and a
// file they spoil must never be written with exit 0.
#pragma once

#include "ImageIO.h"
#include "Metadata.h"

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

// The file of `picture` in `format` with `metadata`, the orientation tag
// saying `orientation`: the profile written by the encoder (options'
// iccProfile is taken from `metadata`), the rest added by writeInto, and
// the whole checked with holdsSamePicture.  Metadata that cannot be written,
// or that would change the picture, is left out and told in `notes`: the
// plain encoding is returned then.
// `plain`, a file of a picture of width x height in `format`, with
// `metadata` added and checked as encodeWithMetadata does (the profile too
// when `withProfile`); `picture` is needed for TIFF only.
std::vector<uint8_t> addMetadata(const std::vector<uint8_t>& plain, Format format, int32_t width,
                                 int32_t height, const PixelsView& picture,
                                 const hosts::PhotoMetadata& metadata, int orientation,
                                 bool withProfile, std::vector<std::string>& notes);

std::vector<uint8_t> encodeWithMetadata(const PixelsView& picture, Format format,
                                        WriteOptions options, const hosts::PhotoMetadata& metadata,
                                        int orientation, std::vector<std::string>& notes);

// Decodes a whole file in memory with the format's own library, as the tool
// reads files (by default taking any size the file declares: a file the
// tool wrote); throws PictureError when it cannot.
std::vector<uint8_t> decodeBytes(const std::vector<uint8_t>& file, Format format, int32_t& width,
                                 int32_t& height, const ReadOptions* limits = nullptr);

} // namespace talvine::cli
