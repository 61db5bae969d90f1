// Reproducer files for the tool's file handling, built in code: each function
// returns the bytes of one file that a careless reader would mishandle (by
// allocating what it declares, trusting made-up data, or copying metadata that
// no longer fits).  Every function throws std::invalid_argument for arguments
// it cannot honour and std::runtime_error when a library fails to write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace talvine::test::hostile {

using Bytes = std::vector<uint8_t>;

// 8-bit RGB pixels, row-major, three bytes a pixel.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

// A picture of at most 256 x 256 pixels in which every pixel has its own
// colour: red from the column, green from the row, blue from both.
Picture distinctPicture(int width, int height);

// The picture that a viewer shows for stored pixels `stored` under TIFF/EXIF
// orientation `orientation` (1 to 8; 6: the stored first row is the shown
// right column).  Throws std::invalid_argument for other values.
Picture uprightAsShown(const Picture& stored, int orientation);

// The left-right mirror of `p`.
Picture mirroredLeftRight(const Picture& p);

// A structurally valid RGB display ICC profile (version 2.1, matrix and
// curves, D50 white): its first four bytes give its length, "acsp" is at
// offset 36, and its tag table points inside it.  With `bytes` over the
// natural size (under 1 KB) a private data tag of zeros fills it to exactly
// `bytes`; a smaller non-zero `bytes` is refused.
Bytes iccProfile(size_t bytes = 0);

// Baseline 64 x 48 JPEG with EXIF Make/Model and an ordinary ICC profile in
// one APP2 segment: every reader must keep or drop all of it cleanly.
Bytes jpegWithSrgbProfile();

// The pixels tiffWithOrientation() stores (5 x 3, each pixel its own colour).
Picture orientationStoredPixels();

// Uncompressed 5 x 3 RGB TIFF with Orientation `orientation` (any 16-bit
// value; 1 to 8 are the valid ones): a careless reader ignores the tag, or
// lets libtiff flip rows and then turns the picture again itself.
Bytes tiffWithOrientation(int orientation);

// 8 x 8 PNG whose iCCP chunk (valid name, compression 0, correct CRC) holds a
// zlib stream that yields a whole profile and then an invalid block: a
// careless reader fails the whole file, or keeps the half-checked profile.
Bytes pngWithBrokenIccp();

// Bilevel CCITT Group 4 TIFF declaring side x side white pixels in a few KB:
// a careless reader allocates side * side pixels (RGBA: 4 bytes each).
Bytes tiffG4Bomb(uint32_t side);

// True when libtiff can write ZSTD; tiffZstdBomb() throws std::runtime_error
// otherwise.
bool zstdAvailable();

// 8-bit grey ZSTD TIFF of side x side zeros in one strip, a few KB: a careless
// reader allocates the strip and the picture before reading a byte of it.
Bytes tiffZstdBomb(uint32_t side);

// Lossless WebP (VP8L) of side x side pixels of one colour (1 to 16383),
// written bit by bit with one-symbol prefix codes so that every pixel costs
// no bits: about 30 bytes whatever the size.  A careless reader decodes
// side * side * 4 bytes.
Bytes webpLosslessBomb(int side);

// 8 x 8 PNG with an uncompressed iTXt "XML:com.adobe.xmp" chunk holding an
// XMP packet of `n` distinct simple properties in a namespace of its own: a
// careless reader parses and copies every one of them into its output.
Bytes pngWithXmpProperties(int n);

// 64 x 48 JPEG whose ICC profile is split over `segments` APP2 segments of
// `bytesPerSegment` profile bytes each (at most 65,519), the profile's header
// declaring their whole length.  Up to 255 segments they are numbered 1..n of
// n; past 255 the numbers start again at 1 and every segment says the count is
// 255, so the file holds several full sets, as a hostile file would: a
// careless reader joins them all into one huge profile.
Bytes jpegWithSplitIcc(int segments, size_t bytesPerSegment);

// 64 x 48 uncompressed RGB TIFF whose ICC profile tag (34675) holds a valid
// profile of `bytes` bytes: a careless reader copies all of it, perhaps
// several times.
Bytes tiffWithHugeIccTag(size_t bytes);

// 64 x 48 JPEG whose EXIF IFD0 holds Make, MinSampleValue (280) as ASCII and
// MaxSampleValue (281) as RATIONAL instead of SHORT: a careless writer passes
// them on to libtiff as if they were shorts.
Bytes jpegWithBadSampleValueTags();

// The 64 x 48 pixels tiffOneStripRowsPerStrip1() stores.
Picture oneStripPixels();

// Uncompressed 64 x 48 RGB TIFF, hand-built, with RowsPerStrip 1 but one
// StripOffsets and one StripByteCounts entry (covering the whole picture):
// libtiff has to make up the other 47 strips, and a careless reader takes
// whatever libtiff guessed.
Bytes tiffOneStripRowsPerStrip1();

// The 40 x 30 pixels tiffTiled16() stores.
Picture tiledPixels();

// Uncompressed 40 x 30 RGB TIFF in 16 x 16 tiles (partial tiles at the right
// and bottom): a careless reader reads it as strips, or gets the edges wrong.
Bytes tiffTiled16();

// 64 x 48 JPEG with EXIF, an ICC profile, and an XMP APP1 segment whose
// payload (namespace and packet) is exactly `segmentPayloadBytes` long (at
// most 65,533), made of many short properties written as compactly as XMP
// allows: a careless writer re-serialises it a little larger and overflows
// the segment.
Bytes jpegWithLargeXmp(size_t segmentPayloadBytes);

// 8 x 8 PNG whose iCCP chunk holds a valid profile of `bytes` bytes, mostly
// zeros, so that the file stays small: a careless reader inflates it whole
// and copies it into its output.
Bytes pngWithProfile(size_t bytes);

} // namespace talvine::test::hostile
