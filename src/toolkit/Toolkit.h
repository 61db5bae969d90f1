// The form toolkit's shared vocabulary: errors, keys, events, handlers,
// the observer a view registers and the backend a view implements.
//
// The toolkit is a model.  Controls hold their state and raise their events;
// nothing here draws.  A view (the headless backend by default, the Qt view
// or the Win32 view) shows forms, runs modal loops, drives timers and shows boxes
// through Backend, watches state through Observer, and routes real input into
// the calls of Automation, the same calls tests and scripts make.
#pragma once

#include "core/Cursor.h"

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

// The toolkit's interface version, part of the build identifier that the
// library and its view module compare before they work on each other's
// objects (plugin/ViewChoice.h).  Raise it with any change to what a view
// sees of the toolkit's classes: the members or virtual functions of
// Application, Form, Control and its kinds, Backend, Observer, Automation.
#define TALVINE_TOOLKIT_INTERFACE "1"

namespace talvine::tk {

class Application;
class Control;
class Form;

// The common base of the errors a dialog raises: it carries the message the
// error box shows.
class Exception : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A misuse of the toolkit: a bad form description, a script acting on a
// hidden control, a modal loop with nothing left to do.  Never shown in a
// box by the automation calls: it reaches the caller.
class ToolkitError : public std::logic_error {
  public:
    using std::logic_error::logic_error;
};

enum class ControlKind {
    Form,
    Label,
    GroupBox,
    Image,
    Button,
    BitBtn,
    CheckBox,
    RadioButton,
    RadioGroup,
    Edit,
    EditVal, // TEditVal
    SpinEdit,
    TrackBar,
    BarreCurseur, // TBarreCurseur: a trackbar that publishes OnMouseUp
    Timer,
};

std::string_view kindName(ControlKind kind);

enum class KeyCode {
    Char, // a printable character, in Key::ch
    Enter,
    Escape,
    Tab,
    Backspace,
    Delete,
    Left,
    Right,
    Up,
    Down,
    Home,
    End,
    PageUp,
    PageDown,
};

struct Key {
    KeyCode code = KeyCode::Char;
    char32_t ch = 0;
    static Key character(char32_t c) { return {KeyCode::Char, c}; }
    friend bool operator==(const Key&, const Key&) = default;
};

enum class MouseButton { Left, Right, Middle };

enum class EventKind { Click, Change, KeyUp, MouseUp, Timer, Show, Close };
inline constexpr int kEventKindCount = 7;

// What a handler receives.  `sender` is the control (or form) that raised
// the event; key and mouse fields are set for OnKeyUp and OnMouseUp only.
struct Event {
    EventKind kind = EventKind::Click;
    Control* sender = nullptr;
    Key key{};
    MouseButton button = MouseButton::Left;
    int x = 0;
    int y = 0;
};

using Handler = std::function<void(Event&)>;

// A handler as a control keeps it, made from what a dialog binds: a callable
// taking the event, the sender, or nothing.
template <class F> Handler makeHandler(F f) {
    if constexpr (std::is_invocable_v<F&, Event&>) {
        return Handler(std::move(f));
    } else if constexpr (std::is_invocable_v<F&, Control&>) {
        return [f = std::move(f)](Event& e) mutable { f(*e.sender); };
    } else {
        static_assert(std::is_invocable_v<F&>, "a handler takes Event&, Control& or nothing");
        return [f = std::move(f)](Event&) mutable { f(); };
    }
}

// The same for a member function of `object`: `method` names it, so a
// misspelt handler does not compile.
template <class T, class M> Handler makeHandler(T* object, M method) {
    return [object, method](Event& e) {
        if constexpr (std::is_invocable_v<M, T*, Event&>)
            std::invoke(method, object, e);
        else if constexpr (std::is_invocable_v<M, T*, Control&>)
            std::invoke(method, object, *e.sender);
        else
            std::invoke(method, object);
    };
}

// What a view redraws from.  `changed` reports a property of a control or a
// form; the value is read back from the control.
enum class Change {
    Text,
    Checked,
    Visible, // the control's own Visible; for a form: shown or hidden
    Enabled,
    Position, // trackbar position, also after a range change
    Range,    // min, max or step of a spin edit or trackbar
    ItemIndex,
    Items,
    Picture,
    Selection, // caret or selected text of an edit
    Focus,     // the form's focused control
    StayOnTop,
    Bounds,
};

class Observer {
  public:
    virtual ~Observer() = default;
    virtual void changed(Control& control, Change what) = 0;
    virtual void cursorChanged(Cursor) {}
    virtual void beeped() {}
};

enum class BoxKind { Error, Warning, Information };

struct Box {
    BoxKind kind = BoxKind::Information;
    std::string caption;
    std::string text;
    friend bool operator==(const Box&, const Box&) = default;
};

// What a view provides.  Every call comes from the toolkit on the
// user-interface thread.
class Backend {
  public:
    using TimerId = std::uint64_t;
    virtual ~Backend() = default;

    // Also called for a form already shown: bring it to the front.
    virtual void showForm(Form& form) = 0;
    virtual void hideForm(Form& form) = 0;
    // One turn of a modal loop: wait for and dispatch the next input (or
    // tick).  The form's modal loop calls it until the form is done.
    virtual void runModalStep(Form& form) = 0;
    // `tick` must be called every `intervalMs` until stopTimer.
    virtual void startTimer(TimerId id, int intervalMs, std::function<void()> tick) = 0;
    virtual void stopTimer(TimerId id) = 0;
    // A modal box with an OK button; returns when the user dismissed it.
    virtual void showBox(const Box& box) = 0;
    virtual void showCursor(Cursor cursor) = 0;
    virtual void beep() {}
};

} // namespace talvine::tk
