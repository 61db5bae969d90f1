#include "platform/VersionInfo.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <optional>

namespace talvine::platform {
namespace {

struct Extent {
    uint64_t offset;
    uint64_t size;
};

// Whether `size` bytes from `offset` lie inside a file of `fileSize` bytes,
// without forming a sum that could wrap.
bool inside(uint64_t offset, uint64_t size, uint64_t fileSize) {
    return offset <= fileSize && size <= fileSize - offset;
}

// Every header and table is checked against the file's size before it is
// read, so nothing larger than the file is ever allocated, whatever the
// headers claim.
template <typename Ehdr, typename Shdr>
std::optional<Extent> findSection(std::ifstream& file, uint64_t fileSize) {
    Ehdr header{};
    if (!inside(0, sizeof header, fileSize)) return std::nullopt;
    file.seekg(0);
    if (!file.read(reinterpret_cast<char*>(&header), sizeof header)) return std::nullopt;
    if (header.e_shentsize != sizeof(Shdr) || header.e_shstrndx >= header.e_shnum)
        return std::nullopt;
    if (!inside(header.e_shoff, uint64_t{header.e_shnum} * sizeof(Shdr), fileSize))
        return std::nullopt;

    std::vector<Shdr> sections(header.e_shnum);
    file.seekg(static_cast<std::streamoff>(header.e_shoff));
    if (!file.read(reinterpret_cast<char*>(sections.data()),
                   static_cast<std::streamsize>(sections.size() * sizeof(Shdr))))
        return std::nullopt;

    const Shdr& names = sections[header.e_shstrndx];
    if (names.sh_type == SHT_NOBITS || !inside(names.sh_offset, names.sh_size, fileSize))
        return std::nullopt;
    std::vector<char> table(static_cast<size_t>(names.sh_size) + 1, '\0');
    file.seekg(static_cast<std::streamoff>(names.sh_offset));
    if (!file.read(table.data(), static_cast<std::streamsize>(names.sh_size))) return std::nullopt;

    for (const Shdr& s : sections) {
        if (s.sh_name >= names.sh_size || s.sh_type == SHT_NOBITS) continue;
        if (std::strcmp(table.data() + s.sh_name, kVersionSection) != 0) continue;
        if (!inside(s.sh_offset, s.sh_size, fileSize)) return std::nullopt;
        return Extent{s.sh_offset, s.sh_size};
    }
    return std::nullopt;
}

std::optional<Extent> locate(std::ifstream& file) {
    file.seekg(0, std::ios::end);
    const auto end = file.tellg();
    if (end <= 0) return std::nullopt;
    const auto fileSize = static_cast<uint64_t>(end);
    unsigned char ident[EI_NIDENT] = {};
    file.seekg(0);
    if (!file.read(reinterpret_cast<char*>(ident), EI_NIDENT)) return std::nullopt;
    if (std::memcmp(ident, ELFMAG, SELFMAG) != 0) return std::nullopt;
    if (ident[EI_CLASS] == ELFCLASS64) return findSection<Elf64_Ehdr, Elf64_Shdr>(file, fileSize);
    if (ident[EI_CLASS] == ELFCLASS32) return findSection<Elf32_Ehdr, Elf32_Shdr>(file, fileSize);
    return std::nullopt;
}

} // namespace

std::string moduleFileName(const void* address) {
    Dl_info info{};
    link_map* map = nullptr;
    if (dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0) return {};
    // The main program has an empty name in the link map: ask the system for its path.
    if (map == nullptr || map->l_name == nullptr || map->l_name[0] == '\0') {
        char path[4096];
        const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
        return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
    }
    return map->l_name;
}

uint32_t fileVersionInfoSize(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return 0;
    const auto extent = locate(file);
    if (!extent || extent->size > UINT32_MAX) return 0;
    return static_cast<uint32_t>(extent->size);
}

bool fileVersionInfo(const std::string& path, std::vector<uint8_t>& record) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    const auto extent = locate(file);
    if (!extent) return false;
    record.assign(static_cast<size_t>(extent->size), 0);
    file.seekg(static_cast<std::streamoff>(extent->offset));
    return static_cast<bool>(file.read(reinterpret_cast<char*>(record.data()),
                                       static_cast<std::streamsize>(extent->size)));
}

} // namespace talvine::platform
