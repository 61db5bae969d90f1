// Build-time generator of the module's version record.
//
// Reads `key=value` lines (UTF-8) and writes a C++ fragment holding the bytes
// of a Windows VS_VERSIONINFO block: the fixed file info (versions taken from
// FileVersion and ProductVersion), one StringFileInfo with the string table
// "040C04E4", and a VarFileInfo translation French / 1252.
//
// With --rc it writes the same record as a resource script instead, for
// windres (code page 1252) to compile into a Windows module.
//
// usage: versiongen INPUT.txt OUTPUT.inc
//        versiongen --rc INPUT.txt OUTPUT.rc
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

std::u16string utf16(const std::string& s) {
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        uint32_t cp = 0;
        int extra = 0;
        if (c < 0x80) cp = c;
        else if ((c & 0xE0) == 0xC0) cp = c & 0x1F, extra = 1;
        else if ((c & 0xF0) == 0xE0) cp = c & 0x0F, extra = 2;
        else throw std::runtime_error("unsupported character in: " + s);
        if (i + static_cast<size_t>(extra) >= s.size()) throw std::runtime_error("bad UTF-8");
        for (int k = 1; k <= extra; ++k) cp = cp << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        out.push_back(static_cast<char16_t>(cp));
        i += 1 + extra;
    }
    return out;
}

void put16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(Bytes& b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}
void putText(Bytes& b, const std::u16string& s) {
    for (char16_t c : s) put16(b, c);
    put16(b, 0);
}
void align4(Bytes& b) {
    while (b.size() % 4) b.push_back(0);
}

// One node: wLength, wValueLength, wType, szKey, padding, value, padding, children.
Bytes node(const std::string& key, uint16_t type, uint16_t valueLength, const Bytes& value,
           const std::vector<Bytes>& children) {
    Bytes b;
    put16(b, 0);
    put16(b, valueLength);
    put16(b, type);
    putText(b, utf16(key));
    align4(b);
    b.insert(b.end(), value.begin(), value.end());
    for (const Bytes& child : children) {
        align4(b);
        b.insert(b.end(), child.begin(), child.end());
    }
    const size_t length = b.size();
    b[0] = static_cast<uint8_t>(length);
    b[1] = static_cast<uint8_t>(length >> 8);
    return b;
}

// A resource script string in code page 1252: quotes and backslashes
// escaped, every character outside ASCII as an octal escape of its byte.
std::string rcString(const std::string& value) {
    std::string out = "\"";
    for (char16_t c : utf16(value)) {
        if (c == u'"') out += "\"\"";
        else if (c == u'\\') out += "\\\\";
        else if (c >= 0x20 && c < 0x7F) out.push_back(static_cast<char>(c));
        else if (c >= 0xA0 && c <= 0xFF) {
            char octal[8];
            std::snprintf(octal, sizeof octal, "\\%03o", static_cast<unsigned>(c));
            out += octal;
        } else {
            throw std::runtime_error("not a code page 1252 text: " + value);
        }
    }
    return out + "\"";
}

std::pair<uint32_t, uint32_t> versionWords(const std::string& text) {
    uint32_t part[4] = {0, 0, 0, 0};
    std::istringstream in(text);
    std::string piece;
    for (int i = 0; i < 4 && std::getline(in, piece, '.'); ++i) part[i] = std::stoul(piece);
    return {part[0] << 16 | part[1], part[2] << 16 | part[3]};
}

} // namespace

int main(int argc, char** argv) {
    const bool rc = argc == 4 && std::string(argv[1]) == "--rc";
    if (argc != 3 && !rc) {
        std::cerr << "usage: versiongen INPUT.txt OUTPUT.inc\n"
                     "       versiongen --rc INPUT.txt OUTPUT.rc\n";
        return 2;
    }
    const char* input = argv[rc ? 2 : 1];
    const char* output = argv[rc ? 3 : 2];
    try {
        std::ifstream in(input);
        if (!in) throw std::runtime_error(std::string("cannot read ") + input);
        std::vector<std::pair<std::string, std::string>> fields;
        std::string line;
        while (std::getline(in, line)) {
            if (line.empty() || line[0] == '#') continue;
            const auto eq = line.find('=');
            if (eq == std::string::npos) throw std::runtime_error("no '=' in: " + line);
            fields.emplace_back(line.substr(0, eq), line.substr(eq + 1));
        }
        std::string fileVersion, productVersion;
        for (const auto& [k, v] : fields) {
            if (k == "FileVersion") fileVersion = v;
            if (k == "ProductVersion") productVersion = v;
        }
        if (fileVersion.empty() || productVersion.empty())
            throw std::runtime_error("FileVersion and ProductVersion are required");

        const auto [fileMs, fileLs] = versionWords(fileVersion);
        const auto [prodMs, prodLs] = versionWords(productVersion);
        if (rc) {
            std::ofstream out(output);
            auto words = [](uint32_t ms, uint32_t ls) {
                return std::to_string(ms >> 16) + "," + std::to_string(ms & 0xFFFF) + "," +
                       std::to_string(ls >> 16) + "," + std::to_string(ls & 0xFFFF);
            };
            out << "// Generated by versiongen from VersionInfo.txt; do not edit.\n"
                << "LANGUAGE 0x0C, 0x01\n"
                << "1 VERSIONINFO\n"
                << "FILEVERSION " << words(fileMs, fileLs) << "\n"
                << "PRODUCTVERSION " << words(prodMs, prodLs) << "\n"
                << "FILEFLAGSMASK 0x3F\nFILEFLAGS 0x0\n"
                << "FILEOS 0x40004\n"   // VOS_NT_WINDOWS32
                << "FILETYPE 0x2\n"     // VFT_DLL
                << "FILESUBTYPE 0x0\n"
                << "BEGIN\n  BLOCK \"StringFileInfo\"\n  BEGIN\n    BLOCK \"040C04E4\"\n    BEGIN\n";
            for (const auto& [k, v] : fields)
                out << "      VALUE " << rcString(k) << ", " << rcString(v) << "\n";
            out << "    END\n  END\n  BLOCK \"VarFileInfo\"\n  BEGIN\n"
                << "    VALUE \"Translation\", 0x040C, 0x04E4\n  END\nEND\n";
            if (!out) throw std::runtime_error(std::string("cannot write ") + output);
            return 0;
        }

        Bytes fixed;
        for (uint32_t v : {0xFEEF04BDu, 0x00010000u, fileMs, fileLs, prodMs, prodLs, 0x3Fu, 0u,
                           0x00040004u /* VOS_NT_WINDOWS32 */, 2u /* VFT_DLL */, 0u, 0u, 0u})
            put32(fixed, v);

        std::vector<Bytes> strings;
        for (const auto& [k, v] : fields) {
            Bytes value;
            putText(value, utf16(v));
            strings.push_back(node(k, 1, static_cast<uint16_t>(utf16(v).size() + 1), value, {}));
        }
        const Bytes table = node("040C04E4", 1, 0, {}, strings);
        const Bytes stringInfo = node("StringFileInfo", 1, 0, {}, {table});
        Bytes translation;
        put16(translation, 0x040C);
        put16(translation, 0x04E4);
        const Bytes var = node("Translation", 0, 4, translation, {});
        const Bytes varInfo = node("VarFileInfo", 1, 0, {}, {var});
        const Bytes record = node("VS_VERSION_INFO", 0, static_cast<uint16_t>(fixed.size()), fixed,
                                  {stringInfo, varInfo});

        std::ofstream out(output);
        out << "// Generated by versiongen from VersionInfo.txt; do not edit.\n";
        for (size_t i = 0; i < record.size(); ++i)
            out << static_cast<unsigned>(record[i]) << ((i + 1) % 16 == 0 ? ",\n" : ",");
        out << "\n";
        if (!out) throw std::runtime_error(std::string("cannot write ") + output);
    } catch (const std::exception& e) {
        std::cerr << "versiongen: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
