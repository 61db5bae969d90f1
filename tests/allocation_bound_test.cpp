// Every command on a picture without pixels (W x 0 or 0 x H, with a side as
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

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

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
        ui = std::make_unique<tk::Automation>(tk::application());
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
    // The resize has no size to take percentages of: it ends at once.
    Recorder::clear();
    run(7);
    EXPECT_TRUE(Recorder::calls().empty());
    EXPECT_EQ(ui->headless().pendingActions(), 0u);
    EXPECT_TRUE(ui->failures().empty());
}

INSTANTIATE_TEST_SUITE_P(WideAndTall, EmptyPictures,
                         ::testing::Values(TDimImg{kBig, 0}, TDimImg{0, kBig}, TDimImg{0, 0}));

} // namespace
} // namespace talvine
