// The built Talvine.so as a host sees it: loaded with dlopen, called through
// its four exports only.
#include "support/TestHost.h"

#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace talvine {
namespace {

using test::Module;
using test::Recorder;

std::vector<char> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Names of the symbols the module defines in its dynamic symbol table.
std::set<std::string> definedDynamicSymbols(const std::string& path) {
    const std::vector<char> file = readFile(path);
    Elf64_Ehdr eh;
    std::memcpy(&eh, file.data(), sizeof eh);
    std::vector<Elf64_Shdr> sections(eh.e_shnum);
    std::memcpy(sections.data(), file.data() + eh.e_shoff, eh.e_shnum * sizeof(Elf64_Shdr));
    std::set<std::string> names;
    for (const auto& s : sections) {
        if (s.sh_type != SHT_DYNSYM) continue;
        const char* strings = file.data() + sections[s.sh_link].sh_offset;
        for (size_t i = 0; i < s.sh_size / sizeof(Elf64_Sym); ++i) {
            Elf64_Sym sym;
            std::memcpy(&sym, file.data() + s.sh_offset + i * sizeof sym, sizeof sym);
            if (sym.st_shndx != SHN_UNDEF && sym.st_name != 0) names.insert(strings + sym.st_name);
        }
    }
    return names;
}

TEST(ModuleExports, ExactlyTheFourEntryPoints) {
    EXPECT_EQ(definedDynamicSymbols(TALVINE_MODULE_PATH),
              (std::set<std::string>{"AddMenu", "AdrRetour", "PrmDLL", "XchgData"}));
}

TEST(ModuleIdentity, PrmDllGivesVersionTitleAndDescription) {
    Module m;
    int32_t major = -1, minor = -1;
    const char* title = nullptr;
    EXPECT_STREQ(m.PrmDLL(&major, &minor, &title), "Quilmar (Orvante)");
    EXPECT_EQ(major, 4);
    EXPECT_EQ(minor, 0);
    EXPECT_STREQ(title, "G\xE9om\xE9trie");
}

TEST(ModuleIdentity, AddMenuEnumeratesTheNineCaptions) {
    Module m;
    int32_t index = 0;
    EXPECT_STREQ(m.AddMenu(&index), "G\xE9om\xE9trie");
    EXPECT_EQ(index, 9);
    const char* expected[] = {"Rotation de 90\xB0 anti horaire",
                              "Rotation de 90\xB0 horaire",
                              "Inclinaison horizon",
                              "Miroir Horizontal",
                              "Miroir Vertical",
                              "Rogner format : libre, 2/3, 3/4",
                              "Redimensionner",
                              "Coussinet / Barillet",
                              "Perspective"};
    for (int32_t n = 1; n <= 9; ++n) {
        index = n;
        EXPECT_STREQ(m.AddMenu(&index), expected[n - 1]);
        EXPECT_EQ(index, n);
    }
    for (int32_t bad : {-1, 10, 1000}) {
        index = bad;
        EXPECT_EQ(m.AddMenu(&index), nullptr);
        EXPECT_EQ(index, bad);
    }
    EXPECT_EQ(m.AddMenu(nullptr), nullptr);
}

// Replaces the UTF-16 value that follows "FileVersion" in the record.
void patchFileVersion(std::vector<char>& file, const std::string& value) {
    auto utf16 = [](const std::string& s) {
        std::string out;
        for (char c : s)
            out += std::string{c, '\0'};
        return out;
    };
    const std::string key = utf16("FileVersion") + std::string(2, '\0');
    const auto at = std::search(file.begin(), file.end(), key.begin(), key.end());
    ASSERT_NE(at, file.end());
    auto valueAt = at + static_cast<long>(key.size());
    while (*valueAt == '\0')
        ++valueAt; // padding to the next 32-bit boundary
    const std::string old = utf16("4.0.0.0");
    ASSERT_TRUE(std::equal(old.begin(), old.end(), valueAt));
    const std::string fresh = utf16(value);
    std::copy(fresh.begin(), fresh.end(), valueAt);
}

TEST(ModuleIdentity, VersionIsReadFromTheModuleFileAtRunTime) {
    std::vector<char> file = readFile(TALVINE_MODULE_PATH);
    patchFileVersion(file, "5.3.0.0");
    char path[] = "/tmp/talvine-patched-XXXXXX.so";
    const int fd = mkstemps(path, 3);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, file.data(), file.size()), static_cast<ssize_t>(file.size()));
    close(fd);
    {
        Module m(path);
        int32_t major = 0, minor = 0;
        m.PrmDLL(&major, &minor, nullptr);
        EXPECT_EQ(major, 5);
        EXPECT_EQ(minor, 3);
    }
    std::remove(path);
}

class ModuleCommands : public ::testing::Test {
  protected:
    Module m;
    void SetUp() override {
        Recorder::clear();
        m.AdrRetour(&Recorder::callback, 1234);
    }
    void xchg(int32_t cmd, int32_t w, int32_t h, TPtImg* img, int32_t sousMode = 0,
              TPtImg* imgHote = nullptr) {
        m.XchgData(cmd, 0, 0, 0, 0, w, h, sousMode, 0, img, imgHote, 0, 0);
    }
};

TEST_F(ModuleCommands, HostArrayKeepsItsReferenceCountAndReceivesTheResult) {
    // a b c / d e f in a block made by hand, as a host would.
    TPtImg* img =
        test::hostArray({'a', 0, 0, 'b', 0, 0, 'c', 0, 0, 'd', 0, 0, 'e', 0, 0, 'f', 0, 0});
    int32_t refsDuringCallback = 0;
    static TPtImg* watched;
    static int32_t* seen;
    watched = img;
    seen = &refsDuringCallback;
    Recorder::setHook([](const test::Call&) { *seen = referenceCount(watched); });
    xchg(1, 3, 2, img);
    Recorder::setHook(nullptr);
    EXPECT_EQ(referenceCount(img), 1);
    EXPECT_EQ(refsDuringCallback, 2); // the library holds its own reference during the call
    const std::string rows{
        static_cast<char>(img[0].octets[0]), static_cast<char>(img[1].octets[0]),
        static_cast<char>(img[2].octets[0]), static_cast<char>(img[3].octets[0]),
        static_cast<char>(img[4].octets[0]), static_cast<char>(img[5].octets[0])};
    EXPECT_EQ(rows, "cfbead");
    ASSERT_EQ(Recorder::calls().size(), 1u);
    EXPECT_EQ(Recorder::calls()[0], (test::Call{1234, {2, 3}, {0, 0}, rtImage, 0, 1, 1, 0}));
    TPtImg* h = img;
    releaseReference(h);
}

TEST_F(ModuleCommands, UntruthfulPicturesAreRefusedWithoutACallback) {
    PtsImg small = test::randomPicture(3, 3, 1);
    const auto before = test::bytesOf(small);
    struct Case {
        const char* what;
        int32_t w, h;
        TPtImg* img;
    } cases[] = {
        {"negative width", -3, 3, small.handle()},
        {"negative height", 3, -3, small.handle()},
        {"fewer elements than pixels", 4, 3, small.handle()},
        {"size overflowing 32 bits", 65536, 65536, small.handle()},
        {"null array with a size", 1, 1, nullptr},
    };
    for (const auto& c : cases)
        for (int32_t cmd : {1, 2, 4, 5, 7, 8, 3, 6, 9}) {
            Recorder::clear();
            xchg(cmd, c.w, c.h, c.img);
            EXPECT_TRUE(Recorder::calls().empty()) << c.what << ", command " << cmd;
            EXPECT_EQ(test::bytesOf(small), before) << c.what << ", command " << cmd;
            EXPECT_EQ(referenceCount(small.handle()), 1);
        }
}

TEST_F(ModuleCommands, CommandsOutsideTheTableDoNothing) {
    PtsImg img = test::randomPicture(2, 2, 3);
    const auto before = test::bytesOf(img);
    for (int32_t cmd : {0, -1, 10, 1 << 30})
        xchg(cmd, 2, 2, img.handle());
    for (int32_t cmd : {3, 6, 9})
        xchg(cmd, 2, 2, img.handle(), 2, img.handle());
    EXPECT_TRUE(Recorder::calls().empty());
    EXPECT_EQ(test::bytesOf(img), before);
    EXPECT_EQ(referenceCount(img.handle()), 1);
}

TEST_F(ModuleCommands, CommandsRunWithoutARegisteredCallback) {
    m.AdrRetour(nullptr, 0);
    PtsImg img = test::coordinatePicture(3, 1);
    xchg(4, 3, 1, img.handle());
    EXPECT_EQ(img[0].octets[0], 2);
    EXPECT_TRUE(Recorder::calls().empty());
}

TEST_F(ModuleCommands, ModifieeCarriesTrueInItsLowByte) {
    PtsImg img = test::coordinatePicture(2, 2);
    xchg(5, 2, 2, img.handle());
    ASSERT_EQ(Recorder::calls().size(), 1u);
    EXPECT_EQ(Recorder::calls()[0].modifiee & 0xFF, 1);
}

} // namespace
} // namespace talvine
