#include "ReadBack.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace talvine::cli {
namespace {

uint32_t be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// Where a JPEG's first segment that is neither an application segment nor a
// comment starts, the segments before it walked; 0 when they do not walk.
size_t jpegCodedStart(const std::vector<uint8_t>& f) {
    if (f.size() < 4 || f[0] != 0xFF || f[1] != 0xD8) return 0;
    size_t at = 2;
    while (at + 4 <= f.size()) {
        if (f[at] != 0xFF) return 0;
        const uint8_t marker = f[at + 1];
        const bool metadata = (marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE;
        if (!metadata) return at;
        const size_t length = size_t{f[at + 2]} << 8 | f[at + 3];
        if (length < 2 || at + 2 + length > f.size()) return 0;
        at += 2 + length;
    }
    return 0;
}

// A PNG's header and pixel data chunks, each checked against its CRC, with
// every other chunk's CRC checked too; empty when the file does not walk.
std::string pngCoded(const std::vector<uint8_t>& f) {
    static constexpr uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (f.size() < 8 || std::memcmp(f.data(), kSignature, 8) != 0) return {};
    std::string coded;
    for (size_t at = 8; at + 12 <= f.size();) {
        const size_t length = be32(f.data() + at);
        if (length > f.size() - at - 12) return {};
        const uint8_t* type = f.data() + at + 4;
        const uLong crc = crc32(0, type, static_cast<uInt>(length + 4));
        if (crc != be32(type + 4 + length)) return {};
        // Every chunk's name is four letters, and a profile's has a keyword.
        for (int k = 0; k < 4; ++k)
            if (!std::isalpha(type[k])) return {};
        if (std::memcmp(type, "iCCP", 4) == 0 && (length == 0 || type[4] == 0)) return {};
        if (std::memcmp(type, "IHDR", 4) == 0 || std::memcmp(type, "IDAT", 4) == 0)
            coded.append(reinterpret_cast<const char*>(type), length + 4);
        if (std::memcmp(type, "IEND", 4) == 0) return coded;
        at += 12 + length;
    }
    return {};
}

} // namespace

std::vector<uint8_t> decodeBytes(const std::vector<uint8_t>& file, Format format, int32_t& width,
                                 int32_t& height, const ReadOptions* limits) {
    std::vector<uint8_t> pixels;
    width = height = 0;
    if (file.empty()) throw PictureError("the file is empty");
    std::unique_ptr<FILE, int (*)(FILE*)> in(
        fmemopen(const_cast<uint8_t*>(file.data()), file.size(), "rb"), std::fclose);
    if (!in) throw PictureError("the file cannot be opened in memory");
    ReadOptions options;
    options.maxPixels = kMaxPixelsAllowed;
    options.trustDeclaredSize = true; // our own file: its size is the picture's
    if (limits) options = *limits;
    decodePicture(
        in.get(), format, "the written file",
        [&](int32_t w, int32_t h) {
            width = w;
            height = h;
            pixels.resize(size_t(w) * size_t(h) * 3);
            return pixels.data();
        },
        options);
    return pixels;
}

bool holdsSamePicture(Format format, const std::vector<uint8_t>& plain,
                      const std::vector<uint8_t>& withMetadata, const PixelsView& picture,
                      std::string& why) {
    try {
        switch (format) {
        case Format::Jpeg: {
            const size_t a = jpegCodedStart(plain), b = jpegCodedStart(withMetadata);
            if (a == 0 || b == 0) {
                why = "its segments do not follow one another";
                return false;
            }
            if (plain.size() - a != withMetadata.size() - b ||
                std::memcmp(plain.data() + a, withMetadata.data() + b, plain.size() - a) != 0) {
                why = "its coded picture changed";
                return false;
            }
            return true;
        }
        case Format::Png: {
            const std::string a = pngCoded(plain), b = pngCoded(withMetadata);
            if (b.empty()) {
                why = "a chunk is damaged";
                return false;
            }
            if (a != b) {
                why = "its coded picture changed";
                return false;
            }
            return true;
        }
        case Format::Tiff:
        case Format::Webp: {
            int32_t w = 0, h = 0;
            const std::vector<uint8_t> got = decodeBytes(withMetadata, format, w, h);
            std::vector<uint8_t> expected;
            if (format == Format::Tiff) {
                expected.assign(picture.rgb,
                                picture.rgb + size_t(picture.width) * size_t(picture.height) * 3);
            } else {
                int32_t pw = 0, ph = 0;
                expected = decodeBytes(plain, format, pw, ph);
            }
            if (w != picture.width || h != picture.height || got != expected) {
                why = "it decodes to other pixels";
                return false;
            }
            return true;
        }
        }
    } catch (const PictureError& e) {
        why = e.what();
    }
    return false;
}

std::vector<uint8_t> addMetadata(const std::vector<uint8_t>& plain, Format format, int32_t width,
                                 int32_t height, const PixelsView& picture,
                                 const hosts::PhotoMetadata& metadata, int orientation,
                                 bool withProfile, std::vector<std::string>& notes) {
    if (!metadata.hasExif() && !metadata.hasXmp() && !metadata.hasIptc() &&
        !(withProfile && metadata.hasIcc()))
        return plain;
    try {
        std::vector<uint8_t> bytes =
            metadata.writeInto(plain, width, height, orientation, withProfile, &notes);
        std::string why;
        if (holdsSamePicture(format, plain, bytes, picture, why)) return bytes;
        notes.push_back("the file with the input's metadata did not read back (" + why +
                        "); written without it");
    } catch (const hosts::MetadataError& e) {
        notes.push_back(std::string("the input's metadata cannot be written in this format (") +
                        e.what() + "); written without it");
    }
    return plain;
}

std::vector<uint8_t> encodeWithMetadata(const PixelsView& picture, Format format,
                                        WriteOptions options, const hosts::PhotoMetadata& metadata,
                                        int orientation, std::vector<std::string>& notes) {
    options.notes = &notes;
    options.iccProfile = metadata.icc();
    const std::vector<uint8_t> plain = encodePicture(picture, format, options);
    return addMetadata(plain, format, picture.width, picture.height, picture, metadata, orientation,
                       false, notes);
}

} // namespace talvine::cli
