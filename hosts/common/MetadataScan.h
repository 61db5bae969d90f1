// Where a picture file keeps its metadata, found by walking its container
// (JPEG segments, PNG chunks, TIFF's first directory, WebP's RIFF chunks)
// without parsing any of it, so that oversized or damaged metadata is known
// and left out before a parser spends time or memory on it.
//
// The limits are those of real photos with room to spare: an ICC profile of
// at most 4 MB (printer profiles are rarely above 2 MB) in at most 255 JPEG
// segments (the count the segments' numbering allows), an XMP packet of at
// most 4 MB and 10,000 elements and attributes (an edited photo's history
// holds a few thousand; parsing grows with the square of their number), EXIF
// and IPTC blocks of at most 4 MB (a JPEG holds at most 64 KB of EXIF).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace talvine::hosts {

inline constexpr uint64_t kMaxIccBytes = uint64_t{4} << 20;
inline constexpr int kMaxIccSegments = 255;
inline constexpr uint64_t kMaxXmpBytes = uint64_t{4} << 20;
inline constexpr uint64_t kMaxXmpProperties = 10000;
inline constexpr uint64_t kMaxExifBytes = uint64_t{4} << 20;
inline constexpr uint64_t kMaxIptcBytes = uint64_t{4} << 20;

enum class Container { Unknown, Jpeg, Png, Tiff, Webp };
enum class MetadataKind { Exif, Xmp, Iptc, Icc };

// One place metadata is kept: a JPEG segment, a PNG or WebP chunk (its
// header included), or a TIFF directory entry (its 12 or 20 bytes).
struct MetadataBlock {
    MetadataKind kind;
    uint64_t offset = 0;
    uint64_t length = 0;
    uint64_t payload = 0; // the bytes of metadata it holds (a TIFF entry's value)
};

struct MetadataLayout {
    Container container = Container::Unknown;
    std::vector<MetadataBlock> blocks;
    // Blocks to leave out, with a note each saying why.
    std::vector<size_t> dropped;
    std::vector<std::string> notes;
    uint64_t end = 0; // JPEG: where the first scan starts; PNG: the IEND chunk's offset
    bool bigTiff = false;
    bool littleEndian = true; // TIFF
};

// Reads `size` bytes at `offset` into `out`; false when the file has fewer.
using ReadAt = std::function<bool(uint64_t offset, void* out, size_t size)>;

// Walks the container of a file of `fileSize` bytes and applies the limits:
// blocks over them, or damaged (a PNG profile whose compressed stream does
// not inflate), are listed in `dropped`.  With `exifOnly`, every block but
// the EXIF is dropped too, silently (the user asked for no metadata; the
// orientation is still read).  A container it cannot walk gives Unknown.
MetadataLayout scanMetadata(const ReadAt& read, uint64_t fileSize, bool exifOnly);

// A copy of the file's metadata without the dropped blocks, in the same
// container, for a parser to read: a JPEG's segments up to its first scan,
// a PNG's chunks but its pixel data, a WebP's chunks, a TIFF whole with the
// dropped entries emptied.  Empty when the container is Unknown.
std::vector<uint8_t> withoutDropped(const MetadataLayout& layout, const ReadAt& read,
                                    uint64_t fileSize);

// For a TIFF held in memory (mapped, say): empties the dropped entries in
// place, as withoutDropped does in its copy, turning each into a field of
// one byte with this private tag, which writers of metadata then drop.
inline constexpr uint16_t kEmptiedTiffTag = 0xFEFE;
void emptyDroppedEntries(const MetadataLayout& layout, uint8_t* tiff, size_t size);
void emptyDroppedEntries(const MetadataLayout& layout, uint8_t* tiff, size_t size);

// Elements and attributes in an XML text, counted without parsing it.
uint64_t countXmlProperties(const char* text, size_t size);

// Whether `icc` is a whole RGB ICC profile: at least its 128-byte header,
// the size it declares equal to its length, "acsp" where the header puts it,
// and an RGB data colour space (every picture written is RGB).  Otherwise
// `why` says what is wrong.
bool isUsableRgbProfile(const std::vector<uint8_t>& icc, std::string& why);

} // namespace talvine::hosts
