// The dialogs as native windows: Talvine.dll loaded by a host that shows a
// window, so that the library picks its Win32 view, and every dialog used
// through window messages only, as a user's mouse and keyboard would: button
// clicks, double clicks and typing into edit fields, a drag of a trackbar's
// thumb, a press on a spin arrow, the message box answered.  The script runs
// from a timer of the host's window, so that it acts from inside whatever
// message loop runs: the host's own for the modeless dialogs, the modal
// loop of a modal dialog, the loop of a message box.
//
// Each picture is compared, byte for byte, with what the same actions give
// through the automation API, run by the library linked into this program
// on a thread that shows no window (where the library stays headless).
//
// Setting TALVINE_SCREENSHOT to a file name writes the tilt dialog, as the
// screen shows it, into that file as a BMP.
#include "HostPictures.h"
#include "core/ExtendedPrecision.h"
#include "dialogs/ModifAngle.h"
#include "plugin/Library.h"
#include "toolkit/Automation.h"
#include "toolkit/Locale.h"
#include "views/win32/Win32View.h"

#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

using namespace talvine;
using namespace talvine::hosttest;

namespace {

using AdrRetourFn = decltype(&::AdrRetour);

// ------------------------------------------------------------ the host

constexpr UINT_PTR kScriptTimer = 77;
std::deque<std::function<void()>> gScript;

LRESULT CALLBACK hostProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_TIMER && wp == kScriptTimer) {
        if (!gScript.empty()) {
            auto step = std::move(gScript.front());
            gScript.pop_front();
            step(); // may run a loop of its own, in which the next steps run
        }
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

HWND gHost = nullptr;
HMODULE gModule = nullptr;
XchgDataFn gXchg = nullptr;
AdrRetourFn gAdrRetour = nullptr;

// The x87 control word each callback of the module ran with.
std::vector<uint16_t> gCallbackWords;
void TALVINE_CALL recordWord(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e, int32_t nature,
                             intptr_t param, int32_t modifiee, int32_t fin) {
    gCallbackWords.push_back(x87ControlWord());
    onCallback(a, b, c, d, e, nature, param, modifiee, fin);
}

// Dispatches the thread's messages for `ms` milliseconds: the host's loop.
void pump(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left.count()), QS_ALLINPUT);
    }
}

// Runs the script from the host's timer, a step every 40 ms, while `loop`
// runs (the host's own loop by default) until the script is done.
void play(std::deque<std::function<void()>> steps, const std::function<void()>& loop = {}) {
    gScript = std::move(steps);
    SetTimer(gHost, kScriptTimer, 40, nullptr);
    if (loop) {
        loop();
    } else {
        for (int i = 0; i < 400 && !gScript.empty(); ++i)
            pump(25);
        pump(100);
    }
    KillTimer(gHost, kScriptTimer);
    EXPECT_TRUE(gScript.empty()) << gScript.size() << " steps of the script did not run";
    gScript.clear();
}

// ------------------------------------------------------------ finding windows

std::string nameOf(HWND hwnd) {
    HANDLE atom = GetPropW(hwnd, views::kControlNameProperty);
    if (!atom) return {};
    char name[256] = {};
    GlobalGetAtomNameA(static_cast<ATOM>(reinterpret_cast<UINT_PTR>(atom)), name, sizeof name);
    return name;
}

// The window of a form ("ChangeDim") or control ("ChangeDim.DimHorz").
HWND named(const std::string& name) {
    for (HWND top : views::threadWindows()) {
        if (nameOf(top) == name) return top;
        for (HWND child : views::childWindows(top))
            if (nameOf(child) == name) return child;
    }
    ADD_FAILURE() << "no window named " << name;
    return nullptr;
}

std::wstring classOf(HWND hwnd) {
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    return name;
}

std::wstring textOf(HWND hwnd) {
    wchar_t text[512] = {};
    GetWindowTextW(hwnd, text, 512);
    return text;
}

std::wstring wide(const char* utf8) {
    wchar_t out[512] = {};
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, out, 512);
    return out;
}

// ------------------------------------------------------------ a user's input

POINT centre(HWND hwnd) {
    RECT r{};
    GetClientRect(hwnd, &r);
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

void mouse(HWND hwnd, UINT msg, POINT p, WPARAM keys) {
    SendMessageW(hwnd, msg, keys, MAKELPARAM(p.x, p.y));
}

void click(const std::string& name) {
    HWND h = named(name);
    ASSERT_TRUE(IsWindowVisible(h) && IsWindowEnabled(h)) << name;
    const POINT p = centre(h);
    mouse(h, WM_LBUTTONDOWN, p, MK_LBUTTON);
    mouse(h, WM_LBUTTONUP, p, 0);
}

// Keys go where the focus is, as the keyboard's do.
void typeKeys(const std::string& text) {
    for (char ch : text)
        SendMessageW(GetFocus(), WM_CHAR, static_cast<WPARAM>(ch), 1);
}

void pressKey(WPARAM vk) {
    HWND focus = GetFocus();
    SendMessageW(focus, WM_KEYDOWN, vk, 1);
    SendMessageW(GetFocus(), WM_KEYUP, vk, 0xC0000001);
}

// A double click on a number selects it; typing replaces it.
void retype(const std::string& name, const std::string& text) {
    HWND h = named(name);
    const POINT p = centre(h);
    mouse(h, WM_LBUTTONDOWN, p, MK_LBUTTON);
    mouse(h, WM_LBUTTONUP, p, 0);
    mouse(h, WM_LBUTTONDBLCLK, p, MK_LBUTTON);
    mouse(h, WM_LBUTTONUP, p, 0);
    EXPECT_EQ(GetFocus(), h) << name << " did not take the focus";
    typeKeys(text);
}

// Drags the thumb of a trackbar towards `value`; returns where it ended.
int drag(const std::string& name, int value) {
    HWND h = named(name);
    RECT thumb{}, channel{};
    SendMessageW(h, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
    SendMessageW(h, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
    const int min = static_cast<int>(SendMessageW(h, TBM_GETRANGEMIN, 0, 0));
    const int max = static_cast<int>(SendMessageW(h, TBM_GETRANGEMAX, 0, 0));
    const int thumbWidth = thumb.right - thumb.left;
    const int span = channel.right - channel.left - thumbWidth;
    const POINT from{(thumb.left + thumb.right) / 2, (thumb.top + thumb.bottom) / 2};
    const POINT to{channel.left + thumbWidth / 2 + (value - min) * span / (max - min), from.y};
    mouse(h, WM_LBUTTONDOWN, from, MK_LBUTTON);
    mouse(h, WM_MOUSEMOVE, {(from.x + to.x) / 2, from.y}, MK_LBUTTON);
    mouse(h, WM_MOUSEMOVE, to, MK_LBUTTON);
    mouse(h, WM_LBUTTONUP, to, 0);
    return static_cast<int>(SendMessageW(h, TBM_GETPOS, 0, 0));
}

// The message box on screen: its caption and text; answered with OK.
struct BoxSeen {
    std::wstring caption;
    std::wstring text;
};

BoxSeen answerBox() {
    BoxSeen seen;
    HWND box = nullptr;
    for (HWND h : views::threadWindows())
        if (classOf(h) == L"#32770" && IsWindowVisible(h)) box = h;
    if (!box) {
        ADD_FAILURE() << "no message box is shown";
        return seen;
    }
    seen.caption = textOf(box);
    for (HWND h : views::childWindows(box))
        if (classOf(h) == L"Static" && textOf(h).size() > 2) seen.text = textOf(h);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    return seen;
}

// The window as the screen shows it, into a 24-bit BMP file.
void screenshot(HWND hwnd, const char* path) {
    RECT r{};
    GetWindowRect(hwnd, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
    const DWORD size = stride * static_cast<DWORD>(h);
    BITMAPFILEHEADER file{
        0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + size), 0,
        0, sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    out.write(static_cast<const char*>(bits), size);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

// ------------------------------------------------------------ commands

// Opens `command` on a fresh copy of the picture through the module.
// `report` hands a picked point to the open dialog, as the host does when
// the user clicks its picture.
struct Session {
    Result result;
    PtsImg buffer;
    explicit Session(int command) : command_(command) {
        result.picture = source();
        result.size = {kW, kH};
        buffer = result.picture;
        gResult = &result;
    }
    ~Session() { gResult = nullptr; }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    void open() { gXchg(command_, 0, 0, 0, 0, kW, kH, 0, 0, buffer.handle(), nullptr, 0, 0); }
    void report(Point p) { hosttest::report(gXchg, command_, p, buffer); }
    // The picture the command ended with (so far).
    std::vector<uint8_t> bytes() {
        Result r = result;
        takeResult(r, buffer);
        return bytesOf(r.picture.data(), r.size);
    }

  private:
    int command_;
};

// The same command answered through the automation API by the linked
// library, on a thread that shows no window.
std::vector<uint8_t>
expected(int command, const std::function<void(tk::Automation&, PtsImg&)>& drive, bool modal) {
    std::vector<uint8_t> out;
    std::thread([&] {
        // The arithmetic's own precision, whatever a new thread starts with.
        setX87ControlWord(kExtendedControlWord);
        const Result r = run(&XchgData, command, drive, modal);
        EXPECT_TRUE(r.ended && r.applied) << "command " << command << " through the automation API";
        out = bytesOf(r.picture.data(), r.size);
    }).join();
    return out;
}

void reportLinked(int command, Point p, PtsImg& buffer) {
    report(&XchgData, command, p, buffer);
}

// The two points of the tilt, each box clicked and its point reported: by
// window messages, and the same through the automation API.
void pickTilt(Session& s, Point first, Point second) {
    click("InclineHorz.PtRot1");
    s.report(first);
    click("InclineHorz.PtRot2");
    s.report(second);
}

void pickTiltLinked(tk::Automation& ui, PtsImg& buffer, Point first, Point second) {
    ui.click("InclineHorz.PtRot1");
    ui.advance(300);
    reportLinked(3, first, buffer);
    ui.click("InclineHorz.PtRot2");
    ui.advance(300);
    reportLinked(3, second, buffer);
}

class Win32Dialogs : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(startLibrary());
        AdrRetour(&onCallback, 7);
        WNDCLASSEXW cls{};
        cls.cbSize = sizeof cls;
        cls.lpfnWndProc = &hostProc;
        cls.hInstance = GetModuleHandleW(nullptr);
        cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
        cls.lpszClassName = L"TalvineTestHost";
        RegisterClassExW(&cls);
        gHost = CreateWindowExW(0, L"TalvineTestHost", L"H\u00f4te de test", WS_OVERLAPPEDWINDOW, 0,
                                0, 900, 700, nullptr, nullptr, cls.hInstance, nullptr);
        ASSERT_TRUE(gHost);
        ShowWindow(gHost, SW_SHOW);
        pump(50);
        // Paths from the build machine are reached through Wine's Z: drive.
        gModule = LoadLibraryW((L"Z:" + wide(TALVINE_MODULE_PATH)).c_str());
        ASSERT_TRUE(gModule) << "cannot load " << TALVINE_MODULE_PATH;
        gXchg = reinterpret_cast<XchgDataFn>(
            reinterpret_cast<void*>(GetProcAddress(gModule, "XchgData")));
        gAdrRetour = reinterpret_cast<AdrRetourFn>(
            reinterpret_cast<void*>(GetProcAddress(gModule, "AdrRetour")));
        ASSERT_TRUE(gXchg && gAdrRetour);
        gAdrRetour(&onCallback, 8);
    }
    static void TearDownTestSuite() {
        if (gModule) FreeLibrary(gModule);
        if (gHost) DestroyWindow(gHost);
        stopLibrary();
    }
};

TEST_F(Win32Dialogs, TiltPickBoxesBlinkOnTheHostsLoopAndTheResultIsTheAutomationsOwn) {
    Session s(3);
    s.open();
    HWND form = named("InclineHorz");
    ASSERT_TRUE(form);
    EXPECT_TRUE(IsWindowVisible(form));
    EXPECT_EQ(textOf(form), wide("Inclinaison de l'horizon"));
    EXPECT_TRUE(GetWindowLongW(form, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_TRUE(IsWindowEnabled(gHost)) << "a modeless dialog leaves the host usable";
    click("InclineHorz.InterBiLin");
    click("InclineHorz.PtRot1");
    // The waiting box blinks, from the dialog's timer, on the host's loop.
    HWND box = named("InclineHorz.PtRot1");
    int changes = 0;
    bool was = IsWindowVisible(box);
    for (int i = 0; i < 40; ++i) {
        pump(20);
        if (IsWindowVisible(box) != was) {
            ++changes;
            was = !was;
        }
    }
    EXPECT_GE(changes, 2) << "the pick box did not blink";
    s.report({11, 70});
    EXPECT_TRUE(IsWindowVisible(box)) << "a picked box stops blinking, shown";
    EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), BST_CHECKED);
    click("InclineHorz.PtRot2");
    pump(300);
    s.report({120, 59});
    pump(50);
    if (const char* path = std::getenv("TALVINE_SCREENSHOT")) screenshot(form, path);
    click("InclineHorz.Appliquer");
    EXPECT_TRUE(s.result.ended && s.result.applied);
    EXPECT_FALSE(IsWindowVisible(form));
    EXPECT_EQ(s.bytes(), expected(
                             3,
                             [](tk::Automation& ui, PtsImg& buffer) {
                                 ui.click("InclineHorz.InterBiLin");
                                 pickTiltLinked(ui, buffer, {11, 70}, {120, 59});
                                 ui.click("InclineHorz.Appliquer");
                             },
                             false));
}

// Input reaches the dialogs through the host's loop, outside any entry
// point: the window procedures set the 80-bit precision too.
// Input reaches the dialogs through the host's loop, outside any entry
// point: the window procedures compute at 64-bit precision too, and the
// callbacks made from them run under the host's own control word.
TEST_F(Win32Dialogs, AHostAtDoublePrecisionKeepsItsControlWordAndGetsTheSameBytes) {
    const uint16_t hostWord = 0x027F; // 53-bit precision, as some runtimes set it
    const uint16_t own = x87ControlWord();
    gAdrRetour(&recordWord, 8);
    gCallbackWords.clear();
    setX87ControlWord(hostWord);
    Session s(3);
    s.open();
    pickTilt(s, {11, 70}, {120, 59});
    click("InclineHorz.InterBiLin"); // the preview again, from the click
    click("InclineHorz.Appliquer");  // and the final callback
    const uint16_t after = x87ControlWord();
    setX87ControlWord(own);
    gAdrRetour(&onCallback, 8);
    EXPECT_EQ(after, hostWord);
    ASSERT_GE(gCallbackWords.size(), 3u);
    for (uint16_t word : gCallbackWords)
        EXPECT_EQ(word, hostWord) << "a callback ran under the library's control word";
    EXPECT_TRUE(s.result.ended && s.result.applied);
    EXPECT_EQ(s.bytes(), expected(
                             3,
                             [](tk::Automation& ui, PtsImg& buffer) {
                                 pickTiltLinked(ui, buffer, {11, 70}, {120, 59});
                                 ui.click("InclineHorz.InterBiLin");
                                 ui.click("InclineHorz.Appliquer");
                             },
                             false));
}

TEST_F(Win32Dialogs, TheWarningIsANativeMessageBoxAnsweredByTheUser) {
    Session s(3);
    s.open();
    click("InclineHorz.PtRot1");
    s.report({40, 20});
    click("InclineHorz.PtRot2");
    BoxSeen seen;
    // The second point straight below the first: the report shows a box,
    // whose own loop runs the next step.
    HWND form = named("InclineHorz");
    auto onTop = [form] { return (GetWindowLongW(form, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; };
    bool onTopDuringBox = true;
    play({[&] {
              s.report({40, 60});
          },
          [&] {
              onTopDuringBox = onTop();
              seen = answerBox();
          }});
    EXPECT_EQ(seen.caption, L"Avertissement");
    EXPECT_EQ(seen.text, wide(dialogs::kEcartNul));
    EXPECT_FALSE(onTopDuringBox) << "the dialog stays on top of its own warning";
    EXPECT_TRUE(onTop()) << "and is on top again after it";
    EXPECT_TRUE(IsWindowVisible(form)) << "the dialog stays open";
    click("InclineHorz.Annuler");
    EXPECT_TRUE(s.result.ended);
    EXPECT_FALSE(s.result.applied);
    EXPECT_FALSE(IsWindowVisible(named("InclineHorz")));
}

TEST_F(Win32Dialogs, TheWindowsCloseMessageEndsTheDialogAsItsCancelButton) {
    Session s(3);
    s.open();
    pickTilt(s, {11, 70}, {120, 59});
    const auto preview = s.bytes();
    ASSERT_NE(preview, bytesOf(source().data(), {kW, kH})) << "no preview in the host's buffer";
    SendMessageW(named("InclineHorz"), WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(named("InclineHorz")));
    EXPECT_TRUE(s.result.ended);
    EXPECT_FALSE(s.result.applied);
    // The host gets its picture back from its own copy, as after Annuler.
    EXPECT_EQ(s.bytes(), preview);
}

TEST_F(Win32Dialogs, AQuitDuringAModalDialogClosesItAndReachesTheHostsLoop) {
    Session s(7);
    play({[] { PostQuitMessage(3); }}, [&] { s.open(); });
    EXPECT_FALSE(IsWindowVisible(named("ChangeDim")));
    EXPECT_TRUE(IsWindowEnabled(gHost));
    EXPECT_FALSE(s.result.applied);
    MSG msg{};
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
        << "the quit did not come back to the host's loop";
    EXPECT_EQ(msg.wParam, 3u);
}

TEST_F(Win32Dialogs, CropFieldsTypedTabMovesOnAndEnterAppliesTheDefaultButton) {
    Session s(6);
    s.open();
    // The proportion's radio group: one item checked at a time, back to free.
    for (int item : {3, 0}) {
        click("RogneImg.FormatImg:" + std::to_string(item));
        for (int k = 0; k < 5; ++k)
            EXPECT_EQ(
                SendMessageW(named("RogneImg.FormatImg:" + std::to_string(k)), BM_GETCHECK, 0, 0),
                k == item ? BST_CHECKED : BST_UNCHECKED)
                << "item " << k << " after a click on item " << item;
    }
    retype("RogneImg.MrgG", "9");
    // Tab goes to the next field and selects its text, which typing replaces.
    pressKey(VK_TAB);
    HWND next = named("RogneImg.MrgH");
    ASSERT_EQ(GetFocus(), next);
    DWORD from = 1, to = 0;
    SendMessageW(next, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
    EXPECT_EQ(from, 0u);
    EXPECT_EQ(to, static_cast<DWORD>(textOf(next).size()));
    typeKeys("5");
    retype("RogneImg.DimHorz", "100");
    retype("RogneImg.DimVert", "61");
    EXPECT_EQ(textOf(named("RogneImg.DimVert")), L"61");
    pressKey(VK_RETURN);
    EXPECT_TRUE(s.result.ended && s.result.applied);
    EXPECT_EQ(s.result.size.Largeur, 100);
    EXPECT_EQ(s.result.size.Hauteur, 61);
    EXPECT_EQ(s.bytes(), expected(
                             6,
                             [](tk::Automation& ui, PtsImg&) {
                                 ui.clickItem("RogneImg.FormatImg", 3);
                                 ui.clickItem("RogneImg.FormatImg", 0);
                                 ui.replaceText("RogneImg.MrgG", "9");
                                 ui.press(tk::KeyCode::Tab);
                                 ui.typeText("RogneImg.MrgH", "5");
                                 ui.replaceText("RogneImg.DimHorz", "100");
                                 ui.replaceText("RogneImg.DimVert", "61");
                                 ui.press(tk::KeyCode::Enter);
                             },
                             false));
}

TEST_F(Win32Dialogs, ResizeIsModalAndItsSpinArrowSteps) {
    Session s(7);
    std::wstring afterSpin;
    bool hostDisabled = false;
    play({
             [&] { hostDisabled = !IsWindowEnabled(gHost); },
             [&] {
                 HWND arrows = named("ChangeDim.TauxH:up");
                 RECT r{};
                 GetClientRect(arrows, &r);
                 mouse(arrows, WM_LBUTTONDOWN, {r.right / 2, r.bottom / 4}, MK_LBUTTON);
                 mouse(arrows, WM_LBUTTONUP, {r.right / 2, r.bottom / 4}, 0);
                 afterSpin = textOf(named("ChangeDim.TauxH"));
             },
             [&] { click("ChangeDim.Lissage"); },
             [&] { click("ChangeDim.LienHsurL"); },
             [&] { retype("ChangeDim.DimHorz", "200"); },
             [&] { retype("ChangeDim.DimVert", "53"); },
             [&] { click("ChangeDim.Appliquer"); },
         },
         [&] { s.open(); });
    EXPECT_TRUE(hostDisabled) << "the modal dialog disables the host's window";
    EXPECT_TRUE(IsWindowEnabled(gHost));
    EXPECT_EQ(afterSpin, L"110");
    EXPECT_TRUE(s.result.ended && s.result.applied);
    EXPECT_EQ(s.result.size.Largeur, 200);
    EXPECT_EQ(s.result.size.Hauteur, 53);
    EXPECT_EQ(s.bytes(), expected(
                             7,
                             [](tk::Automation& ui, PtsImg&) {
                                 ui.queue([&ui] {
                                     ui.pressSpin("ChangeDim.TauxH", true);
                                     ui.click("ChangeDim.Lissage");
                                     ui.click("ChangeDim.LienHsurL");
                                     ui.replaceText("ChangeDim.DimHorz", "200");
                                     ui.replaceText("ChangeDim.DimVert", "53");
                                     ui.click("ChangeDim.Appliquer");
                                 });
                             },
                             true));
}

TEST_F(Win32Dialogs, DistortionSliderDraggedByTheMouse) {
    Session s(8);
    int position = 0;
    std::wstring shown;
    play({
             [&] { click("CorrDist.InterQuad"); },
             [&] {
                 position = drag("CorrDist.TauxCorr", 23);
                 shown = textOf(named("CorrDist.TauxC"));
             },
             [&] { click("CorrDist.Appliquer"); },
         },
         [&] { s.open(); });
    EXPECT_NEAR(position, 23, 2);
    EXPECT_NE(position, 0);
    EXPECT_EQ(shown, wide((tk::formatFixed(std::abs(position) / 10.0L, 2, 2) + " %").c_str()))
        << "the label shows the slider's value";
    EXPECT_TRUE(s.result.ended && s.result.applied);
    EXPECT_EQ(s.bytes(),
              expected(
                  8,
                  [position](tk::Automation& ui, PtsImg&) {
                      ui.queue([&ui] { ui.click("CorrDist.InterQuad"); });
                      ui.queue([&ui, position] { ui.dragSlider("CorrDist.TauxCorr", position); });
                      ui.queue([&ui] { ui.click("CorrDist.Appliquer"); });
                  },
                  true));
}

TEST_F(Win32Dialogs, PerspectiveCornersPickedAndApplied) {
    Session s(9);
    s.open();
    const int vertical = drag("CorrPerspect.CorrVert", 7);
    EXPECT_EQ(vertical, 7);
    click("CorrPerspect.InterQuad");
    const char* boxes[4] = {"CorrPerspect.PosHG", "CorrPerspect.PosHD", "CorrPerspect.PosBD",
                            "CorrPerspect.PosBG"};
    const Point corners[4] = {{20, 3}, {112, 0}, {131, 87}, {0, 84}};
    for (int k = 0; k < 4; ++k) {
        click(boxes[k]);
        pump(250);
        s.report(corners[k]);
    }
    click("CorrPerspect.Appliquer");
    EXPECT_TRUE(s.result.ended && s.result.applied);
    EXPECT_EQ(s.bytes(), expected(
                             9,
                             [&](tk::Automation& ui, PtsImg& buffer) {
                                 ui.dragSlider("CorrPerspect.CorrVert", vertical);
                                 ui.click("CorrPerspect.InterQuad");
                                 for (int k = 0; k < 4; ++k) {
                                     ui.click(boxes[k]);
                                     ui.advance(300);
                                     reportLinked(9, corners[k], buffer);
                                 }
                                 ui.click("CorrPerspect.Appliquer");
                             },
                             false));
}

} // namespace
