// The controls of the toolkit: state plus events, nothing drawn.
//
// Setters are what code calls; they raise events exactly when the control
// would (an edit's OnChange only when its text really changes, a check box's
// OnClick whenever its state changes, a trackbar's OnChange when the clamped
// position differs).  What only a user can do (typing, dragging, pressing the
// spin arrows) is reached through Automation, which calls the `user...`
// members below.
#pragma once

#include "toolkit/Toolkit.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace talvine::tk {

struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

enum class Alignment { Left, Right, Center };

// 24-bit pixels, three bytes each in the order red, green, blue, row-major,
// top row first.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
};

class Control {
  public:
    Control(Form* form, Control* parent, ControlKind kind, std::string name);
    virtual ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    ControlKind kind() const { return kind_; }
    const std::string& name() const { return name_; }
    Form& form() const { return *form_; }
    Control* parent() const { return parent_; }
    const std::vector<Control*>& children() const { return children_; }
    Application& application() const;

    // Caption of a label, button, box or form; contents of an edit field.
    const std::string& text() const { return text_; }
    virtual void setText(std::string text);

    bool visible() const { return visible_; }
    virtual void setVisible(bool visible);
    bool enabled() const { return enabled_; }
    virtual void setEnabled(bool enabled);
    // Visible and enabled, with every parent up to a shown form.
    bool showing() const;
    bool usable() const;

    const Rect& bounds() const { return bounds_; }
    void setBounds(Rect bounds);
    Alignment alignment() const { return alignment_; }
    void setAlignment(Alignment a) { alignment_ = a; }
    int tabOrder() const { return tabOrder_; }
    void setTabOrder(int order) { tabOrder_ = order; }

    // Whether the control can hold the keyboard focus at all.
    virtual bool focusable() const { return false; }
    bool focused() const;

    // The events of this kind that a handler can be bound to (Form::bind).
    virtual bool publishes(EventKind kind) const;
    void setHandler(EventKind kind, Handler handler);
    bool hasHandler(EventKind kind) const;

    // While alive, the control raises no events (its state still changes and
    // views still see it).  For a dialog that resets its controls and does
    // not want its own handlers to run.
    class QuietScope {
      public:
        explicit QuietScope(Control& c) : c_(c), was_(c.quiet_) { c.quiet_ = true; }
        ~QuietScope() { c_.quiet_ = was_; }
        QuietScope(const QuietScope&) = delete;
        QuietScope& operator=(const QuietScope&) = delete;

      private:
        Control& c_;
        bool was_;
    };

    // User input, reached through Automation.  The keyboard's default
    // treatment: nothing but OnKeyUp.
    virtual void userKeyDown(Key key);
    void userKeyUp(Key key);
    virtual void focusEntered() {}
    virtual void focusLeft() {}

  protected:
    void notify(Change what);
    void fire(EventKind kind);
    void fire(Event& event);
    virtual void textChanged() {}
    // Takes a text known to differ from the one shown.
    void storeText(std::string text);

  private:
    friend class Form;
    Form* form_;
    Control* parent_;
    ControlKind kind_;
    std::string name_;
    std::vector<Control*> children_;
    std::string text_;
    bool visible_ = true;
    bool enabled_ = true;
    bool quiet_ = false;
    Rect bounds_{};
    Alignment alignment_ = Alignment::Left;
    int tabOrder_ = 0;
    std::array<Handler, kEventKindCount> handlers_{};
};

class Label : public Control {
  public:
    Label(Form* f, Control* p, std::string n) : Control(f, p, ControlKind::Label, std::move(n)) {}
};

class GroupBox : public Control {
  public:
    GroupBox(Form* f, Control* p, std::string n)
        : Control(f, p, ControlKind::GroupBox, std::move(n)) {}
};

class Image : public Control {
  public:
    Image(Form* f, Control* p, std::string n) : Control(f, p, ControlKind::Image, std::move(n)) {}
    const Picture& picture() const { return picture_; }
    void setPicture(Picture picture);
    bool stretch() const { return stretch_; }
    void setStretch(bool s) { stretch_ = s; }
    bool publishes(EventKind kind) const override { return kind == EventKind::Click; }

  private:
    Picture picture_;
    bool stretch_ = false;
};

enum class ModalResult { None = 0, Ok = 1, Cancel = 2 };

// The kinds a button is made of: a plain button, the OK kind (the default
// button, modal result OK) and the cancel kind (Escape, modal result
// cancel, caption "Annuler").
enum class ButtonKind { Custom, Ok, Cancel };

class Button : public Control {
  public:
    Button(Form* f, Control* p, std::string n, ControlKind kind = ControlKind::Button)
        : Control(f, p, kind, std::move(n)) {}
    void setButtonKind(ButtonKind kind);
    ButtonKind buttonKind() const { return buttonKind_; }
    bool isDefault() const { return default_; }
    void setDefault(bool d) { default_ = d; }
    bool isCancel() const { return cancel_; }
    void setCancel(bool c) { cancel_ = c; }
    ModalResult modalResult() const { return modalResult_; }
    void setModalResult(ModalResult r) { modalResult_ = r; }
    const Picture& glyph() const { return glyph_; }
    void setGlyph(Picture glyph);

    // Hands the button's modal result to its form, then raises OnClick.
    void click();
    bool focusable() const override { return true; }
    bool publishes(EventKind kind) const override;

  private:
    ButtonKind buttonKind_ = ButtonKind::Custom;
    bool default_ = false;
    bool cancel_ = false;
    ModalResult modalResult_ = ModalResult::None;
    Picture glyph_;
};

class CheckBox : public Control {
  public:
    CheckBox(Form* f, Control* p, std::string n)
        : Control(f, p, ControlKind::CheckBox, std::move(n)) {}
    bool checked() const { return checked_; }
    // Raises OnClick whenever the state changes, as a user's click does.
    void setChecked(bool checked);
    // Silently, for building a form.
    void initChecked(bool checked) { checked_ = checked; }
    void userClick() { setChecked(!checked_); }
    bool focusable() const override { return true; }
    bool publishes(EventKind kind) const override;
    void userKeyDown(Key key) override;

  private:
    bool checked_ = false;
};

// Exclusive within its parent: checking one unchecks its sibling radio
// buttons.  OnClick when it becomes checked (from code too), never when it is
// unchecked or clicked while already checked.
class RadioButton : public Control {
  public:
    RadioButton(Form* f, Control* p, std::string n)
        : Control(f, p, ControlKind::RadioButton, std::move(n)) {}
    bool checked() const { return checked_; }
    void setChecked(bool checked);
    void initChecked(bool checked);
    void userClick() { setChecked(true); }
    bool focusable() const override { return true; }
    bool publishes(EventKind kind) const override { return kind == EventKind::Click; }

  private:
    void setState(bool checked);
    bool checked_ = false;
};

// A box of exclusive items; OnClick when the item index changes, from code
// or by the user.
class RadioGroup : public Control {
  public:
    RadioGroup(Form* f, Control* p, std::string n)
        : Control(f, p, ControlKind::RadioGroup, std::move(n)) {}
    const std::vector<std::string>& items() const { return items_; }
    void setItems(std::vector<std::string> items);
    int columns() const { return columns_; }
    void setColumns(int c) { columns_ = c; }
    int itemIndex() const { return itemIndex_; }
    // Clamped to -1 .. count - 1.
    void setItemIndex(int index);
    void initItemIndex(int index) { itemIndex_ = index; }
    void userClickItem(int index);
    bool focusable() const override { return true; }
    bool publishes(EventKind kind) const override { return kind == EventKind::Click; }

  private:
    std::vector<std::string> items_;
    int columns_ = 1;
    int itemIndex_ = -1;
};

// A single-line edit field.  OnChange only when the text really changes;
// OnKeyUp on every key release.  Texts are UTF-8; the caret and the
// selection count bytes and always sit on character boundaries.
class Edit : public Control {
  public:
    Edit(Form* f, Control* p, std::string n, ControlKind kind = ControlKind::Edit)
        : Control(f, p, kind, std::move(n)) {}
    std::size_t selStart() const { return selStart_; }
    std::size_t selLength() const { return selLength_; }
    void select(std::size_t start, std::size_t length);
    void selectAll() { select(0, text().size()); }
    // Replaces the selection, as a paste does: one change.
    void replaceSelection(std::string_view s);

    bool focusable() const override { return true; }
    bool publishes(EventKind kind) const override;
    void userKeyDown(Key key) override;
    void focusEntered() override { selectAll(); }
    // From code: the caret goes to the start.
    void setText(std::string text) override;

  protected:
    // Sets the text and the caret, as an edit made by the user.
    void edit(std::string text, std::size_t caret);
    // Whether a typed character gets into the text; a refused one beeps.
    virtual bool accepts(char32_t) const { return true; }
    void textChanged() override;

  private:
    std::size_t selStart_ = 0;
    std::size_t selLength_ = 0;
};

// A spin edit: an edit field for integers with two arrow buttons.
class SpinEdit : public Edit {
  public:
    SpinEdit(Form* f, Control* p, std::string n)
        : Edit(f, p, std::move(n), ControlKind::SpinEdit) {}
    ~SpinEdit() override;
    int minValue() const { return min_; }
    int maxValue() const { return max_; }
    int increment() const { return increment_; }
    void setRange(int minValue, int maxValue);
    void setIncrement(int increment) { increment_ = increment; }
    // The integer in the text; the minimum when the text is not one.  Not
    // clamped.
    int value() const;
    // Clamped to min .. max (unless they are equal), then shown in decimal.
    void setValue(int value);
    void initValue(int value);

    // The arrows: one step at once, then, while the button stays down, a
    // step after 400 ms and then every 100 ms.  A step from a typed value
    // near the ends of int saturates there before it is clamped to the range.
    void stepUp();
    void stepDown();
    void userButtonDown(bool up);
    void userButtonUp();
    bool buttonHeld() const { return repeatTimer_ != 0; }

    void userKeyDown(Key key) override;
    void focusLeft() override;

  protected:
    bool accepts(char32_t c) const override;

  private:
    void repeat();
    int min_ = 0;
    int max_ = 0;
    int increment_ = 1;
    bool repeatUp_ = true;
    std::uint64_t repeatTimer_ = 0;
    int repeatCount_ = 0;
};

enum class Orientation { Horizontal, Vertical };

// A trackbar.  Setting the position from code clamps it and raises OnChange
// once when it moved; every movement the user makes raises OnChange, even
// when the position stays.
class TrackBar : public Control {
  public:
    TrackBar(Form* f, Control* p, std::string n, ControlKind kind = ControlKind::TrackBar)
        : Control(f, p, kind, std::move(n)) {}
    int min() const { return min_; }
    int max() const { return max_; }
    int position() const { return position_; }
    void setPosition(int position);
    // Max below min is refused; the position is clamped into the new range.
    void setRange(int minimum, int maximum);
    void initRange(int minimum, int maximum, int position);
    int frequency() const { return frequency_; }
    void setFrequency(int f) { frequency_ = f; }
    int lineSize() const { return lineSize_; }
    void setLineSize(int s) { lineSize_ = s; }
    int pageSize() const { return pageSize_; }
    void setPageSize(int s) { pageSize_ = s; }
    Orientation orientation() const { return orientation_; }
    void setOrientation(Orientation o) { orientation_ = o; }
    int thumbLength() const { return thumbLength_; }
    void setThumbLength(int l) { thumbLength_ = l; }

    // A drag: press on the thumb, moves, release.  A press on the track
    // instead moves the thumb a page towards the pointer first.
    void userMouseDown(MouseButton button);
    void userTrackDown(int towards);
    void userMouseMove(int position);
    void userMouseUp();
    bool dragging() const { return dragging_; }

    bool focusable() const override { return true; }
    bool publishes(EventKind kind) const override { return kind == EventKind::Change; }
    void userKeyDown(Key key) override;

  private:
    void userMoveTo(int position);
    int min_ = 0;
    int max_ = 10;
    int position_ = 0;
    int frequency_ = 1;
    int lineSize_ = 1;
    int pageSize_ = 2;
    int thumbLength_ = 20;
    Orientation orientation_ = Orientation::Horizontal;
    bool dragging_ = false;
    MouseButton dragButton_ = MouseButton::Left;
};

// OnTimer every interval while enabled and a handler is bound.  Ticks come
// through the backend: with the headless one, only when time is advanced.
class Timer : public Control {
  public:
    Timer(Form* f, Control* p, std::string n) : Control(f, p, ControlKind::Timer, std::move(n)) {}
    ~Timer() override;
    bool enabled() const { return Control::enabled(); }
    // Enabled stands for the timer's Enabled (started); a timer is never shown.
    // Enabling a running timer does not restart it.
    void setEnabled(bool enabled) override;
    int interval() const { return interval_; }
    void setInterval(int ms);
    bool running() const { return id_ != 0; }
    bool publishes(EventKind kind) const override { return kind == EventKind::Timer; }
    void update();

  private:
    int interval_ = 1000;
    std::uint64_t id_ = 0;
};

} // namespace talvine::tk
