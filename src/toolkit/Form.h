// Forms and their descriptions.
//
// A dialog declares its form as data, a FormDesc kept beside its code like a
// form resource: controls with their kind, caption, place, range and default.
// The views and the automation read it.  Handlers are code: the dialog binds
// them in its constructor, by member function, so that a misspelt handler
// does not compile:
//
//   const tk::FormDesc kForm{
//       .name = "InclineHorz", .caption = "Inclinaison de l'horizon",
//       .clientWidth = 281, .clientHeight = 221, .stayOnTop = true,
//       .controls = {
//           {.kind = tk::ControlKind::CheckBox, .name = "PtRot2", .bounds = {193, 109, 12, 12}},
//       }};
//
//   TInclineHorz::TInclineHorz(tk::Application& app) : tk::Form(app, kForm) {
//       bind("PtRot2", tk::EventKind::Click, this, &TInclineHorz::PtRot2Click);
//       bind(tk::EventKind::Show, this, &TInclineHorz::FormShow);
//   }
//
// Building the form checks the description (an unknown parent, a duplicate
// name) and binding checks the name and the event (no such control, an event
// the kind does not publish): both throw ToolkitError naming the form.
#pragma once

#include "toolkit/Controls.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talvine::tk {

struct ControlDesc {
    ControlKind kind = ControlKind::Label;
    std::string name{};
    std::string parent{};  // empty: the form itself
    std::string caption{}; // caption, or the text of an edit field
    Rect bounds{};
    std::vector<std::string> items{}; // radio group
    int columns = 1;                  // radio group
    bool checked = false;             // check box, radio button
    bool visible = true;
    bool enabled = true;        // also a timer's Enabled
    std::optional<int> min{};   // spin edit MinValue, trackbar Min
    std::optional<int> max{};   // spin edit MaxValue, trackbar Max
    std::optional<int> value{}; // spin edit Value, trackbar Position, radio group ItemIndex
    std::optional<int> step{};  // spin edit Increment, trackbar Frequency
    int interval = 1000;        // timer
    int thumbLength = 20;       // trackbar
    ButtonKind buttonKind = ButtonKind::Custom;
    Alignment alignment = Alignment::Left;
    bool stretch = false;          // image
    std::optional<int> tabOrder{}; // within its parent; declaration order otherwise
};

// The fields most controls set, in one line: kind, name, parent (empty: the
// form), caption, bounds and, when given, the tab order.
ControlDesc describe(ControlKind kind, std::string name, std::string parent, std::string caption,
                     Rect bounds, std::optional<int> tabOrder = {});

enum class BorderStyle { Dialog, Single, Sizeable, None };
enum class FormPosition { Designed, ScreenCenter };

struct FormDesc {
    std::string name{};
    std::string caption{};
    int clientWidth = 0;
    int clientHeight = 0;
    BorderStyle border = BorderStyle::Dialog;
    bool systemMenu = false; // border icons: none but help unless set
    bool helpIcon = false;
    bool stayOnTop = false;
    FormPosition position = FormPosition::ScreenCenter;
    std::string fontName = "MS Sans Serif";
    int fontSize = 8;
    std::vector<ControlDesc> controls{};
};

class Form : public Control {
  public:
    // Builds the controls of the description, with no handler bound.  The
    // application owns the form from then on (forms made by a dialog module
    // are destroyed with the application).
    Form(Application& app, const FormDesc& desc);
    ~Form() override;

    // Binds a handler to an event of the control `name`: a callable taking
    // tk::Event&, tk::Control& (the sender) or nothing, or a member function
    // of `object`.  Throws ToolkitError naming the form, the control and the
    // event when the form has no such control or its kind does not publish
    // the event (a plain TrackBar has no MouseUp; TBarreCurseur does).  A
    // timer bound while enabled starts.  Binding raises no events.
    template <class F> void bind(std::string_view name, EventKind event, F handler) {
        attach(bindable(name, event), event, makeHandler(std::move(handler)));
    }
    template <class T, class M>
    void bind(std::string_view name, EventKind event, T* object, M method) {
        attach(bindable(name, event), event, makeHandler(object, method));
    }
    // The form's own events: Show and Close.
    template <class F> void bind(EventKind event, F handler) {
        attach(bindable(event), event, makeHandler(std::move(handler)));
    }
    template <class T, class M> void bind(EventKind event, T* object, M method) {
        attach(bindable(event), event, makeHandler(object, method));
    }
    bool publishes(EventKind kind) const override;

    Application& app() const { return app_; }
    const FormDesc& description() const { return desc_; }

    // Finds a control by name; throws ToolkitError when there is none or it
    // is not of the type asked for.
    Control* find(std::string_view name) const;
    Control& control(std::string_view name) const;
    template <class T> T& get(std::string_view name) const {
        Control& c = control(name);
        if (auto* t = dynamic_cast<T*>(&c)) return *t;
        wrongKind(c);
    }
    const std::vector<std::unique_ptr<Control>>& controls() const { return controls_; }

    // Modeless: becomes visible; OnShow runs only if it was hidden.
    void show();
    // Runs a modal loop until a modal result is set and OnClose let it end,
    // then hides and returns that result.  OnShow runs first.
    ModalResult showModal();
    // OnClose, then hidden.  On a modal form: sets the cancel result, and the
    // loop closes it.  An exception from OnClose leaves the form open.
    void close();
    // Hidden without OnClose.
    void hide();
    bool modal() const { return modal_; }
    ModalResult modalResult() const { return modalResult_; }
    void setModalResult(ModalResult r) { modalResult_ = r; }

    bool stayOnTop() const { return stayOnTop_; }
    void setStayOnTop(bool on);

    Control* focusedControl() const { return focused_; }
    // Moves the focus; the control that loses it runs its exit behaviour
    // first (a spin edit clamps its value).
    void setFocus(Control* control);
    // The focusable controls in tab order.
    std::vector<Control*> tabOrderList() const;
    Button* defaultButton() const;
    Button* cancelButton() const;

    // A key pressed while the form is active.  Enter presses the focused
    // button or else the default button, Escape the cancel button, Tab moves
    // the focus; other keys go to the focused control.  The release goes to
    // the control focused by then (OnKeyUp).
    void keyDown(Key key);
    void keyUp(Key key);

  private:
    [[noreturn]] static void wrongKind(const Control& c);
    void build();
    Control& bindable(std::string_view name, EventKind event);
    Control& bindable(EventKind event);
    static void attach(Control& c, EventKind event, Handler handler);
    void closeModal();
    void setShown(bool shown);
    Application& app_;
    FormDesc desc_;
    std::vector<std::unique_ptr<Control>> controls_;
    Control* focused_ = nullptr;
    bool modal_ = false;
    bool stayOnTop_ = false;
    ModalResult modalResult_ = ModalResult::None;
};

} // namespace talvine::tk
