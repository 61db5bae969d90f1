// The Win32 view of the form toolkit: the dialogs as native windows in a
// Windows host.
//
// One top-level window per form, built the first time the form is shown,
// with one native control per toolkit control: BUTTON (push buttons, check
// boxes, radio buttons, group boxes), STATIC (labels), EDIT, an up-down
// control beside the edit of a spin edit, msctls_trackbar32, and a small
// window class of our own that paints an image.  Every control is a child
// of its form's window, placed at its bounds plus those of the group boxes
// around it, so that notifications reach the form's window procedure
// directly.  Timers are SetTimer timers of a message-only window: they tick
// through whatever message loop runs on the thread, the host's for the
// modeless dialogs, the modal loop's (runModalStep) for the modal ones.
// Boxes are MessageBoxW.
//
// Input goes one way only, as in the Qt view: every key, click, drag and
// spin press reaches the model through the calls Automation makes (or the
// `user...` members of the controls), and the native control is then
// redrawn from the model.  The native controls never act on their own
// (check boxes and radio buttons are not automatic, keys never reach the
// control's own window procedure), so the model and the screen cannot part.
//
// Every window carries the name of its control as a global atom in the
// window property "Talvine.Control" ("Form" for a form's window,
// "Form.Control" for a control, "Form.Control:up" for the up-down control
// of a spin edit, "Form.Control:2" for the third item of a radio group), so
// that tests and accessibility tools can find a control without the model.
#pragma once

#include "toolkit/Application.h"
#include "toolkit/Automation.h"
#include "toolkit/Toolkit.h"

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace talvine::views {

inline constexpr const wchar_t* kControlNameProperty = L"Talvine.Control";

// The top-level windows of the calling thread, and every window inside
// `parent`.
std::vector<HWND> threadWindows();
std::vector<HWND> childWindows(HWND parent);

class Win32View final : public tk::Backend, public tk::Observer {
  public:
    // Registers itself as an observer of `app`, which owns the view
    // (Application::setBackend).  Windows are made on the calling thread,
    // which must run a message loop: the host's user-interface thread.
    explicit Win32View(tk::Application& app);
    ~Win32View() override;
    Win32View(const Win32View&) = delete;
    Win32View& operator=(const Win32View&) = delete;

    // Backend
    void showForm(tk::Form& form) override;
    void hideForm(tk::Form& form) override;
    void runModalStep(tk::Form& form) override;
    void startTimer(TimerId id, int intervalMs, std::function<void()> tick) override;
    void stopTimer(TimerId id) override;
    void showBox(const tk::Box& box) override;
    void showCursor(Cursor cursor) override;
    void beep() override;

    // Observer
    void changed(tk::Control& control, tk::Change what) override;

    // The window of a form and the main window of a control, once the form
    // was shown (null before).
    HWND window(const tk::Form& form) const;
    HWND handle(const tk::Control& control) const;

  private:
    struct Entry;
    struct FormWindow;
    struct Target {
        tk::Control* control = nullptr;
        int item = -1;     // radio group item
        bool spin = false; // the up-down control of a spin edit
    };

    static LRESULT CALLBACK formProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK imageProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK timerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK controlProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                                        DWORD_PTR self);
    LRESULT onFormMessage(FormWindow& fw, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT onControlMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    bool onSliderMouse(tk::Control& c, Entry& e, HWND hwnd, UINT msg, LPARAM lp);
    bool onSpinMouse(tk::Control& c, HWND hwnd, UINT msg, LPARAM lp);

    FormWindow* build(tk::Form& form);
    void buildControl(tk::Control& c, FormWindow& fw);
    HWND makeChild(FormWindow& fw, const wchar_t* cls, DWORD style, DWORD exStyle,
                   const std::string& name, const Target& target);
    void forget(HWND formWindow);
    void refresh(tk::Control& c);
    void refreshTree(tk::Control& c);
    void refreshForm(tk::Form& form);
    void focusFromModel(tk::Form& form);
    void selectionToModel(tk::Control& c, HWND edit);
    void input(tk::Control& c, const std::function<void()>& action);
    void key(tk::Control* c, tk::Form& form, tk::Key key);
    void enableOthers(tk::Form& form, bool enable);
    const Target* targetOf(HWND hwnd) const;
    Entry* entryOf(const tk::Control& c) const;

    tk::Application& app_;
    tk::Automation ui_;
    HINSTANCE instance_;
    HWND timerWindow_ = nullptr;
    std::map<const tk::Form*, std::unique_ptr<FormWindow>> windows_;
    std::map<const tk::Control*, std::unique_ptr<Entry>> entries_;
    std::map<HWND, Target> targets_;
    std::map<UINT_PTR, std::function<void()>> timers_;
    bool hourglass_ = false;
    int syncing_ = 0; // native controls are being set from the model
    bool closing_ = false;
    bool quitPending_ = false; // a WM_QUIT taken by a modal loop, posted again at its end
    int quitCode_ = 0;
    wchar_t highSurrogate_ = 0;
};

} // namespace talvine::views
