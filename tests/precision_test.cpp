// Whatever x87 precision the host set, commands compute with 80-bit long
// doubles, the host gets its own control word back, and its callback runs
// with it.
#include "core/ExtendedPrecision.h"
#include "core/ParamCoul.h"
#include "plugin/Library.h"
#include "support/TestHost.h"
#include "toolkit/Automation.h"

#include <gtest/gtest.h>

#if defined(__i386__) || defined(__x86_64__)
namespace talvine {
namespace {

using test::bytesOf;
using test::Call;
using test::Recorder;

constexpr int32_t kW = 97, kH = 61;
// 53-bit precision, round to nearest, all exceptions masked: what hosts
// built with long double as double run with.
constexpr uint16_t kDoubleWord = 0x027F;

// The control words of the callbacks made inside XchgData (those made
// from the dialog's own events run outside any entry point).
std::vector<uint16_t> gCallbackWords;
bool gInside = false;
void noteWord(const Call&) {
    if (gInside) gCallbackWords.push_back(x87ControlWord());
}

// Opens the tilt, picks two points, and returns the bilinear preview the
// host's buffer holds; every XchgData runs under `word`, which must be the
// control word again once it returns.
std::vector<uint8_t> tiltUnder(uint16_t word) {
    const PtsImg source = test::randomPicture(kW, kH, 7);
    const PtsImg buffer = test::randomPicture(kW, kH, 7);
    tk::Automation ui(talvine::application());
    auto call = [&](auto&&... args) {
        const uint16_t before = x87ControlWord();
        setX87ControlWord(word);
        gInside = true;
        XchgData(args...);
        gInside = false;
        EXPECT_EQ(x87ControlWord(), word);
        setX87ControlWord(before);
    };
    call(3, 0, 0, 0, 0, kW, kH, 0, 0, source.handle(), nullptr, 0, 0);
    ui.click("InclineHorz.InterBiLin");
    ui.click("InclineHorz.PtRot1");
    ui.advance(300);
    call(3, 0, 0, 5, 17, kW, kH, 1, 0, nullptr, buffer.handle(), 0, 0);
    ui.click("InclineHorz.PtRot2");
    ui.advance(300);
    call(3, 0, 0, 90, 3, kW, kH, 1, 0, nullptr, buffer.handle(), 0, 0);
    ui.click("InclineHorz.Annuler");
    return bytesOf(buffer);
}

TEST(Precision, TheHostsDoublePrecisionChangesNoByteAndComesBack) {
    ASSERT_TRUE(startLibrary());
    AdrRetour(&Recorder::callback, 1);
    Recorder::clear();
    Recorder::setHook(&noteWord);

    // The host's setting does take effect outside the library: 1 + 2^-60
    // is 1 at 53 bits.
    const uint16_t saved = x87ControlWord();
    setX87ControlWord(kDoubleWord);
    volatile long double tiny = 0x1p-60L;
    const bool rounded = (1.0L + tiny) - 1.0L == 0.0L;
    setX87ControlWord(saved);
    ASSERT_TRUE(rounded);

    // At 53 bits first: the engines' threads start inside this run.
    gCallbackWords.clear();
    const std::vector<uint8_t> atDouble = tiltUnder(kDoubleWord);
    ASSERT_FALSE(gCallbackWords.empty());
    for (uint16_t w : gCallbackWords)
        EXPECT_EQ(w, kDoubleWord);

    gCallbackWords.clear();
    const std::vector<uint8_t> atExtended = tiltUnder(kExtendedControlWord);
    for (uint16_t w : gCallbackWords)
        EXPECT_EQ(w, kExtendedControlWord);

    EXPECT_NE(atExtended, bytesOf(test::randomPicture(kW, kH, 7))) << "no preview was written";
    EXPECT_EQ(atDouble, atExtended);
    Recorder::setHook(nullptr);
}

// A host that unmasks exceptions gets them back unmasked, with nothing
// pending from the library's work.
TEST(Precision, UnmaskedExceptionsAreMaskedWhileTheLibraryWorks) {
    ASSERT_TRUE(startLibrary());
    AdrRetour(&Recorder::callback, 1);
    const uint16_t unmasked = 0x0372; // overflow, zero-divide and invalid unmasked
    const uint16_t saved = x87ControlWord();
    {
        setX87ControlWord(unmasked);
        {
            const ExtendedPrecision inside;
            EXPECT_EQ(x87ControlWord() & 0x0F3F, kExtendedControlWord & 0x0F3F);
            volatile long double zero = 0.0L;
            volatile long double r = 1.0L / zero; // masked: infinity, flag set
            (void)r;
        }
        EXPECT_EQ(x87ControlWord(), unmasked);
        uint16_t status;
        __asm__ volatile("fnstsw %0" : "=m"(status));
        EXPECT_EQ(status & 0x3F, 0) << "an exception flag was left pending";
    }
    setX87ControlWord(saved);
}

// A view's window procedure is entered from a control's (the library's word
// is in force: the host's word stays the outer host's) or from a loop's
// dispatch of host code (whose word is then the host's).
TEST(Precision, NestedEntriesKeepTheWordOfTheHostCodeAroundThem) {
    const uint16_t saved = x87ControlWord();
    constexpr uint16_t kSingleWord = 0x007F; // 24-bit precision
    setX87ControlWord(kDoubleWord);
    std::vector<uint16_t> seen;
    {
        const ExtendedPrecision entry;
        {
            const ExtendedPrecision nested;
            seen.push_back(x87ControlWord());
            const HostPrecision callback;
            seen.push_back(x87ControlWord());
        }
        {
            const HostPrecision dispatch;
            setX87ControlWord(kSingleWord); // host code sets a word of its own
            {
                const ExtendedPrecision reentered;
                seen.push_back(x87ControlWord());
                const HostPrecision callback;
                seen.push_back(x87ControlWord());
            }
            seen.push_back(x87ControlWord());
        }
        seen.push_back(x87ControlWord());
    }
    seen.push_back(x87ControlWord());
    setX87ControlWord(saved);
    EXPECT_EQ(seen,
              (std::vector<uint16_t>{kExtendedControlWord, kDoubleWord, kExtendedControlWord,
                                     kSingleWord, kSingleWord, kExtendedControlWord, kDoubleWord}));
}

} // namespace
} // namespace talvine
#endif
