// Forms and their descriptions.
//
// A dialog declares its form as data, a FormDesc kept beside its code like a
// form resource, and offers its handlers by name in a HandlerTable:
//
//   const tk::FormDesc kForm{
//       .name = "InclineHorz", .caption = "Inclinaison de l'horizon",
//       .clientWidth = 281, .clientHeight = 221, .stayOnTop = true,
//       .controls = {
//           {.kind = tk::ControlKind::CheckBox, .name = "PtRot2",
//            .bounds = {193, 109, 12, 12}, .events = {{"OnClick", "PtRot2Click"}}},
//       },
//       .events = {{"OnShow", "FormShow"}, {"OnClose", "FormClose"}}};
//
// Building the form checks the description: an unknown parent, a duplicate
// name, an event the kind does not publish or a handler missing from the
// table throws ToolkitError naming the form, the control and the name.
#pragma once

#include "toolkit/Controls.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talvine::tk {

struct EventBinding {
    std::string event{};   // "OnClick", "OnChange", "OnKeyUp", "OnMouseUp", "OnTimer"
    std::string handler{}; // a name in the dialog's HandlerTable
};

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
    std::vector<EventBinding> events{};
};

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
    std::vector<EventBinding> events{}; // "OnShow", "OnClose"
};

class Form : public Control {
  public:
    // Builds the controls of the description and binds their handlers.  The
    // application owns the form from then on (forms made by a dialog module
    // are destroyed with the application).
    Form(Application& app, const FormDesc& desc, const HandlerTable& handlers);
    ~Form() override;

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
    void build(const HandlerTable& handlers);
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
