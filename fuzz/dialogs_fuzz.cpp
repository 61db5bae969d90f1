// The five dialogs in process, driven as a careless user would through the
// automation API: clicks on any control, typed text of digits, signs,
// letters and blanks, keys, slider drags and track clicks, held spin
// arrows, radio items, virtual time for the timers, and the host's picks
// and selections (sub-mode 1) with good, short or missing buffers.  Modal
// dialogs get their actions queued before the call that opens them and
// close as a cancel would when the actions run out.
//
// Checked: every callback's arguments; after each action the cursor is the
// arrow again; a modal call returns with its form hidden and the final
// callback its command makes (one for the distortion, at most one for the
// resize, with a live array of the size it reports); at the end of the
// input every dialog closes with its final callback and has let go of its
// private copy.  Script mistakes (acting on a hidden control) are not
// findings; anything else escaping the toolkit is.
#include "HostStreams.h"
#include "core/ParamCoul.h"
#include "dialogs/CorrDistor.h"
#include "dialogs/DecoupImg.h"
#include "dialogs/Dialogs.h"
#include "dialogs/ModifAngle.h"
#include "dialogs/Perspective.h"
#include "dialogs/Scripts.h"
#include "dialogs/TailleImg.h"
#include "plugin/Library.h"
#include "talvine/talvine.h"
#include "toolkit/Automation.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

using namespace talvine;
namespace scripts = talvine::dialogs::scripts;

[[noreturn]] void fail(const char* what, long long a = 0, long long b = 0);
#define CHECK(cond, ...)                                                                           \
    do {                                                                                           \
        if (!(cond)) fail(#cond __VA_OPT__(, ) __VA_ARGS__);                                       \
    } while (0)

fuzz::HostStreams gStreams;

void fail(const char* what, long long a, long long b) {
    dprintf(gStreams.errorFd(), "dialog check failed: %s (%lld, %lld)\n", what, a, b);
    std::abort();
}
std::unique_ptr<tk::Automation> gUi;

struct State {
    int32_t cmd = 0;      // the command whose dialog is being driven
    int32_t w = 0, h = 0; // the size it opened on
    int finals = 0;
    intptr_t lastParam = 0;
} gState;

void TALVINE_CALL callback(int32_t ctx, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                           int32_t nature, intptr_t param, int32_t modifiee, int32_t fin) {
    CHECK(ctx == 99, ctx);
    CHECK(modifiee == 0 || modifiee == 1, modifiee);
    CHECK(fin == 0 || fin == 1, fin);
    switch (nature) {
    case rtImage:
        CHECK(x2 == 0 && y2 == 0);
        CHECK(x1 >= 0 && y1 >= 0 && x1 <= 8 * 48 && y1 <= 8 * 48, x1, y1);
        if (param) {
            CHECK(gState.cmd == TALVINE_CMD_REDIMENSIONNER && fin == 1 && modifiee == 1,
                  gState.cmd);
            const auto* p = reinterpret_cast<const TPtImg*>(param);
            CHECK(referenceCount(p) >= 1, referenceCount(p));
            CHECK(int64_t{arrayLength(p)} == int64_t{x1} * y1, arrayLength(p), int64_t{x1} * y1);
        } else if (gState.cmd != TALVINE_CMD_REDIMENSIONNER) {
            // The other dialogs keep the size they opened on, or crop inside it.
            if (gState.cmd == TALVINE_CMD_ROGNER)
                CHECK(x1 <= gState.w && y1 <= gState.h, x1, y1);
            else
                CHECK(x1 == gState.w && y1 == gState.h, gState.cmd * 100000LL + x1, y1);
        }
        if (fin) {
            ++gState.finals;
            gState.lastParam = param;
        }
        break;
    case rtSaisie:
        CHECK(x2 == 0 && y2 == 0 && fin == 0 && modifiee == 0 && param <= 1);
        break;
    case rtCadre:
        CHECK(gState.cmd == TALVINE_CMD_ROGNER && param == 1 && fin == 0);
        break;
    case rtFormat:
        CHECK(gState.cmd == TALVINE_CMD_ROGNER && param % 256 == 1 && param <= 1025, param);
        break;
    default:
        fail("unknown kind of callback", nature);
    }
}

std::string someText(FuzzedDataProvider& in) {
    static const char kAlphabet[] = "0123456789012345-+$xX aZ.,\xC3\xA9";
    std::string s;
    const int n = in.ConsumeIntegralInRange(0, 12);
    for (int i = 0; i < n; ++i)
        s.push_back(kAlphabet[in.ConsumeIntegralInRange<size_t>(0, sizeof kAlphabet - 2)]);
    if (in.ConsumeIntegralInRange(0, 7) == 0) s = std::to_string(in.ConsumeIntegral<int32_t>());
    return s;
}

tk::Key someKey(FuzzedDataProvider& in) {
    const auto code = static_cast<tk::KeyCode>(
        in.ConsumeIntegralInRange(0, static_cast<int>(tk::KeyCode::PageDown)));
    if (code == tk::KeyCode::Char)
        return tk::Key::character(static_cast<char32_t>(in.ConsumeIntegralInRange(32, 126)));
    return tk::Key{code, 0};
}

PtsImg gPicture;     // the host's picture for this input
PtsImg gOtherBuffer; // a buffer for reports, sometimes too short

// A pick or a selection from the host, as XchgData's sub-mode 1 brings it.
void report(FuzzedDataProvider& in) {
    TPtImg* buffer = nullptr;
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
        buffer = gPicture.handle();
        break;
    case 1:
        buffer = gOtherBuffer.handle();
        break;
    case 2:
        buffer = nullptr;
        break;
    default:
        break;
    }
    const int32_t x1 = in.ConsumeIntegralInRange(-60, 60), y1 = in.ConsumeIntegralInRange(-60, 60);
    const int32_t x2 = in.ConsumeIntegralInRange(-60, 60), y2 = in.ConsumeIntegralInRange(-60, 60);
    int32_t w = in.ConsumeIntegralInRange(-60, 60), h = in.ConsumeIntegralInRange(-60, 60);
    if (in.ConsumeIntegralInRange(0, 7) == 0) {
        w = in.ConsumeIntegral<int32_t>();
        h = in.ConsumeIntegral<int32_t>();
    }
    const int32_t codeSel = in.ConsumeBool() ? 4 : in.ConsumeIntegralInRange(0, 8);
    // Sometimes meant for another of the picking dialogs (closed, so ignored).
    // Sub-mode 1 of the other commands starts them: the boundary target
    // covers that.
    const int32_t picking[] = {TALVINE_CMD_INCLINAISON, TALVINE_CMD_ROGNER,
                               TALVINE_CMD_PERSPECTIVE};
    const int32_t cmd = in.ConsumeIntegralInRange(0, 3) == 0
                            ? picking[in.ConsumeIntegralInRange(0, 2)]
                            : gState.cmd;
    const int finals = gState.finals;
    XchgData(cmd, x1, y1, x2, y2, w, h, 1, codeSel, nullptr, buffer, 0, 0);
    CHECK(gState.finals == finals, cmd);
}

// One thing a user (or the host) does to the dialog `form`.
void act(FuzzedDataProvider& in, tk::Form& form) {
    tk::Automation& ui = *gUi;
    try {
        const auto& controls = form.controls();
        const int what = in.ConsumeIntegralInRange(0, 15);
        if (what == 0) {
            ui.advance(in.ConsumeIntegralInRange(0, 1000));
            return;
        }
        if (what == 1) {
            ui.press(someKey(in));
            return;
        }
        if (what == 2) {
            if (scripts::takesReports(gState.cmd)) report(in);
            return;
        }
        if (controls.empty()) return;
        tk::Control& c = *controls[in.ConsumeIntegralInRange<size_t>(0, controls.size() - 1)];
        switch (c.kind()) {
        case tk::ControlKind::Edit:
        case tk::ControlKind::EditVal:
        case tk::ControlKind::SpinEdit:
            switch (in.ConsumeIntegralInRange(0, 4)) {
            case 0:
                ui.typeText(c, someText(in));
                break;
            case 1:
                ui.replaceText(c, someText(in));
                break;
            case 2:
                ui.press(c, someKey(in));
                break;
            case 3:
                if (c.kind() == tk::ControlKind::SpinEdit) {
                    ui.pressSpin(c, in.ConsumeBool(), in.ConsumeIntegralInRange(0, 1500));
                    break;
                }
                [[fallthrough]];
            default:
                ui.focus(c);
                break;
            }
            break;
        case tk::ControlKind::TrackBar:
        case tk::ControlKind::BarreCurseur:
            switch (in.ConsumeIntegralInRange(0, 2)) {
            case 0:
                ui.dragSlider(c, in.ConsumeIntegralInRange(-150, 150));
                break;
            case 1:
                ui.clickSliderTrack(c, in.ConsumeIntegralInRange(-150, 150));
                break;
            default:
                ui.press(c, someKey(in));
                break;
            }
            break;
        case tk::ControlKind::RadioGroup:
            ui.clickItem(c, in.ConsumeIntegralInRange(-1, 5));
            break;
        default:
            ui.click(c);
            break;
        }
    } catch (const tk::ToolkitError&) {
        // A script mistake (a hidden or disabled control), not the library's.
    }
    CHECK(ui.cursor() == Cursor::Default);
}

// Closes a modeless dialog as the user would, and checks its end.
void closeModeless(tk::Form& form) {
    if (!form.visible()) return;
    if (auto* crop = dynamic_cast<dialogs::TRogneImg*>(&form))
        for (tk::TEditVal* f : {&crop->MrgG, &crop->MrgH, &crop->DimHorz, &crop->DimVert})
            f->setText("0");
    const int finals = gState.finals;
    scripts::cancel(*gUi, gState.cmd);
    CHECK(!form.visible());
    CHECK(gState.finals == finals + 1, gState.finals, finals);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    gStreams.start();
    if (!startLibrary()) fail("the library did not start");
    gUi = std::make_unique<tk::Automation>(talvine::application());
    AdrRetour(&callback, 99);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    tk::Automation& ui = *gUi;
    gStreams.watch("a dialog session", [&] {
        const int32_t w = in.ConsumeIntegralInRange(1, 48), h = in.ConsumeIntegralInRange(1, 48);
        gPicture = PtsImg(w * h);
        for (int32_t i = 0; i < w * h; ++i)
            gPicture[i] = TPtImg{{static_cast<uint8_t>(i), static_cast<uint8_t>(i * 7),
                                  static_cast<uint8_t>(i * 13)}};
        gOtherBuffer = PtsImg(in.ConsumeBool() ? w * h : in.ConsumeIntegralInRange(0, w * h));

        for (int round = 0; round < 4 && in.remaining_bytes() > 0; ++round) {
            const int32_t cmds[] = {TALVINE_CMD_INCLINAISON, TALVINE_CMD_ROGNER,
                                    TALVINE_CMD_REDIMENSIONNER, TALVINE_CMD_DISTORSION,
                                    TALVINE_CMD_PERSPECTIVE};
            gState = {};
            gState.cmd = cmds[in.ConsumeIntegralInRange(0, 4)];
            gState.w = w;
            gState.h = h;
            tk::Form& form = ui.form(scripts::formName(gState.cmd));
            const int actions = in.ConsumeIntegralInRange(0, 24);
            if (scripts::opensModal(gState.cmd)) {
                for (int i = 0; i < actions; ++i)
                    ui.queue([&in, &form] { act(in, form); });
                XchgData(gState.cmd, 0, 0, 0, 0, w, h, in.ConsumeIntegralInRange(0, 1), 0,
                         gPicture.handle(), nullptr, 0, 0);
                CHECK(!form.visible());
                CHECK(ui.app().modalForm() == nullptr);
                // Actions after the one that closed the dialog never happen.
                ui.headless().clearActions();
                if (gState.cmd == TALVINE_CMD_DISTORSION) CHECK(gState.finals == 1, gState.finals);
                if (gState.cmd == TALVINE_CMD_REDIMENSIONNER)
                    CHECK(gState.finals <= 1, gState.finals);
            } else {
                XchgData(gState.cmd, 0, 0, 0, 0, w, h, 0, 0, gPicture.handle(), nullptr, 0, 0);
                CHECK(form.visible());
                for (int i = 0; i < actions && form.visible(); ++i)
                    act(in, form);
                closeModeless(form);
            }
            CHECK(ui.cursor() == Cursor::Default);
            // A resize result the host keeps, or not: the picture goes on.
            if (gState.lastParam && in.ConsumeBool())
                gPicture = PtsImg::share(reinterpret_cast<TPtImg*>(gState.lastParam));
            if (gState.lastParam) break; // the picture's size changed
        }
        CHECK(dialogs::dialog<dialogs::TInclineHorz>()->PtsInit.empty());
        CHECK(dialogs::dialog<dialogs::TRogneImg>()->PtsInit.empty());
        CHECK(dialogs::dialog<dialogs::TChangeDim>()->PtsInit.empty());
        CHECK(dialogs::dialog<dialogs::TCorrDist>()->PtsInit.empty());
        CHECK(dialogs::dialog<dialogs::TCorrPerspect>()->PtsInit.empty());
        ui.clearBoxes();
        ui.headless().clearFailures();
        gPicture = PtsImg();
        gOtherBuffer = PtsImg();
    });
    return 0;
}
