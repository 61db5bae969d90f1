// Acting as a user.  Tests, the command-line host and a real view all drive
// forms through these calls: a view routes a real click or key here, a test
// or a script names the control.
//
// Each action checks first that a user could do it (the form is shown, the
// control visible and enabled) and throws ToolkitError otherwise.  An
// exception that escapes an event handler during the action is shown in an
// error box, as the toolkit's standard handler does, and the action returns.
//
// Modal forms run their own loop; actions meant for it are queued before
// the call that opens it:
//
//   ui.queue([&] { ui.typeText("ChangeDim.DimHorz", "333"); });
//   ui.queue([&] { ui.click("ChangeDim.Appliquer"); });
//   XchgData(7, ...);   // shows the form modally, runs both, returns
#pragma once

#include "toolkit/Application.h"
#include "toolkit/Headless.h"

#include <string>
#include <string_view>

namespace talvine::tk {

class Automation {
  public:
    explicit Automation(Application& app);

    // Lookup.  A path is "Form.Control", or "Form" for the form itself.
    Form& form(std::string_view name) const;
    Control& control(std::string_view path) const;
    template <class T> T& get(std::string_view path) const {
        Control& c = control(path);
        if (auto* t = dynamic_cast<T*>(&c)) return *t;
        throw ToolkitError(std::string(path) + " is a " + std::string(kindName(c.kind())));
    }

    // A mouse click: the control takes the focus if it can, then reacts (a
    // button clicks, a check box toggles, a radio button is selected).
    void click(Control& c);
    void click(std::string_view path) { click(control(path)); }
    void clickItem(Control& radioGroup, int index);
    void clickItem(std::string_view path, int index) { clickItem(control(path), index); }
    // Clicks a check box or radio button only if its state differs.
    void setChecked(Control& c, bool checked);
    void setChecked(std::string_view path, bool checked) { setChecked(control(path), checked); }

    // Moves the focus to the control (as Tab does: an edit selects all).
    void focus(Control& c);
    void focus(std::string_view path) { focus(control(path)); }

    // Types UTF-8 text key by key into the control, after giving it the
    // focus if it had not: each key is filtered by the control, changes the
    // text (OnChange), then is released (OnKeyUp).
    void typeText(Control& c, std::string_view text);
    void typeText(std::string_view path, std::string_view text) { typeText(control(path), text); }
    // Selects all the text of a focused edit and types over it.
    void replaceText(Control& c, std::string_view text);
    void replaceText(std::string_view path, std::string_view text) {
        replaceText(control(path), text);
    }
    // One key, down then up, to the control (focusing it) or to the focused
    // control of the active form.
    void press(Control& c, Key key);
    void press(std::string_view path, Key key) { press(control(path), key); }
    void press(Key key);
    void press(KeyCode code) { press(Key{code, 0}); }

    // Presses the thumb, moves it to `position` and releases the mouse.
    void dragSlider(Control& c, int position);
    void dragSlider(std::string_view path, int position) { dragSlider(control(path), position); }

    // Clicks the track on the side of `towards`: the thumb moves a page
    // that way (not past `towards`), then the mouse is released.
    void clickSliderTrack(Control& c, int towards);
    void clickSliderTrack(std::string_view path, int towards) {
        clickSliderTrack(control(path), towards);
    }

    // Presses a spin arrow, holds it for `holdMs` of virtual time (a step
    // at once, then after 400 ms and every 100 ms), then releases it.
    void pressSpin(Control& c, bool up, int holdMs = 0);
    void pressSpin(std::string_view path, bool up, int holdMs = 0) {
        pressSpin(control(path), up, holdMs);
    }

    // Virtual time (headless backend only).
    void advance(long long ms);
    long long now() const;

    // For the modal loop to come.
    void queue(HeadlessBackend::Action action);

    // Reading.
    std::string text(std::string_view path) const { return control(path).text(); }
    bool checked(std::string_view path) const;
    bool visible(std::string_view path) const;
    int position(std::string_view path) const;
    int itemIndex(std::string_view path) const;
    Cursor cursor() const { return app_.cursor(); }
    const std::vector<Box>& boxes() const;
    void clearBoxes();
    const std::vector<std::string>& failures() const;

    HeadlessBackend& headless() const;
    Application& app() const { return app_; }

  private:
    void requireUsable(const Control& c, const char* action) const;
    void keyTo(Form& form, Key key);
    Application& app_;
};

} // namespace talvine::tk
