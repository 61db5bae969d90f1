#include "MetadataScan.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

namespace talvine::hosts {
namespace {

uint32_t be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
uint32_t le32(const uint8_t* p) {
    return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

std::string bytesText(uint64_t n) {
    return std::to_string(n) + " bytes";
}

// Reads `size` bytes at `offset`, or nothing when the file has fewer.
std::vector<uint8_t> readBytes(const ReadAt& read, uint64_t offset, uint64_t size) {
    std::vector<uint8_t> out(size);
    if (size && !read(offset, out.data(), size)) out.clear();
    return out;
}

// Inflates a zlib stream, stopping once it has made more than `cap` bytes.
// Nothing when the stream is damaged; `over` when it makes more than `cap`.
std::vector<uint8_t> inflateCapped(const uint8_t* data, size_t size, uint64_t cap, bool& over,
                                   bool& damaged) {
    over = damaged = false;
    std::vector<uint8_t> out;
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        damaged = true;
        return out;
    }
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    std::array<uint8_t, 65536> block{};
    int status = Z_OK;
    while (status == Z_OK) {
        z.next_out = block.data();
        z.avail_out = block.size();
        status = inflate(&z, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) break;
        const size_t made = block.size() - z.avail_out;
        if (out.size() + made > cap) {
            over = true;
            break;
        }
        out.insert(out.end(), block.data(), block.data() + made);
        if (status == Z_OK && made == 0 && z.avail_in == 0) break; // ends early
    }
    inflateEnd(&z);
    if (!over && status != Z_STREAM_END) {
        damaged = true;
        out.clear();
    }
    return out;
}

bool startsWith(const std::vector<uint8_t>& bytes, std::string_view prefix) {
    return bytes.size() >= prefix.size() &&
           std::memcmp(bytes.data(), prefix.data(), prefix.size()) == 0;
}

const char* kindName(MetadataKind kind) {
    switch (kind) {
    case MetadataKind::Exif:
        return "EXIF";
    case MetadataKind::Xmp:
        return "XMP";
    case MetadataKind::Iptc:
        return "IPTC";
    default:
        return "colour profile";
    }
}

// Drops every block of `kind`, saying why once.
void dropAll(MetadataLayout& layout, MetadataKind kind, const std::string& why) {
    bool any = false;
    for (size_t i = 0; i < layout.blocks.size(); ++i)
        if (layout.blocks[i].kind == kind &&
            std::find(layout.dropped.begin(), layout.dropped.end(), i) == layout.dropped.end()) {
            layout.dropped.push_back(i);
            any = true;
        }
    if (any && !why.empty())
        layout.notes.push_back(std::string("its ") + kindName(kind) + " " + why + "; left out");
}

// An XMP packet's text: counted against the limit on properties.
void checkXmpText(MetadataLayout& layout, const std::vector<uint8_t>& text) {
    const uint64_t n = countXmlProperties(reinterpret_cast<const char*>(text.data()), text.size());
    if (n > kMaxXmpProperties)
        dropAll(layout, MetadataKind::Xmp,
                "holds " + std::to_string(n) + " properties, more than " +
                    std::to_string(kMaxXmpProperties));
}

// The sizes per kind against the limits.
void checkTotals(MetadataLayout& layout, int iccSegments) {
    uint64_t total[4] = {};
    for (const auto& b : layout.blocks)
        total[static_cast<int>(b.kind)] += b.payload;
    const std::pair<MetadataKind, uint64_t> limits[] = {{MetadataKind::Exif, kMaxExifBytes},
                                                        {MetadataKind::Xmp, kMaxXmpBytes},
                                                        {MetadataKind::Iptc, kMaxIptcBytes},
                                                        {MetadataKind::Icc, kMaxIccBytes}};
    for (const auto& [kind, limit] : limits)
        if (total[static_cast<int>(kind)] > limit)
            dropAll(layout, kind,
                    "is " + bytesText(total[static_cast<int>(kind)]) + ", more than " +
                        bytesText(limit));
    if (iccSegments > kMaxIccSegments)
        dropAll(layout, MetadataKind::Icc,
                "is split over " + std::to_string(iccSegments) + " segments, more than " +
                    std::to_string(kMaxIccSegments));
}

// ---- JPEG -------------------------------------------------------------------

void scanJpeg(MetadataLayout& layout, const ReadAt& read, uint64_t size) {
    static constexpr std::string_view kExif("Exif\0\0", 6);
    static constexpr std::string_view kXmp("http://ns.adobe.com/xap/1.0/\0", 29);
    static constexpr std::string_view kXmpExtension("http://ns.adobe.com/xmp/extension/\0", 35);
    static constexpr std::string_view kIcc("ICC_PROFILE\0", 12);
    static constexpr std::string_view kPhotoshop("Photoshop 3.0\0", 14);
    uint64_t at = 2;
    int iccSegments = 0;
    std::vector<std::vector<uint8_t>> xmpTexts;
    while (at + 4 <= size) {
        uint8_t m[4];
        if (!read(at, m, 2) || m[0] != 0xFF) break;
        if (m[1] == 0xFF) {
            ++at; // fill byte
            continue;
        }
        if ((m[1] >= 0xD0 && m[1] <= 0xD8) || m[1] == 0x01) {
            at += 2;
            continue;
        }
        if (m[1] == 0xDA || m[1] == 0xD9 || !read(at + 2, m + 2, 2)) break;
        const uint64_t length = uint64_t{m[2]} << 8 | m[3];
        if (length < 2 || at + 2 + length > size) break;
        const std::vector<uint8_t> head =
            readBytes(read, at + 4, std::min<uint64_t>(length - 2, 35));
        auto add = [&](MetadataKind kind, size_t skip) {
            layout.blocks.push_back({kind, at, 2 + length, length - 2 - skip});
        };
        if (m[1] == 0xE1 && startsWith(head, kExif)) {
            add(MetadataKind::Exif, kExif.size());
        } else if (m[1] == 0xE1 && startsWith(head, kXmp)) {
            add(MetadataKind::Xmp, kXmp.size());
            xmpTexts.push_back(readBytes(read, at + 4 + kXmp.size(), length - 2 - kXmp.size()));
        } else if (m[1] == 0xE1 && startsWith(head, kXmpExtension)) {
            add(MetadataKind::Xmp, kXmpExtension.size());
        } else if (m[1] == 0xE2 && startsWith(head, kIcc) && length - 2 >= 14) {
            add(MetadataKind::Icc, 14);
            ++iccSegments;
        } else if (m[1] == 0xED && startsWith(head, kPhotoshop)) {
            add(MetadataKind::Iptc, kPhotoshop.size());
        }
        at += 2 + length;
    }
    layout.end = at;
    checkTotals(layout, iccSegments);
    for (const auto& text : xmpTexts)
        checkXmpText(layout, text);
}

// ---- PNG ----------------------------------------------------------------------

// The text of a PNG text chunk's value, inflated when compressed; the
// keyword is returned in `keyword`.  Nothing, with `why` set, when it is
// damaged or inflates past `cap`.
std::vector<uint8_t> pngText(const std::string& type, const std::vector<uint8_t>& data,
                             uint64_t cap, std::string& keyword, std::string& why) {
    const auto nul = std::find(data.begin(), data.end(), uint8_t{0});
    keyword.assign(data.begin(), nul);
    if (nul == data.end()) return {};
    size_t at = size_t(nul - data.begin()) + 1;
    bool compressed = type == "zTXt";
    if (type == "zTXt") {
        ++at; // compression method
    } else if (type == "iTXt") {
        if (at + 2 > data.size()) return {};
        compressed = data[at] != 0;
        at += 2;
        for (int skip = 0; skip < 2; ++skip) { // language tag, translated keyword
            const auto end = std::find(data.begin() + long(at), data.end(), uint8_t{0});
            if (end == data.end()) return {};
            at = size_t(end - data.begin()) + 1;
        }
    }
    if (at > data.size()) return {};
    if (!compressed) {
        if (data.size() - at > cap) why = "is more than " + bytesText(cap);
        return why.empty() ? std::vector<uint8_t>(data.begin() + long(at), data.end())
                           : std::vector<uint8_t>{};
    }
    bool over = false, damaged = false;
    std::vector<uint8_t> text =
        inflateCapped(data.data() + at, data.size() - at, cap, over, damaged);
    if (over) why = "inflates to more than " + bytesText(cap);
    if (damaged) why = "is damaged (its compressed stream does not inflate)";
    return text;
}

// The bytes a "Raw profile type ..." text holds: a line with its name, one
// with its length, then the bytes in hexadecimal.
std::vector<uint8_t> rawProfileBytes(const std::vector<uint8_t>& text) {
    size_t at = 0;
    for (int line = 0; line < 3 && at < text.size(); ++line) {
        while (at < text.size() && text[at] == '\n')
            ++at;
        if (line < 2)
            while (at < text.size() && text[at] != '\n')
                ++at;
    }
    std::vector<uint8_t> out;
    int high = -1;
    for (; at < text.size(); ++at) {
        const int c = text[at];
        if (!std::isxdigit(c)) continue;
        const int v = std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(uint8_t(high << 4 | v));
            high = -1;
        }
    }
    return out;
}

void scanPng(MetadataLayout& layout, const ReadAt& read, uint64_t size) {
    uint64_t at = 8;
    while (at + 12 <= size) {
        uint8_t head[8];
        if (!read(at, head, 8)) break;
        const uint64_t length = be32(head);
        const std::string type(reinterpret_cast<const char*>(head + 4), 4);
        if (length > 0x7FFFFFFFu || at + 12 + length > size) break;
        if (type == "IEND") break;
        const uint64_t chunk = 12 + length;
        auto add = [&](MetadataKind kind, uint64_t payload) {
            layout.blocks.push_back({kind, at, chunk, payload});
        };
        auto dropLast = [&](const std::string& why) {
            layout.dropped.push_back(layout.blocks.size() - 1);
            layout.notes.push_back(std::string("its ") + kindName(layout.blocks.back().kind) + " " +
                                   why + "; left out");
        };
        const bool text = type == "tEXt" || type == "zTXt" || type == "iTXt";
        if (type == "eXIf") {
            add(MetadataKind::Exif, length);
        } else if (type == "iCCP") {
            add(MetadataKind::Icc, length);
            const std::vector<uint8_t> data = length <= kMaxIccBytes + 128
                                                  ? readBytes(read, at + 8, length)
                                                  : std::vector<uint8_t>{};
            const auto nul = std::find(data.begin(), data.end(), uint8_t{0});
            if (length > kMaxIccBytes + 128) {
                dropLast("is more than " + bytesText(kMaxIccBytes));
            } else if (nul == data.end() || data.end() - nul < 2) {
                dropLast("is damaged (its chunk is cut short)");
            } else {
                bool over = false, damaged = false;
                const auto from = size_t(nul - data.begin()) + 2;
                const auto icc = inflateCapped(data.data() + from, data.size() - from, kMaxIccBytes,
                                               over, damaged);
                layout.blocks.back().payload = icc.size();
                if (over) dropLast("inflates to more than " + bytesText(kMaxIccBytes));
                if (damaged) dropLast("is damaged (its compressed stream does not inflate)");
            }
        } else if (text && length <= 2 * kMaxXmpBytes + 4096) {
            const std::vector<uint8_t> data = readBytes(read, at + 8, length);
            std::string keyword, why;
            std::vector<uint8_t> value = pngText(type, data, 2 * kMaxXmpBytes + 4096, keyword, why);
            MetadataKind kind = MetadataKind::Exif;
            bool metadata = true, raw = keyword.rfind("Raw profile type ", 0) == 0;
            const std::string rawName = raw ? keyword.substr(17) : "";
            if (keyword == "XML:com.adobe.xmp" || rawName == "xmp")
                kind = MetadataKind::Xmp;
            else if (rawName == "exif" || rawName == "APP1")
                kind = MetadataKind::Exif;
            else if (rawName == "iptc" || rawName == "8bim")
                kind = MetadataKind::Iptc;
            else if (rawName == "icc" || rawName == "icm")
                kind = MetadataKind::Icc;
            else
                metadata = false;
            if (metadata) {
                if (raw && why.empty()) value = rawProfileBytes(value);
                add(kind, value.size());
                if (!why.empty())
                    dropLast(why);
                else if (kind == MetadataKind::Xmp)
                    checkXmpText(layout, value);
            }
        } else if (text) {
            // Too large to be metadata within the limits, whatever it is.
            std::vector<uint8_t> data = readBytes(read, at + 8, std::min<uint64_t>(length, 80));
            const std::string keyword(data.begin(),
                                      std::find(data.begin(), data.end(), uint8_t{0}));
            if (keyword == "XML:com.adobe.xmp" || keyword.rfind("Raw profile type ", 0) == 0) {
                add(keyword == "XML:com.adobe.xmp" ? MetadataKind::Xmp : MetadataKind::Exif,
                    length);
                dropLast("is " + bytesText(length) + ", more than the limit");
            }
        }
        at += chunk;
    }
    layout.end = at;
    checkTotals(layout, 0);
}

// ---- TIFF -------------------------------------------------------------------

void scanTiff(MetadataLayout& layout, const ReadAt& read, uint64_t size) {
    uint8_t h[16];
    if (!read(0, h, 8)) return;
    const bool little = h[0] == 'I';
    layout.littleEndian = little;
    auto u16 = [&](const uint8_t* p) {
        return little ? uint16_t(p[0] | p[1] << 8) : uint16_t(p[0] << 8 | p[1]);
    };
    auto u32 = [&](const uint8_t* p) { return little ? le32(p) : be32(p); };
    auto u64 = [&](const uint8_t* p) {
        return little ? uint64_t{le32(p + 4)} << 32 | le32(p)
                      : uint64_t{be32(p)} << 32 | be32(p + 4);
    };
    const bool big = u16(h + 2) == 43;
    layout.bigTiff = big;
    uint64_t ifd = 0;
    if (big) {
        if (!read(8, h + 8, 8)) return;
        ifd = u64(h + 8);
    } else {
        ifd = u32(h + 4);
    }
    const size_t countSize = big ? 8 : 2, entrySize = big ? 20 : 12, inlineSize = big ? 8 : 4;
    uint8_t c[8];
    if (ifd >= size || !read(ifd, c, countSize)) return;
    const uint64_t count = big ? u64(c) : u16(c);
    if (count > (size - ifd) / entrySize) return;
    static constexpr uint64_t kTypeSize[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4,
                                             8, 4, 8, 4, 0, 0, 8, 8, 8};
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t at = ifd + countSize + i * entrySize;
        uint8_t e[20];
        if (!read(at, e, entrySize)) return;
        const uint16_t tag = u16(e), type = u16(e + 2);
        const uint64_t n = big ? u64(e + 4) : u32(e + 4);
        const uint64_t bytes = type < std::size(kTypeSize) ? n * kTypeSize[type] : 0;
        MetadataKind kind;
        if (tag == 34675)
            kind = MetadataKind::Icc;
        else if (tag == 700)
            kind = MetadataKind::Xmp;
        else if (tag == 33723)
            kind = MetadataKind::Iptc;
        else
            continue;
        layout.blocks.push_back({kind, at, entrySize, bytes});
        if (kind == MetadataKind::Xmp && bytes <= kMaxXmpBytes) {
            const uint64_t where =
                bytes <= inlineSize ? at + 4 + (big ? 8 : 4) : (big ? u64(e + 12) : u32(e + 8));
            checkXmpText(layout, readBytes(read, where, bytes));
        }
    }
    checkTotals(layout, 0);
}

// ---- WebP -------------------------------------------------------------------

void scanWebp(MetadataLayout& layout, const ReadAt& read, uint64_t size) {
    uint64_t at = 12;
    while (at + 8 <= size) {
        uint8_t head[8];
        if (!read(at, head, 8)) break;
        const uint64_t length = le32(head + 4);
        const std::string type(reinterpret_cast<const char*>(head), 4);
        if (at + 8 + length > size) break;
        const uint64_t chunk = 8 + length + (length & 1);
        MetadataKind kind{};
        bool metadata = true;
        if (type == "ICCP")
            kind = MetadataKind::Icc;
        else if (type == "EXIF")
            kind = MetadataKind::Exif;
        else if (type == "XMP ")
            kind = MetadataKind::Xmp;
        else
            metadata = false;
        if (metadata) {
            layout.blocks.push_back({kind, at, std::min(chunk, size - at), length});
            if (kind == MetadataKind::Xmp && length <= kMaxXmpBytes)
                checkXmpText(layout, readBytes(read, at + 8, length));
        }
        at += chunk;
    }
    layout.end = std::min(at, size);
    checkTotals(layout, 0);
}

bool isDropped(const MetadataLayout& layout, uint64_t offset) {
    for (size_t i : layout.dropped)
        if (layout.blocks[i].offset == offset) return true;
    return false;
}

void append(std::vector<uint8_t>& out, const ReadAt& read, uint64_t offset, uint64_t size) {
    const size_t from = out.size();
    out.resize(from + size);
    if (!read(offset, out.data() + from, size)) out.resize(from);
}

} // namespace

uint64_t countXmlProperties(const char* text, size_t size) {
    uint64_t n = 0;
    for (size_t i = 0; i + 1 < size; ++i) {
        if (text[i] == '<' &&
            (std::isalpha(static_cast<unsigned char>(text[i + 1])) || text[i + 1] == '_'))
            ++n; // an element
        else if (text[i] == '=' && (text[i + 1] == '"' || text[i + 1] == '\''))
            ++n; // an attribute
    }
    return n;
}

bool isUsableRgbProfile(const std::vector<uint8_t>& icc, std::string& why) {
    if (icc.size() < 132) {
        why = "it is cut short (" + bytesText(icc.size()) + ")";
        return false;
    }
    if (be32(icc.data()) != icc.size()) {
        why = "it declares " + bytesText(be32(icc.data())) + " but holds " + bytesText(icc.size());
        return false;
    }
    if (std::memcmp(icc.data() + 36, "acsp", 4) != 0) {
        why = "it has no profile signature";
        return false;
    }
    if (std::memcmp(icc.data() + 16, "RGB ", 4) != 0) {
        std::string space(reinterpret_cast<const char*>(icc.data() + 16), 4);
        while (!space.empty() && (space.back() == ' ' || space.back() == '\0'))
            space.pop_back();
        why = "it describes " + space + " data, and the picture is written as RGB";
        return false;
    }
    return true;
}

void emptyDroppedEntries(const MetadataLayout& layout, uint8_t* tiff, size_t size) {
    // The entry becomes kEmptiedTiffTag, a field of one byte, held in the
    // entry itself: nobody reads the old value (exiv2 refuses a profile of
    // no bytes and libtiff a field of none, so the tag and count go too).
    auto put = [&](uint8_t* p, uint64_t v, size_t n) {
        for (size_t k = 0; k < n; ++k)
            p[layout.littleEndian ? k : n - 1 - k] = uint8_t(v >> (8 * k));
    };
    const size_t countSize = layout.bigTiff ? 8 : 4;
    for (size_t i : layout.dropped) {
        const uint64_t at = layout.blocks[i].offset;
        if (layout.blocks[i].length != 4 + 2 * countSize || at + 4 + 2 * countSize > size) continue;
        put(tiff + at, kEmptiedTiffTag, 2);
        put(tiff + at + 2, 1, 2);
        put(tiff + at + 4, 1, countSize);
        put(tiff + at + 4 + countSize, 0, countSize);
    }
}

MetadataLayout scanMetadata(const ReadAt& read, uint64_t fileSize, bool exifOnly) {
    MetadataLayout layout;
    uint8_t head[12] = {};
    if (!read(0, head, std::min<uint64_t>(fileSize, 12))) return layout;
    if (fileSize >= 4 && head[0] == 0xFF && head[1] == 0xD8)
        layout.container = Container::Jpeg;
    else if (fileSize >= 8 && std::memcmp(head, "\x89PNG\r\n\x1a\n", 8) == 0)
        layout.container = Container::Png;
    else if (fileSize >= 8 &&
             (std::memcmp(head, "II*\0", 4) == 0 || std::memcmp(head, "MM\0*", 4) == 0 ||
              std::memcmp(head, "II+\0", 4) == 0 || std::memcmp(head, "MM\0+", 4) == 0))
        layout.container = Container::Tiff;
    else if (fileSize >= 12 && std::memcmp(head, "RIFF", 4) == 0 &&
             std::memcmp(head + 8, "WEBP", 4) == 0)
        layout.container = Container::Webp;
    switch (layout.container) {
    case Container::Jpeg:
        scanJpeg(layout, read, fileSize);
        break;
    case Container::Png:
        scanPng(layout, read, fileSize);
        break;
    case Container::Tiff:
        scanTiff(layout, read, fileSize);
        break;
    case Container::Webp:
        scanWebp(layout, read, fileSize);
        break;
    case Container::Unknown:
        break;
    }
    if (exifOnly)
        for (MetadataKind kind : {MetadataKind::Xmp, MetadataKind::Iptc, MetadataKind::Icc})
            dropAll(layout, kind, "");
    std::sort(layout.dropped.begin(), layout.dropped.end());
    layout.dropped.erase(std::unique(layout.dropped.begin(), layout.dropped.end()),
                         layout.dropped.end());
    return layout;
}

std::vector<uint8_t> withoutDropped(const MetadataLayout& layout, const ReadAt& read,
                                    uint64_t fileSize) {
    std::vector<uint8_t> out;
    switch (layout.container) {
    case Container::Jpeg: {
        uint64_t at = 0;
        std::vector<std::pair<uint64_t, uint64_t>> cut;
        for (size_t i : layout.dropped)
            cut.emplace_back(layout.blocks[i].offset, layout.blocks[i].length);
        std::sort(cut.begin(), cut.end());
        for (const auto& [offset, length] : cut) {
            append(out, read, at, offset - at);
            at = offset + length;
        }
        append(out, read, at, layout.end - at);
        out.push_back(0xFF);
        out.push_back(0xD9);
        break;
    }
    case Container::Png: {
        append(out, read, 0, 8);
        for (uint64_t at = 8; at + 12 <= fileSize && at < layout.end;) {
            uint8_t head[8];
            if (!read(at, head, 8)) break;
            const uint64_t chunk = 12 + uint64_t{be32(head)};
            if (std::memcmp(head + 4, "IDAT", 4) != 0 && !isDropped(layout, at))
                append(out, read, at, chunk);
            at += chunk;
        }
        static constexpr uint8_t kIend[] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
        out.insert(out.end(), std::begin(kIend), std::end(kIend));
        break;
    }
    case Container::Webp: {
        append(out, read, 0, 12);
        for (uint64_t at = 12; at + 8 <= fileSize && at < layout.end;) {
            uint8_t head[8];
            if (!read(at, head, 8)) break;
            const uint64_t length = le32(head + 4);
            const uint64_t chunk = std::min(8 + length + (length & 1), fileSize - at);
            if (!isDropped(layout, at)) append(out, read, at, chunk);
            at += chunk;
        }
        const uint32_t riff = static_cast<uint32_t>(out.size() - 8);
        for (int k = 0; k < 4; ++k)
            out[4 + size_t(k)] = uint8_t(riff >> (8 * k));
        break;
    }
    case Container::Tiff: {
        append(out, read, 0, fileSize);
        if (out.size() != fileSize) return {};
        emptyDroppedEntries(layout, out.data(), out.size());
        break;
    }
    case Container::Unknown:
        break;
    }
    return out;
}

} // namespace talvine::hosts
