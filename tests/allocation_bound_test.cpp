// PrmDLL on a damaged copy of the module reports 0 and 0 with the title and
// the description, and allocates nothing larger than the file.  Every
// command on a picture without pixels (W x 0 or 0 x H, with a side as
// large as 32 bits allow) allocates almost nothing and still ends as it
// should.  This program replaces the global operator new: it records the
// largest single request and refuses any request above a cap, so that a
// command that would size a buffer by one side alone fails here at once
// instead of filling gigabytes.
#include "core/ParamCoul.h"
#include "plugin/Library.h"
#include "support/TestHost.h"
#include "toolkit/Automation.h"

#include <gtest/gtest.h>

#include <elf.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kCap = std::size_t{64} << 20;
std::atomic<std::size_t> gLargest{0};

void* allocate(std::size_t size) {
    std::size_t seen = gLargest.load();
    while (size > seen && !gLargest.compare_exchange_weak(seen, size)) {
    }
    if (size > kCap) throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}

} // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace talvine {
namespace {

using test::Recorder;

constexpr int32_t kBig = 2147483647;

class EmptyPictures : public ::testing::TestWithParam<TDimImg> {
  protected:
    void SetUp() override {
        ASSERT_TRUE(startLibrary());
        AdrRetour(&Recorder::callback, 5);
        ui = std::make_unique<tk::Automation>(talvine::application());
        ui->headless().clearActions();
        ui->headless().clearFailures();
        Recorder::clear();
        gLargest = 0;
    }
    void TearDown() override { AdrRetour(nullptr, 0); }

    void run(int32_t cmd) {
        const TDimImg d = GetParam();
        XchgData(cmd, 0, 0, 0, 0, d.Largeur, d.Hauteur, 0, 0, nullptr, nullptr, 0, 0);
    }
    std::unique_ptr<tk::Automation> ui;
};

TEST_P(EmptyPictures, InstantCommandsAllocateNothingAndCallBackWithTheirSize) {
    const TDimImg d = GetParam();
    const struct {
        int32_t cmd;
        Point size;
    } cases[] = {{1, {d.Hauteur, d.Largeur}},
                 {2, {d.Hauteur, d.Largeur}},
                 {4, {d.Largeur, d.Hauteur}},
                 {5, {d.Largeur, d.Hauteur}}};
    for (const auto& c : cases) {
        Recorder::clear();
        gLargest = 0;
        run(c.cmd);
        EXPECT_LT(gLargest.load(), std::size_t{1} << 16) << "command " << c.cmd;
        ASSERT_EQ(Recorder::calls().size(), 1u) << "command " << c.cmd;
        EXPECT_EQ(Recorder::calls()[0], (test::Call{5, c.size, {0, 0}, rtImage, 0, 1, 1, 0}))
            << "command " << c.cmd;
    }
}

TEST_P(EmptyPictures, DialogCommandsOpenAndCloseWithoutLargeBuffers) {
    const TDimImg d = GetParam();
    // The modeless ones open, then the user cancels.
    for (const auto& [cmd, form] :
         {std::pair{3, "InclineHorz"}, std::pair{6, "RogneImg"}, std::pair{9, "CorrPerspect"}}) {
        Recorder::clear();
        gLargest = 0;
        run(cmd);
        ASSERT_TRUE(ui->form(form).visible()) << form;
        ui->click(std::string(form) + ".Annuler");
        EXPECT_LT(gLargest.load(), std::size_t{1} << 20) << form;
        ASSERT_FALSE(Recorder::calls().empty());
        EXPECT_EQ(Recorder::calls().back().fin, 1) << form;
        EXPECT_EQ(Recorder::calls().back().modifiee, 0) << form;
    }
    // The distortion dialog, applied at once.
    Recorder::clear();
    gLargest = 0;
    ui->queue([this] { ui->click("CorrDist.Appliquer"); });
    run(8);
    EXPECT_LT(gLargest.load(), std::size_t{1} << 20);
    ASSERT_EQ(Recorder::calls().size(), 1u);
    EXPECT_EQ(Recorder::calls()[0],
              (test::Call{5, {d.Largeur, d.Hauteur}, {0, 0}, rtImage, 0, 1, 1, 0}));
    // The resize, with nobody to answer it: it ends as a cancel, without a
    // callback, and without sizing anything by the huge side.
    Recorder::clear();
    gLargest = 0;
    run(7);
    EXPECT_LT(gLargest.load(), std::size_t{1} << 20);
    EXPECT_TRUE(Recorder::calls().empty());
    EXPECT_FALSE(ui->form("ChangeDim").visible());
    ui->headless().clearFailures();
}

INSTANTIATE_TEST_SUITE_P(WideAndTall, EmptyPictures,
                         ::testing::Values(TDimImg{kBig, 0}, TDimImg{0, kBig}, TDimImg{0, 0}));

// A copy of Talvine.so whose section headers are damaged.  The system's
// loader never reads section headers, so the copy loads and runs; only the
// reading of its own version record meets the damage.
class DamagedModule : public ::testing::Test {
  protected:
    void SetUp() override {
        std::ifstream in(TALVINE_MODULE_PATH, std::ios::binary);
        image.assign(std::istreambuf_iterator<char>(in), {});
        ASSERT_GT(image.size(), sizeof(Elf64_Ehdr));
        std::memcpy(&header, image.data(), sizeof header);
        ASSERT_EQ(header.e_shentsize, sizeof(Elf64_Shdr));
        const Elf64_Shdr names = section(header.e_shstrndx);
        for (int i = 0; i < header.e_shnum; ++i)
            if (std::strcmp(image.data() + names.sh_offset + section(i).sh_name,
                            "talvine_version") == 0)
                version = i;
        ASSERT_GT(version, 0);
        dir = std::filesystem::temp_directory_path() /
              ("talvine-damaged-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    Elf64_Shdr section(int index) const {
        Elf64_Shdr s;
        std::memcpy(&s, image.data() + header.e_shoff + size_t(index) * sizeof s, sizeof s);
        return s;
    }

    // The texts are copied while the module is still loaded.
    struct Result {
        int32_t major = -1, minor = -1;
        std::string title = "(null)", description = "(null)";
    };
    // Writes the copy with `damage` applied to it, loads it and asks PrmDLL.
    Result prmDLL(const std::string& name, const std::function<void(std::vector<char>&)>& damage) {
        std::vector<char> copy = image;
        damage(copy);
        const auto path = dir / (name + ".so");
        std::ofstream(path, std::ios::binary).write(copy.data(), std::streamsize(copy.size()));
        test::Module module(path.string());
        Result r;
        const char* title = nullptr;
        gLargest = 0;
        const char* description = module.PrmDLL(&r.major, &r.minor, &title);
        largest = gLargest.load();
        if (title) r.title = title;
        if (description) r.description = description;
        return r;
    }
    void patchSection(std::vector<char>& copy, int index, uint64_t offset, uint64_t size) const {
        Elf64_Shdr s = section(index);
        s.sh_offset = offset;
        s.sh_size = size;
        std::memcpy(copy.data() + header.e_shoff + size_t(index) * sizeof s, &s, sizeof s);
    }
    void expectZeroVersion(const Result& r) const {
        EXPECT_EQ(r.major, 0);
        EXPECT_EQ(r.minor, 0);
        EXPECT_EQ(r.title, "G\xE9om\xE9trie");
        EXPECT_EQ(r.description, "Quilmar (Orvante)");
        EXPECT_LE(largest, image.size());
    }

    std::vector<char> image;
    Elf64_Ehdr header{};
    int version = -1;
    std::filesystem::path dir;
    std::size_t largest = 0;
};

TEST_F(DamagedModule, IntactCopyReadsItsVersion) {
    const Result r = prmDLL("intact", [](std::vector<char>&) {});
    EXPECT_EQ(r.major, 4);
    EXPECT_EQ(r.minor, 0);
    EXPECT_EQ(r.description, "Quilmar (Orvante)");
}

TEST_F(DamagedModule, HeadersWhoseOffsetPlusSizeWrapAroundGiveZeroAndZero) {
    // The record: offset + size wraps to just below the end of the file.
    expectZeroVersion(prmDLL("record-wraps", [this](std::vector<char>& c) {
        patchSection(c, version, 0x100, ~uint64_t{0} - 0x80);
    }));
    // The section names: 4 GiB claimed, offset + size wraps to 16.
    expectZeroVersion(prmDLL("names-wrap", [this](std::vector<char>& c) {
        patchSection(c, header.e_shstrndx, (~uint64_t{0} - 0xFFFFFFFFu) + 0x11, 0x100000000u);
    }));
    // The table of section headers itself, past the end after wrapping.
    expectZeroVersion(prmDLL("table-wraps", [this](std::vector<char>& c) {
        Elf64_Ehdr h = header;
        h.e_shoff = ~uint64_t{0} - 63;
        std::memcpy(c.data(), &h, sizeof h);
    }));
    // A record larger than the file, without wrapping.
    expectZeroVersion(prmDLL("record-too-large", [this](std::vector<char>& c) {
        patchSection(c, version, 0x40, image.size());
    }));
}

} // namespace
} // namespace talvine
