#include "views/win32/Win32View.h"

#include "core/ExtendedPrecision.h"
#include "toolkit/Form.h"
#include "views/ViewRules.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <optional>

namespace talvine::views {
namespace {

constexpr const wchar_t* kFormClass = L"TalvineForm";
constexpr const wchar_t* kImageClass = L"TalvineImage";
constexpr const wchar_t* kTimerClass = L"TalvineTimers";

std::wstring wide(const std::string& s) {
    if (s.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(std::max(n, 0)), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

// Caret and selection of the model count UTF-8 bytes; Windows counts UTF-16
// units.  Both always sit on character boundaries.
size_t unitsBefore(const std::string& text, size_t bytes) {
    return wide(text.substr(0, std::min(bytes, text.size()))).size();
}

size_t bytesBefore(const std::string& text, size_t units) {
    size_t bytes = 0, counted = 0;
    while (bytes < text.size() && counted < units) {
        const auto lead = static_cast<unsigned char>(text[bytes]);
        const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        counted += length == 4 ? 2 : 1;
        bytes = std::min(text.size(), bytes + length);
    }
    return bytes;
}

std::wstring windowText(HWND hwnd) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

void setWindowText(HWND hwnd, const std::wstring& text) {
    if (windowText(hwnd) != text) SetWindowTextW(hwnd, text.c_str());
}

// A key as the toolkit names it; nothing for keys the forms never use.
// Printable characters come as WM_CHAR.
std::optional<tk::Key> keyOf(WPARAM vk) {
    using K = tk::KeyCode;
    switch (vk) {
    case VK_RETURN:
        return tk::Key{K::Enter, 0};
    case VK_ESCAPE:
        return tk::Key{K::Escape, 0};
    case VK_TAB:
        return tk::Key{K::Tab, 0};
    case VK_BACK:
        return tk::Key{K::Backspace, 0};
    case VK_DELETE:
        return tk::Key{K::Delete, 0};
    case VK_LEFT:
        return tk::Key{K::Left, 0};
    case VK_RIGHT:
        return tk::Key{K::Right, 0};
    case VK_UP:
        return tk::Key{K::Up, 0};
    case VK_DOWN:
        return tk::Key{K::Down, 0};
    case VK_HOME:
        return tk::Key{K::Home, 0};
    case VK_END:
        return tk::Key{K::End, 0};
    case VK_PRIOR:
        return tk::Key{K::PageUp, 0};
    case VK_NEXT:
        return tk::Key{K::PageDown, 0};
    default:
        return std::nullopt;
    }
}

// The control's own Visible and Enabled and those of the group boxes
// around it: the native controls all sit directly in the form's window.
bool visibleInForm(const tk::Control& c) {
    for (const tk::Control* p = &c; p && p->kind() != tk::ControlKind::Form; p = p->parent())
        if (!p->visible()) return false;
    return true;
}

bool enabledInForm(const tk::Control& c) {
    for (const tk::Control* p = &c; p && p->kind() != tk::ControlKind::Form; p = p->parent())
        if (!p->enabled()) return false;
    return true;
}

// Where the control's parent places its children, in the form's client area.
POINT originOf(const tk::Control& c) {
    POINT o{0, 0};
    for (const tk::Control* p = c.parent(); p && p->kind() != tk::ControlKind::Form;
         p = p->parent()) {
        o.x += p->bounds().left;
        o.y += p->bounds().top;
    }
    return o;
}

DWORD textAlignment(tk::Alignment a, DWORD left, DWORD right, DWORD center) {
    switch (a) {
    case tk::Alignment::Right:
        return right;
    case tk::Alignment::Center:
        return center;
    case tk::Alignment::Left:
        break;
    }
    return left;
}

// A picture as a top-down 24-bit DIB: blue, green, red, rows padded to four
// bytes.
BITMAPINFO dibHeader(int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

size_t dibStride(int width) {
    return (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
}

bool wellFormed(const tk::Picture& p) {
    return p.width > 0 && p.height > 0 &&
           p.rgb.size() >= static_cast<size_t>(p.width) * static_cast<size_t>(p.height) * 3;
}

void toDib(const tk::Picture& p, uint8_t* out) {
    const size_t stride = dibStride(p.width);
    for (int y = 0; y < p.height; ++y) {
        const uint8_t* src = &p.rgb[static_cast<size_t>(y) * static_cast<size_t>(p.width) * 3];
        uint8_t* dst = out + static_cast<size_t>(y) * stride;
        for (int x = 0; x < p.width; ++x, src += 3, dst += 3) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
        }
    }
}

HBITMAP bitmapOf(const tk::Picture& p) {
    if (!wellFormed(p)) return nullptr;
    BITMAPINFO info = dibHeader(p.width, p.height);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap && bits) toDib(p, static_cast<uint8_t*>(bits));
    return bitmap;
}

// The system's arrow and hourglass (IDC_ARROW and IDC_WAIT, whose
// definitions follow the build's character set).
HCURSOR systemCursor(bool hourglass) {
    return LoadCursorW(nullptr, MAKEINTRESOURCEW(hourglass ? 32514 : 32512));
}

HINSTANCE thisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&thisModule), &module);
    return module;
}

void nameWindow(HWND hwnd, const std::string& name) {
    if (const ATOM atom = GlobalAddAtomW(wide(name).c_str()))
        SetPropW(hwnd, kControlNameProperty, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(atom)));
}

void unnameWindow(HWND hwnd) {
    if (HANDLE atom = RemovePropW(hwnd, kControlNameProperty))
        GlobalDeleteAtom(static_cast<ATOM>(reinterpret_cast<UINT_PTR>(atom)));
}

// Sets `flag` for as long as it lives: native controls changed meanwhile do
// not report their change back as input.
struct Syncing {
    explicit Syncing(int& n) : n_(n) { ++n_; }
    ~Syncing() { --n_; }
    Syncing(const Syncing&) = delete;
    Syncing& operator=(const Syncing&) = delete;
    int& n_;
};

// What a window of ours was made for: the creation parameter, kept in its
// user data from WM_NCCREATE on (null for the messages before).
template <class T> T* windowData(HWND hwnd, UINT msg, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lp);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    return reinterpret_cast<T*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

BOOL CALLBACK collectWindow(HWND hwnd, LPARAM out) {
    reinterpret_cast<std::vector<HWND>*>(out)->push_back(hwnd);
    return TRUE;
}

} // namespace

std::vector<HWND> threadWindows() {
    std::vector<HWND> windows;
    EnumThreadWindows(GetCurrentThreadId(), &collectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::vector<HWND> childWindows(HWND parent) {
    std::vector<HWND> windows;
    EnumChildWindows(parent, &collectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

struct Win32View::FormWindow {
    Win32View* view = nullptr;
    tk::Form* form = nullptr;
    HWND hwnd = nullptr;
    HFONT font = nullptr;
    std::vector<HWND> disabled; // the thread's windows a modal form disabled
    int nextId = 1000;
    ~FormWindow() {
        if (font) DeleteObject(font);
    }
};

struct Win32View::Entry {
    FormWindow* owner = nullptr;
    HWND main = nullptr; // the edit of a spin edit, the box of a radio group
    HWND spin = nullptr;
    std::vector<HWND> items;
    HBITMAP glyph = nullptr;
    std::vector<uint8_t> dib; // an image's pixels
    int width = 0;
    int height = 0;
    bool stretch = false;
    bool trackPressed = false;
    ~Entry() {
        if (glyph) DeleteObject(glyph);
    }
};

Win32View::Win32View(tk::Application& app) : app_(app), ui_(app), instance_(thisModule()) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);
    WNDCLASSEXW form{};
    form.cbSize = sizeof form;
    form.lpfnWndProc = &Win32View::formProc;
    form.hInstance = instance_;
    form.hCursor = systemCursor(false);
    form.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    form.lpszClassName = kFormClass;
    RegisterClassExW(&form);
    WNDCLASSEXW image = form;
    image.lpfnWndProc = &Win32View::imageProc;
    image.lpszClassName = kImageClass;
    RegisterClassExW(&image);
    WNDCLASSEXW timers{};
    timers.cbSize = sizeof timers;
    timers.lpfnWndProc = &Win32View::timerProc;
    timers.hInstance = instance_;
    timers.lpszClassName = kTimerClass;
    RegisterClassExW(&timers);
    timerWindow_ =
        CreateWindowExW(0, kTimerClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance_, this);
    app_.addObserver(this);
}

Win32View::~Win32View() {
    // The forms may be gone already (the application destroys its view
    // last): nothing of the model is touched from here on.
    closing_ = true;
    for (const auto& [id, tick] : timers_)
        KillTimer(timerWindow_, id);
    timers_.clear();
    if (hourglass_) SetCursor(systemCursor(false));
    auto windows = std::move(windows_);
    for (auto& [form, fw] : windows) {
        for (HWND other : fw->disabled)
            if (IsWindow(other)) EnableWindow(other, TRUE);
        if (IsWindow(fw->hwnd)) DestroyWindow(fw->hwnd);
    }
    entries_.clear();
    if (timerWindow_) DestroyWindow(timerWindow_);
    UnregisterClassW(kFormClass, instance_);
    UnregisterClassW(kImageClass, instance_);
    UnregisterClassW(kTimerClass, instance_);
    if (quitPending_) PostQuitMessage(quitCode_);
}

HWND Win32View::window(const tk::Form& form) const {
    auto it = windows_.find(&form);
    return it == windows_.end() ? nullptr : it->second->hwnd;
}

HWND Win32View::handle(const tk::Control& control) const {
    if (control.kind() == tk::ControlKind::Form)
        return window(static_cast<const tk::Form&>(control));
    const Entry* e = entryOf(control);
    return e ? e->main : nullptr;
}

Win32View::Entry* Win32View::entryOf(const tk::Control& c) const {
    auto it = entries_.find(&c);
    return it == entries_.end() ? nullptr : it->second.get();
}

const Win32View::Target* Win32View::targetOf(HWND hwnd) const {
    auto it = targets_.find(hwnd);
    return it == targets_.end() ? nullptr : &it->second;
}

void Win32View::input(tk::Control& c, const std::function<void()>& action) {
    if (syncing_ || closing_) return;
    runInput(action);
    if (!closing_) refresh(c);
}

void Win32View::key(tk::Control* c, tk::Form& form, tk::Key k) {
    input(c ? *c : form, [&] { pressKey(ui_, c, k); });
}

// ---------------------------------------------------------------- building

HWND Win32View::makeChild(FormWindow& fw, const wchar_t* cls, DWORD style, DWORD exStyle,
                          const std::string& name, const Target& target) {
    HWND hwnd = CreateWindowExW(exStyle, cls, L"", WS_CHILD | WS_CLIPSIBLINGS | style, 0, 0, 0, 0,
                                fw.hwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(fw.nextId++)),
                                instance_, this);
    if (!hwnd) throw tk::ToolkitError("cannot make the window of " + name);
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(fw.font), FALSE);
    SetWindowSubclass(hwnd, &Win32View::controlProc, 1, reinterpret_cast<DWORD_PTR>(this));
    nameWindow(hwnd, name);
    targets_[hwnd] = target;
    return hwnd;
}

Win32View::FormWindow* Win32View::build(tk::Form& form) {
    if (auto it = windows_.find(&form); it != windows_.end()) return it->second.get();
    const tk::FormDesc& d = form.description();
    auto owned = std::make_unique<FormWindow>();
    FormWindow& fw = *owned;
    fw.view = this;
    fw.form = &form;
    HDC screen = GetDC(nullptr);
    const int height = -MulDiv(d.fontSize, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, screen);
    fw.font = CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                          DEFAULT_PITCH | FF_DONTCARE, wide(d.fontName).c_str());
    DWORD style = WS_POPUP | WS_CAPTION;
    if (d.systemMenu) style |= WS_SYSMENU;
    DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    if (form.stayOnTop()) exStyle |= WS_EX_TOPMOST;
    // A form that is not always on top is owned by the host's active
    // window, so that it stays above it (a modal form cannot go behind the
    // window it disabled) and goes with it.  A form on top of everything
    // is owned by nobody: it must be able to step down for a box of its
    // own, and an owned window does not (Wine keeps it topmost).
    HWND owner = nullptr;
    if (!form.stayOnTop()) {
        owner = GetActiveWindow();
        if (owner && targetOf(owner)) owner = GetWindow(owner, GW_OWNER);
    }
    fw.hwnd = CreateWindowExW(exStyle, kFormClass, wide(form.text()).c_str(), style, 0, 0,
                              d.clientWidth, d.clientHeight, owner, nullptr, instance_, &fw);
    if (!fw.hwnd) throw tk::ToolkitError("cannot make the window of form '" + form.name() + "'");
    SendMessageW(fw.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(fw.font), FALSE);
    nameWindow(fw.hwnd, form.name());
    targets_[fw.hwnd] = Target{&form};
    windows_[&form] = std::move(owned);
    for (const auto& c : form.controls())
        if (!c->parent() || c->parent() == &form) buildControl(*c, fw);

    // Labels and images lie under the other controls of their parent,
    // whatever their order in the description (check boxes over a
    // preview), and group boxes under everything they hold, the outer
    // boxes lowest.
    using K = tk::ControlKind;
    auto lower = [](HWND h) {
        SetWindowPos(h, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    };
    for (const auto& c : form.controls())
        if (c->kind() == K::Label || c->kind() == K::Image)
            if (Entry* e = entryOf(*c)) lower(e->main);
    for (auto it = form.controls().rbegin(); it != form.controls().rend(); ++it)
        if ((*it)->kind() == K::GroupBox || (*it)->kind() == K::RadioGroup)
            if (Entry* e = entryOf(**it)) lower(e->main);

    refreshForm(form);
    RECT outer{};
    GetWindowRect(fw.hwnd, &outer);
    int x = form.bounds().left, y = form.bounds().top;
    if (d.position == tk::FormPosition::ScreenCenter) {
        RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
        x = (area.left + area.right - (outer.right - outer.left)) / 2;
        y = (area.top + area.bottom - (outer.bottom - outer.top)) / 2;
    }
    SetWindowPos(fw.hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return &fw;
}

void Win32View::buildControl(tk::Control& c, FormWindow& fw) {
    using K = tk::ControlKind;
    if (c.kind() == K::Timer || c.kind() == K::Form) return;
    auto e = std::make_unique<Entry>();
    e->owner = &fw;
    const std::string name = fw.form->name() + "." + c.name();
    const Target target{&c};
    switch (c.kind()) {
    case K::Label:
        e->main = makeChild(
            fw, L"STATIC", SS_NOPREFIX | textAlignment(c.alignment(), SS_LEFT, SS_RIGHT, SS_CENTER),
            0, name, target);
        break;
    case K::Image:
        e->main = makeChild(fw, kImageClass, 0, 0, name, target);
        break;
    case K::GroupBox:
        e->main = makeChild(fw, L"BUTTON", BS_GROUPBOX, 0, name, target);
        break;
    case K::Button:
    case K::BitBtn:
        e->main = makeChild(fw, L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, 0, name, target);
        break;
    case K::CheckBox:
        e->main = makeChild(fw, L"BUTTON", WS_TABSTOP | BS_CHECKBOX, 0, name, target);
        break;
    case K::RadioButton:
        e->main = makeChild(fw, L"BUTTON", WS_TABSTOP | BS_RADIOBUTTON, 0, name, target);
        break;
    case K::RadioGroup: {
        e->main = makeChild(fw, L"BUTTON", BS_GROUPBOX, 0, name, target);
        const auto& g = static_cast<tk::RadioGroup&>(c);
        for (int i = 0; i < static_cast<int>(g.items().size()); ++i)
            e->items.push_back(makeChild(fw, L"BUTTON", WS_TABSTOP | BS_RADIOBUTTON, 0,
                                         name + ":" + std::to_string(i), Target{&c, i}));
        break;
    }
    case K::Edit:
    case K::EditVal:
    case K::SpinEdit:
        e->main = makeChild(fw, L"EDIT",
                            WS_TABSTOP | ES_AUTOHSCROLL |
                                textAlignment(c.alignment(), ES_LEFT, ES_RIGHT, ES_CENTER),
                            WS_EX_CLIENTEDGE, name, target);
        if (c.kind() == K::SpinEdit)
            e->spin = makeChild(fw, UPDOWN_CLASSW, 0, 0, name + ":up", Target{&c, -1, true});
        break;
    case K::TrackBar:
    case K::BarreCurseur: {
        const bool vertical =
            static_cast<tk::TrackBar&>(c).orientation() == tk::Orientation::Vertical;
        e->main =
            makeChild(fw, TRACKBAR_CLASSW,
                      WS_TABSTOP | TBS_AUTOTICKS | (vertical ? TBS_VERT | TBS_RIGHT : TBS_BOTTOM),
                      0, name, target);
        break;
    }
    case K::Form:
    case K::Timer:
        return;
    }
    entries_[&c] = std::move(e);
    for (tk::Control* child : c.children())
        buildControl(*child, fw);
}

void Win32View::forget(HWND formWindow) {
    unnameWindow(formWindow);
    targets_.erase(formWindow);
    if (closing_) return;
    for (auto it = windows_.begin(); it != windows_.end(); ++it) {
        if (it->second->hwnd != formWindow) continue;
        FormWindow* fw = it->second.get();
        std::erase_if(entries_, [fw](const auto& entry) { return entry.second->owner == fw; });
        windows_.erase(it);
        return;
    }
}

// ---------------------------------------------------------------- redrawing

void Win32View::refreshForm(tk::Form& form) {
    HWND hwnd = window(form);
    if (!hwnd) return;
    Syncing sync(syncing_);
    setWindowText(hwnd, wide(form.text()));
    RECT r{0, 0, form.bounds().width, form.bounds().height};
    AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE)));
    SetWindowPos(hwnd, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    const bool onTop = (GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    if (onTop != form.stayOnTop())
        SetWindowPos(hwnd, form.stayOnTop() ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void Win32View::refreshTree(tk::Control& c) {
    refresh(c);
    for (tk::Control* child : c.children())
        refreshTree(*child);
}

void Win32View::refresh(tk::Control& c) {
    using K = tk::ControlKind;
    if (c.kind() == K::Form) {
        refreshForm(static_cast<tk::Form&>(c));
        return;
    }
    Entry* found = entryOf(c);
    if (!found) return;
    Entry& e = *found;
    Syncing sync(syncing_);
    const POINT o = originOf(c);
    const tk::Rect& b = c.bounds();
    const int x = o.x + b.left, y = o.y + b.top;
    const std::wstring text = wide(c.text());
    MoveWindow(e.main, x, y, b.width, b.height, TRUE);
    switch (c.kind()) {
    case K::Label:
        setWindowText(e.main, text);
        if (b.width <= 0 || b.height <= 0) {
            // Sized to its caption.
            HDC dc = GetDC(e.main);
            HGDIOBJ old = SelectObject(dc, e.owner->font);
            SIZE size{};
            GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
            SelectObject(dc, old);
            ReleaseDC(e.main, dc);
            MoveWindow(e.main, x, y, size.cx, size.cy, TRUE);
        }
        break;
    case K::Image: {
        const auto& image = static_cast<tk::Image&>(c);
        const tk::Picture& p = image.picture();
        e.stretch = image.stretch();
        if (wellFormed(p)) {
            e.width = p.width;
            e.height = p.height;
            e.dib.assign(dibStride(p.width) * static_cast<size_t>(p.height), 0);
            toDib(p, e.dib.data());
        } else {
            e.width = e.height = 0;
            e.dib.clear();
        }
        InvalidateRect(e.main, nullptr, FALSE);
        break;
    }
    case K::GroupBox:
        setWindowText(e.main, text);
        break;
    case K::Button:
    case K::BitBtn: {
        const auto& button = static_cast<tk::Button&>(c);
        setWindowText(e.main, text);
        SendMessageW(e.main, BM_SETSTYLE, button.isDefault() ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON,
                     TRUE);
        if (!e.glyph && wellFormed(button.glyph())) {
            e.glyph = bitmapOf(button.glyph());
            SendMessageW(e.main, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(e.glyph));
        }
        break;
    }
    case K::CheckBox:
        setWindowText(e.main, text);
        SendMessageW(e.main, BM_SETCHECK,
                     static_cast<tk::CheckBox&>(c).checked() ? BST_CHECKED : BST_UNCHECKED, 0);
        break;
    case K::RadioButton:
        setWindowText(e.main, text);
        SendMessageW(e.main, BM_SETCHECK,
                     static_cast<tk::RadioButton&>(c).checked() ? BST_CHECKED : BST_UNCHECKED, 0);
        break;
    case K::RadioGroup: {
        const auto& g = static_cast<tk::RadioGroup&>(c);
        setWindowText(e.main, text);
        const int count = static_cast<int>(e.items.size());
        for (int i = 0; i < count; ++i) {
            HWND item = e.items[static_cast<size_t>(i)];
            const tk::Rect r = radioItemBounds(i, count, g.columns(), b.width, b.height);
            MoveWindow(item, x + r.left, y + r.top, r.width, r.height, TRUE);
            setWindowText(item, static_cast<size_t>(i) < g.items().size()
                                    ? wide(g.items()[static_cast<size_t>(i)])
                                    : std::wstring());
            SendMessageW(item, BM_SETCHECK, i == g.itemIndex() ? BST_CHECKED : BST_UNCHECKED, 0);
        }
        break;
    }
    case K::Edit:
    case K::EditVal:
    case K::SpinEdit: {
        const auto& edit = static_cast<tk::Edit&>(c);
        setWindowText(e.main, text);
        const size_t start = unitsBefore(c.text(), edit.selStart());
        const size_t end = unitsBefore(c.text(), edit.selStart() + edit.selLength());
        SendMessageW(e.main, EM_SETSEL, start, static_cast<LPARAM>(end));
        if (e.spin) {
            const int arrows = std::min(16, b.width / 3);
            MoveWindow(e.main, x, y, b.width - arrows, b.height, TRUE);
            MoveWindow(e.spin, x + b.width - arrows, y, arrows, b.height, TRUE);
        }
        break;
    }
    case K::TrackBar:
    case K::BarreCurseur: {
        const auto& t = static_cast<tk::TrackBar&>(c);
        SendMessageW(e.main, TBM_SETRANGEMIN, FALSE, t.min());
        SendMessageW(e.main, TBM_SETRANGEMAX, FALSE, t.max());
        SendMessageW(e.main, TBM_SETTICFREQ, static_cast<WPARAM>(std::max(1, t.frequency())), 0);
        SendMessageW(e.main, TBM_SETPAGESIZE, 0, t.pageSize());
        SendMessageW(e.main, TBM_SETLINESIZE, 0, t.lineSize());
        // While the user drags the thumb it stays under the pointer.
        if (!(t.dragging() && GetCapture() == e.main))
            SendMessageW(e.main, TBM_SETPOS, TRUE, t.position());
        break;
    }
    case K::Form:
    case K::Timer:
        break;
    }
    const bool shown = visibleInForm(c), usable = enabledInForm(c);
    std::vector<HWND> parts{e.main};
    if (e.spin) parts.push_back(e.spin);
    parts.insert(parts.end(), e.items.begin(), e.items.end());
    for (HWND part : parts) {
        EnableWindow(part, usable);
        ShowWindow(part, shown ? SW_SHOWNA : SW_HIDE);
    }
}

void Win32View::focusFromModel(tk::Form& form) {
    tk::Control* focused = form.focusedControl();
    HWND hwnd = window(form);
    if (!focused || !hwnd || GetActiveWindow() != hwnd) return;
    Entry* e = entryOf(*focused);
    if (!e) return;
    HWND target = e->main;
    if (focused->kind() == tk::ControlKind::RadioGroup && !e->items.empty()) {
        const int index = static_cast<tk::RadioGroup&>(*focused).itemIndex();
        target = e->items[static_cast<size_t>(
            std::clamp(index, 0, static_cast<int>(e->items.size()) - 1))];
    }
    if (GetFocus() == target) return;
    Syncing sync(syncing_);
    SetFocus(target);
}

void Win32View::selectionToModel(tk::Control& c, HWND edit) {
    DWORD start = 0, end = 0;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    auto& field = static_cast<tk::Edit&>(c);
    const size_t from = bytesBefore(c.text(), std::min(start, end));
    const size_t to = bytesBefore(c.text(), std::max(start, end));
    if (from == field.selStart() && to - from == field.selLength()) return;
    input(c, [&] { app_.dispatch([&] { field.select(from, to - from); }); });
}

void Win32View::enableOthers(tk::Form& form, bool enable) {
    auto it = windows_.find(&form);
    if (it == windows_.end()) return;
    FormWindow& fw = *it->second;
    if (enable) {
        for (HWND other : fw.disabled)
            if (IsWindow(other)) EnableWindow(other, TRUE);
        fw.disabled.clear();
        return;
    }
    for (HWND other : threadWindows())
        if (other != fw.hwnd && IsWindowVisible(other) && IsWindowEnabled(other)) {
            fw.disabled.push_back(other);
            EnableWindow(other, FALSE);
        }
}

// ---------------------------------------------------------------- backend

void Win32View::showForm(tk::Form& form) {
    FormWindow* fw = build(form);
    refreshForm(form);
    for (const auto& c : form.controls())
        refresh(*c);
    {
        Syncing sync(syncing_);
        if (form.modal() && fw->disabled.empty()) enableOthers(form, false);
        ShowWindow(fw->hwnd, SW_SHOW);
        SetForegroundWindow(fw->hwnd);
        SetActiveWindow(fw->hwnd);
    }
    focusFromModel(form);
}

void Win32View::hideForm(tk::Form& form) {
    HWND hwnd = window(form);
    if (!hwnd) return;
    // The windows a modal form disabled come back before it hides, so that
    // the activation goes back to them.
    enableOthers(form, true);
    {
        Syncing sync(syncing_);
        ShowWindow(hwnd, SW_HIDE);
    }
    // The quit a modal loop took goes on to the loop outside it.
    if (quitPending_) {
        quitPending_ = false;
        PostQuitMessage(quitCode_);
    }
}

void Win32View::runModalStep(tk::Form& form) {
    MSG msg{};
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == -1) throw tk::ToolkitError("the message loop of form '" + form.name() + "' failed");
    if (got == 0) {
        // The application is quitting: the modal form closes as its cancel
        // button would, and the quit goes on to the outer loop.
        quitPending_ = true;
        quitCode_ = static_cast<int>(msg.wParam);
        input(form, [&] { app_.dispatch([&] { form.close(); }); });
        return;
    }
    // The host's windows get their messages under the host's control word.
    const HostPrecision host;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

void Win32View::startTimer(TimerId id, int intervalMs, std::function<void()> tick) {
    stopTimer(id);
    const auto key = static_cast<UINT_PTR>(id);
    timers_[key] = std::move(tick);
    SetTimer(timerWindow_, key, static_cast<UINT>(std::max(intervalMs, USER_TIMER_MINIMUM)),
             nullptr);
}

void Win32View::stopTimer(TimerId id) {
    const auto key = static_cast<UINT_PTR>(id);
    if (timers_.erase(key)) KillTimer(timerWindow_, key);
}

void Win32View::showBox(const tk::Box& box) {
    UINT flags = MB_OK | MB_SETFOREGROUND | MB_TOPMOST;
    if (box.kind == tk::BoxKind::Error) flags |= MB_ICONERROR;
    if (box.kind == tk::BoxKind::Warning) flags |= MB_ICONWARNING;
    if (box.kind == tk::BoxKind::Information) flags |= MB_ICONINFORMATION;
    HWND owner = nullptr;
    if (tk::Form* active = app_.activeForm()) owner = window(*active);
    if (!owner) owner = GetActiveWindow();
    // The box's own loop serves the host's windows too.
    const HostPrecision host;
    MessageBoxW(owner, wide(box.text).c_str(), wide(box.caption).c_str(), flags);
}

void Win32View::showCursor(Cursor cursor) {
    hourglass_ = cursor == Cursor::Hourglass;
    SetCursor(systemCursor(hourglass_));
}

void Win32View::beep() {
    MessageBeep(MB_OK);
}

// ---------------------------------------------------------------- observer

void Win32View::changed(tk::Control& control, tk::Change what) {
    if (closing_) return;
    if (control.kind() == tk::ControlKind::Form) {
        auto& form = static_cast<tk::Form&>(control);
        if (what == tk::Change::Focus)
            focusFromModel(form);
        else if (what != tk::Change::Visible)
            refreshForm(form);
        return;
    }
    if (what == tk::Change::Visible || what == tk::Change::Enabled || what == tk::Change::Bounds)
        refreshTree(control);
    else
        refresh(control);
}

// ---------------------------------------------------------------- input

LRESULT CALLBACK Win32View::formProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* fw = windowData<FormWindow>(hwnd, msg, lp);
    if (!fw) return DefWindowProcW(hwnd, msg, wp, lp);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        Win32View* view = fw->view;
        view->forget(hwnd); // may delete fw
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
    // Input from the host's loop runs outside any entry point: the same
    // 80-bit arithmetic as inside one, and callbacks under the host's word.
    const ExtendedPrecision precision;
    // No exception may cross the system's frames.
    try {
        return fw->view->onFormMessage(*fw, hwnd, msg, wp, lp);
    } catch (...) {
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
}

LRESULT Win32View::onFormMessage(FormWindow& fw, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (closing_) return DefWindowProcW(hwnd, msg, wp, lp);
    tk::Form& form = *fw.form;
    switch (msg) {
    case WM_COMMAND: {
        const Target* t = lp ? targetOf(reinterpret_cast<HWND>(lp)) : nullptr;
        if (!t || HIWORD(wp) != BN_CLICKED) break;
        tk::Control& c = *t->control;
        const int item = t->item;
        using K = tk::ControlKind;
        if (item >= 0)
            input(c, [&] { ui_.clickItem(c, item); });
        else if (c.kind() == K::Button || c.kind() == K::BitBtn || c.kind() == K::CheckBox ||
                 c.kind() == K::RadioButton)
            input(c, [&] { ui_.click(c); });
        return 0;
    }
    case WM_HSCROLL:
    case WM_VSCROLL: {
        const Target* t = lp ? targetOf(reinterpret_cast<HWND>(lp)) : nullptr;
        if (!t || LOWORD(wp) != TB_THUMBTRACK) return 0;
        auto& bar = static_cast<tk::TrackBar&>(*t->control);
        const int position =
            static_cast<int>(SendMessageW(reinterpret_cast<HWND>(lp), TBM_GETPOS, 0, 0));
        if (bar.dragging())
            input(bar, [&] { app_.dispatch([&] { bar.userMouseMove(position); }); });
        return 0;
    }
    case WM_CLOSE:
        // The close button and Alt+F4 close the form as the model says.
        input(form, [&] { app_.dispatch([&] { form.close(); }); });
        return 0;
    case WM_ACTIVATE: {
        const LRESULT r = DefWindowProcW(hwnd, msg, wp, lp);
        if (LOWORD(wp) != WA_INACTIVE) focusFromModel(form);
        return r;
    }
    case WM_SETFOCUS:
        focusFromModel(form);
        return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        // Labels, boxes, check boxes and radio buttons on the form's colour.
        SetBkColor(reinterpret_cast<HDC>(wp), GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    case WM_SETCURSOR:
        if (hourglass_) {
            SetCursor(systemCursor(true));
            return TRUE;
        }
        break;
    case WM_KEYDOWN:
        if (auto k = keyOf(wp)) key(nullptr, form, *k);
        return 0;
    case WM_CHAR:
        if (wp >= 0x20 && wp != 0x7F)
            key(nullptr, form, tk::Key::character(static_cast<char32_t>(wp)));
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK Win32View::controlProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                        DWORD_PTR self) {
    auto* view = reinterpret_cast<Win32View*>(self);
    if (msg == WM_NCDESTROY) {
        RemoveWindowSubclass(hwnd, &Win32View::controlProc, 1);
        unnameWindow(hwnd);
        view->targets_.erase(hwnd);
        return DefSubclassProc(hwnd, msg, wp, lp);
    }
    const ExtendedPrecision precision;
    try {
        return view->onControlMessage(hwnd, msg, wp, lp);
    } catch (...) {
        return DefSubclassProc(hwnd, msg, wp, lp);
    }
}

LRESULT Win32View::onControlMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    const Target* t = targetOf(hwnd);
    if (closing_ || !t) return DefSubclassProc(hwnd, msg, wp, lp);
    tk::Control& c = *t->control;
    Entry* e = entryOf(c);
    if (!e) return DefSubclassProc(hwnd, msg, wp, lp);
    using K = tk::ControlKind;
    const bool isEdit = hwnd == e->main &&
                        (c.kind() == K::Edit || c.kind() == K::EditVal || c.kind() == K::SpinEdit);
    const bool isSlider = c.kind() == K::TrackBar || c.kind() == K::BarreCurseur;
    switch (msg) {
    // Every key goes through the model; the native control never sees one.
    case WM_KEYDOWN:
        if (auto k = keyOf(wp)) key(&c, c.form(), *k);
        return 0;
    case WM_KEYUP:
        return 0;
    case WM_CHAR: {
        const auto unit = static_cast<wchar_t>(wp);
        if (unit >= 0xD800 && unit < 0xDC00) {
            highSurrogate_ = unit;
            return 0;
        }
        char32_t ch = unit;
        if (unit >= 0xDC00 && unit < 0xE000) {
            if (!highSurrogate_) return 0;
            ch = 0x10000 + ((static_cast<char32_t>(highSurrogate_) - 0xD800) << 10) +
                 (unit - 0xDC00);
        }
        highSurrogate_ = 0;
        if (ch >= 0x20 && ch != 0x7F) key(&c, c.form(), tk::Key::character(ch));
        return 0;
    }
    case WM_GETDLGCODE:
        return DLGC_WANTALLKEYS | DLGC_WANTCHARS | DLGC_WANTARROWS | DLGC_WANTTAB;
    // What would change an edit's text behind the model's back.
    case WM_PASTE:
    case WM_CUT:
    case WM_CLEAR:
    case WM_UNDO:
    case EM_UNDO:
    case WM_CONTEXTMENU:
        if (isEdit) return 0;
        break;
    case WM_MOUSEWHEEL:
        return 0; // the wheel moves nothing the model would not know
    case WM_SETFOCUS: {
        const LRESULT r = DefSubclassProc(hwnd, msg, wp, lp);
        // A click that moves the focus moves the model's focus first.
        if (!syncing_ && c.focusable() && c.form().focusedControl() != &c)
            input(c, [&] { app_.dispatch([&] { c.form().setFocus(&c); }); });
        return r;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_LBUTTONUP:
    case WM_MOUSEMOVE:
    case WM_CAPTURECHANGED:
        if (t->spin) {
            if (onSpinMouse(c, hwnd, msg, lp)) return 0;
        } else if (isSlider) {
            if (onSliderMouse(c, *e, hwnd, msg, lp)) return 0;
        } else if (isEdit && (msg != WM_MOUSEMOVE || (wp & MK_LBUTTON))) {
            // The native edit places the caret; the model takes it from there.
            const LRESULT r = DefSubclassProc(hwnd, msg, wp, lp);
            selectionToModel(c, hwnd);
            return r;
        }
        break;
    default:
        break;
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}

bool Win32View::onSpinMouse(tk::Control& c, HWND hwnd, UINT msg, LPARAM lp) {
    auto& spin = static_cast<tk::SpinEdit&>(c);
    switch (msg) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        RECT r{};
        GetClientRect(hwnd, &r);
        const bool up = GET_Y_LPARAM(lp) < (r.bottom - r.top) / 2;
        input(c, [&] {
            ui_.focus(c);
            app_.dispatch([&] { spin.userButtonDown(up); });
        });
        SetCapture(hwnd);
        return true;
    }
    case WM_LBUTTONUP:
        if (GetCapture() == hwnd) ReleaseCapture();
        if (spin.buttonHeld()) input(c, [&] { app_.dispatch([&] { spin.userButtonUp(); }); });
        return true;
    case WM_CAPTURECHANGED:
        if (spin.buttonHeld()) input(c, [&] { app_.dispatch([&] { spin.userButtonUp(); }); });
        return true;
    case WM_MOUSEMOVE:
        return true;
    default:
        return false;
    }
}

bool Win32View::onSliderMouse(tk::Control& c, Entry& e, HWND hwnd, UINT msg, LPARAM lp) {
    auto& bar = static_cast<tk::TrackBar&>(c);
    switch (msg) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        const POINT p{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
        RECT thumb{};
        SendMessageW(hwnd, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
        if (PtInRect(&thumb, p)) {
            input(c, [&] {
                ui_.focus(c);
                app_.dispatch([&] { bar.userMouseDown(tk::MouseButton::Left); });
            });
            e.trackPressed = false;
            return false; // the trackbar drags its thumb; its moves come back as input
        }
        // A press on the track: the value under the pointer.
        RECT channel{};
        SendMessageW(hwnd, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
        const bool vertical = bar.orientation() == tk::Orientation::Vertical;
        // The channel of a vertical trackbar is reported as if it lay flat.
        const int thumbLength = vertical ? thumb.bottom - thumb.top : thumb.right - thumb.left;
        const int span = (channel.right - channel.left) - thumbLength;
        const int at = (vertical ? p.y - channel.left : p.x - channel.left) - thumbLength / 2;
        long long towards = bar.min();
        if (span > 0)
            towards += (static_cast<long long>(std::clamp(at, 0, span)) *
                            (static_cast<long long>(bar.max()) - bar.min()) +
                        span / 2) /
                       span;
        const int value = static_cast<int>(std::clamp<long long>(towards, bar.min(), bar.max()));
        input(c, [&] {
            ui_.focus(c);
            app_.dispatch([&] { bar.userTrackDown(value); });
        });
        e.trackPressed = true;
        SetCapture(hwnd);
        return true;
    }
    case WM_LBUTTONUP:
        if (e.trackPressed) {
            e.trackPressed = false;
            if (GetCapture() == hwnd) ReleaseCapture();
        } else {
            DefSubclassProc(hwnd, msg, 0, lp); // the trackbar ends its drag
        }
        if (bar.dragging()) input(c, [&] { app_.dispatch([&] { bar.userMouseUp(); }); });
        refresh(c);
        return true;
    case WM_CAPTURECHANGED:
        if (e.trackPressed) return true;
        return false;
    case WM_MOUSEMOVE:
        return e.trackPressed; // a press on the track does not repeat
    default:
        return false;
    }
}

LRESULT CALLBACK Win32View::imageProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* view = windowData<Win32View>(hwnd, msg, lp);
    if (msg == WM_ERASEBKGND) return 1;
    if (msg != WM_PAINT || !view) return DefWindowProcW(hwnd, msg, wp, lp);
    PAINTSTRUCT ps{};
    HDC dc = BeginPaint(hwnd, &ps);
    RECT client{};
    GetClientRect(hwnd, &client);
    const Target* t = view->closing_ ? nullptr : view->targetOf(hwnd);
    const Entry* e = t ? view->entryOf(*t->control) : nullptr;
    if (e && e->width > 0) {
        BITMAPINFO info = dibHeader(e->width, e->height);
        if (e->stretch) {
            SetStretchBltMode(dc, COLORONCOLOR);
            StretchDIBits(dc, 0, 0, client.right, client.bottom, 0, 0, e->width, e->height,
                          e->dib.data(), &info, DIB_RGB_COLORS, SRCCOPY);
        } else {
            ExcludeClipRect(dc, 0, 0, e->width, e->height);
            FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
            SelectClipRgn(dc, nullptr);
            SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(e->width), static_cast<DWORD>(e->height),
                              0, 0, 0, static_cast<UINT>(e->height), e->dib.data(), &info,
                              DIB_RGB_COLORS);
        }
    } else {
        FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    }
    EndPaint(hwnd, &ps);
    return 0;
}

LRESULT CALLBACK Win32View::timerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* view = windowData<Win32View>(hwnd, msg, lp);
    if (msg != WM_TIMER || !view || view->closing_) return DefWindowProcW(hwnd, msg, wp, lp);
    auto it = view->timers_.find(static_cast<UINT_PTR>(wp));
    if (it == view->timers_.end()) return 0;
    // The tick may stop its own timer.
    const std::function<void()> tick = it->second;
    const ExtendedPrecision precision;
    try {
        tick();
    } catch (...) {
        // The toolkit's ticks show their own errors; nothing crosses the loop.
    }
    return 0;
}

} // namespace talvine::views
