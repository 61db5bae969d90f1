// PrmDLL's reader of the version record, on arbitrary module files: the
// bytes become a file (in memory) and the reader looks for its record there
// exactly as PrmDLL does in the module's own file.  It must never fail, never
// read outside the file, never allocate more than the file holds (runs use
// -malloc_limit_mb, far below what the headers can claim), and give either 0
// and 0 or two digits.
//
// Inputs that start with the 4 bytes "ELF!" are first made into a well-formed
// ELF header of the class named by the next byte (1: 32-bit, else 64-bit),
// with the section table where the following bytes say, so that the search
// gets past the first checks often.
#include "plugin/Params.h"

#include <elf.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int gFile = -1;
std::string gPath;

template <typename Ehdr> void shape(std::vector<uint8_t>& bytes, unsigned char cls) {
    if (bytes.size() < sizeof(Ehdr)) bytes.resize(sizeof(Ehdr));
    Ehdr h;
    std::memcpy(&h, bytes.data(), sizeof h);
    std::memcpy(h.e_ident, ELFMAG, SELFMAG);
    h.e_ident[EI_CLASS] = cls;
    h.e_shentsize = cls == ELFCLASS64 ? sizeof(Elf64_Shdr) : sizeof(Elf32_Shdr);
    h.e_shnum = static_cast<uint16_t>(h.e_shnum % 16);
    if (h.e_shnum) h.e_shstrndx = static_cast<uint16_t>(h.e_shstrndx % h.e_shnum);
    // Mostly inside the file, sometimes anywhere.
    if (h.e_shoff % 4 != 0) h.e_shoff = h.e_shoff % bytes.size();
    std::memcpy(bytes.data(), &h, sizeof h);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    gFile = memfd_create("talvine-module", 0);
    if (gFile < 0) std::abort();
    gPath = "/proc/self/fd/" + std::to_string(gFile);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    if (size >= 5 && std::memcmp(data, "ELF!", 4) == 0) {
        bytes.erase(bytes.begin(), bytes.begin() + 5);
        if (data[4] == 1)
            shape<Elf32_Ehdr>(bytes, ELFCLASS32);
        else
            shape<Elf64_Ehdr>(bytes, ELFCLASS64);
    }
    if (ftruncate(gFile, 0) != 0 ||
        (!bytes.empty() &&
         pwrite(gFile, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())))
        std::abort();
    const talvine::params::Version v = talvine::params::versionOfModuleFile(gPath);
    const bool none = v.major == 0 && v.minor == 0;
    const bool digits = v.major >= 0 && v.major <= 9 && v.minor >= 0 && v.minor <= 9;
    if (!none && !digits) {
        std::fprintf(stderr, "version check failed: %d.%d\n", v.major, v.minor);
        std::abort();
    }
    return 0;
}
