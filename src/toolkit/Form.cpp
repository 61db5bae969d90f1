#include "toolkit/Form.h"

#include "toolkit/Application.h"
#include "toolkit/BarreCurseur.h"
#include "toolkit/UtilPlus.h"

#include <algorithm>
#include <set>

namespace talvine::tk {

namespace {

// The events under the names the form designer gives them.
std::string eventName(EventKind kind) {
    switch (kind) {
    case EventKind::Click:
        return "OnClick";
    case EventKind::Change:
        return "OnChange";
    case EventKind::KeyUp:
        return "OnKeyUp";
    case EventKind::MouseUp:
        return "OnMouseUp";
    case EventKind::Timer:
        return "OnTimer";
    case EventKind::Show:
        return "OnShow";
    case EventKind::Close:
        return "OnClose";
    }
    return "?";
}

std::unique_ptr<Control> make(Form* form, Control* parent, const ControlDesc& d) {
    switch (d.kind) {
    case ControlKind::Label:
        return std::make_unique<Label>(form, parent, d.name);
    case ControlKind::GroupBox:
        return std::make_unique<GroupBox>(form, parent, d.name);
    case ControlKind::Image:
        return std::make_unique<Image>(form, parent, d.name);
    case ControlKind::Button:
    case ControlKind::BitBtn:
        return std::make_unique<Button>(form, parent, d.name, d.kind);
    case ControlKind::CheckBox:
        return std::make_unique<CheckBox>(form, parent, d.name);
    case ControlKind::RadioButton:
        return std::make_unique<RadioButton>(form, parent, d.name);
    case ControlKind::RadioGroup:
        return std::make_unique<RadioGroup>(form, parent, d.name);
    case ControlKind::Edit:
        return std::make_unique<Edit>(form, parent, d.name);
    case ControlKind::EditVal:
        return std::make_unique<TEditVal>(form, parent, d.name);
    case ControlKind::SpinEdit:
        return std::make_unique<SpinEdit>(form, parent, d.name);
    case ControlKind::TrackBar:
        return std::make_unique<TrackBar>(form, parent, d.name);
    case ControlKind::BarreCurseur:
        return std::make_unique<TBarreCurseur>(form, parent, d.name);
    case ControlKind::Timer:
        return std::make_unique<Timer>(form, parent, d.name);
    case ControlKind::Form:
        break;
    }
    return nullptr;
}

void configure(Control& c, const ControlDesc& d) {
    c.setBounds(d.bounds);
    c.setAlignment(d.alignment);
    if (!d.caption.empty()) c.setText(d.caption);
    switch (d.kind) {
    case ControlKind::Button:
    case ControlKind::BitBtn:
        static_cast<Button&>(c).setButtonKind(d.buttonKind);
        break;
    case ControlKind::CheckBox:
        static_cast<CheckBox&>(c).initChecked(d.checked);
        break;
    case ControlKind::RadioButton:
        static_cast<RadioButton&>(c).initChecked(d.checked);
        break;
    case ControlKind::RadioGroup: {
        auto& g = static_cast<RadioGroup&>(c);
        g.setItems(d.items);
        g.setColumns(d.columns);
        g.initItemIndex(std::clamp(d.value.value_or(-1), -1, static_cast<int>(d.items.size()) - 1));
        break;
    }
    case ControlKind::SpinEdit: {
        auto& s = static_cast<SpinEdit&>(c);
        s.setRange(d.min.value_or(0), d.max.value_or(0));
        s.setIncrement(d.step.value_or(1));
        s.initValue(d.value.value_or(0));
        break;
    }
    case ControlKind::TrackBar:
    case ControlKind::BarreCurseur: {
        auto& t = static_cast<TrackBar&>(c);
        t.initRange(d.min.value_or(0), d.max.value_or(10), d.value.value_or(0));
        t.setFrequency(d.step.value_or(1));
        t.setThumbLength(d.thumbLength);
        break;
    }
    case ControlKind::Timer:
        static_cast<Timer&>(c).setInterval(d.interval);
        break;
    case ControlKind::Image:
        static_cast<Image&>(c).setStretch(d.stretch);
        break;
    default:
        break;
    }
    c.setVisible(d.visible);
    c.setEnabled(d.enabled);
}

} // namespace

ControlDesc describe(ControlKind kind, std::string name, std::string parent, std::string caption,
                     Rect bounds, std::optional<int> tabOrder) {
    ControlDesc d;
    d.kind = kind;
    d.name = std::move(name);
    d.parent = std::move(parent);
    d.caption = std::move(caption);
    d.bounds = bounds;
    d.tabOrder = tabOrder;
    return d;
}

Form::Form(Application& app, const FormDesc& desc)
    : Control(this, nullptr, ControlKind::Form, desc.name), app_(app), desc_(desc) {
    visible_ = false;
    setText(desc.caption);
    setBounds({0, 0, desc.clientWidth, desc.clientHeight});
    stayOnTop_ = desc.stayOnTop;
    app_.enroll(this);
    try {
        build();
    } catch (...) {
        app_.forget(this);
        throw;
    }
}

Form::~Form() {
    if (modal_) app_.popModal();
    // Controls go before the form (timers stop with them).
    for (auto it = controls_.rbegin(); it != controls_.rend(); ++it)
        it->reset();
    app_.forget(this);
}

void Form::build() {
    auto fail = [this](const std::string& what) {
        throw ToolkitError("form '" + desc_.name + "': " + what);
    };
    std::set<std::string, std::less<>> names;
    std::vector<int> nextTab;
    for (const ControlDesc& d : desc_.controls) {
        if (d.name.empty()) fail("a control has no name");
        if (d.kind == ControlKind::Form) fail("'" + d.name + "' cannot be a form");
        if (!names.insert(d.name).second) fail("two controls are named '" + d.name + "'");
        Control* parent = this;
        if (!d.parent.empty() && d.parent != desc_.name) {
            parent = find(d.parent);
            if (!parent)
                fail("the parent '" + d.parent + "' of '" + d.name +
                     "' is not a control declared before it");
            if (parent->kind() != ControlKind::GroupBox)
                fail("the parent '" + d.parent + "' of '" + d.name + "' is a " +
                     std::string(kindName(parent->kind())) + ", not a group box");
        }
        auto c = make(this, parent, d);
        configure(*c, d);
        c->setTabOrder(d.tabOrder.value_or(static_cast<int>(parent->children().size()) - 1));
        controls_.push_back(std::move(c));
    }
}

Control& Form::bindable(std::string_view name, EventKind event) {
    Control* c = find(name);
    if (!c)
        throw ToolkitError("form '" + desc_.name + "': no control '" + std::string(name) +
                           "' to bind " + eventName(event) + " to");
    if (!c->publishes(event))
        throw ToolkitError("form '" + desc_.name + "': '" + c->name() + "' (" +
                           std::string(kindName(c->kind())) + ") has no event '" +
                           eventName(event) + "'");
    return *c;
}

Control& Form::bindable(EventKind event) {
    if (!publishes(event))
        throw ToolkitError("form '" + desc_.name + "' has no event '" + eventName(event) + "'");
    return *this;
}

void Form::attach(Control& c, EventKind event, Handler handler) {
    c.setHandler(event, std::move(handler));
    if (auto* t = dynamic_cast<Timer*>(&c)) t->update();
}

bool Form::publishes(EventKind kind) const {
    return kind == EventKind::Show || kind == EventKind::Close;
}

Control* Form::find(std::string_view name) const {
    for (const auto& c : controls_)
        if (c->name() == name) return c.get();
    return nullptr;
}

Control& Form::control(std::string_view name) const {
    if (Control* c = find(name)) return *c;
    throw ToolkitError("form '" + desc_.name + "' has no control '" + std::string(name) + "'");
}

void Form::wrongKind(const Control& c) {
    throw ToolkitError("'" + c.name() + "' of form '" + c.form().name() + "' is a " +
                       std::string(kindName(c.kind())) + ", not the kind asked for");
}

void Form::setShown(bool shown) {
    visible_ = shown;
    notify(Change::Visible);
    if (shown) {
        app_.formShown(this);
        app_.backend().showForm(*this);
    } else {
        app_.backend().hideForm(*this);
    }
}

void Form::show() {
    if (visible_) {
        // Brought to the front.
        app_.formShown(this);
        app_.backend().showForm(*this);
        return;
    }
    // OnShow runs before the form appears; what escapes it is shown in a box
    // and the form appears all the same.
    app_.dispatch([this] { fire(EventKind::Show); });
    setShown(true);
    if (!focused_ || !focused_->usable()) {
        for (Control* c : tabOrderList())
            if (c->usable()) {
                setFocus(c);
                break;
            }
    }
}

ModalResult Form::showModal() {
    if (visible_)
        throw ToolkitError("form '" + desc_.name + "' is already shown: it cannot be made modal");
    struct Guard {
        Form& f;
        ~Guard() {
            f.modal_ = false;
            f.app_.popModal();
            if (f.visible_) f.setShown(false);
        }
    };
    modal_ = true;
    app_.pushModal(this);
    Guard guard{*this};
    show();
    modalResult_ = ModalResult::None;
    for (;;) {
        if (!visible_) {
            modalResult_ = ModalResult::Cancel;
            break;
        }
        app_.backend().runModalStep(*this);
        if (modalResult_ != ModalResult::None) {
            closeModal();
            if (modalResult_ != ModalResult::None) break;
        }
    }
    return modalResult_;
}

void Form::closeModal() {
    try {
        fire(EventKind::Close);
    } catch (const ToolkitError&) {
        throw;
    } catch (const std::exception& e) {
        // The close did not happen: the loop goes on.
        modalResult_ = ModalResult::None;
        app_.showException(e);
    }
}

void Form::close() {
    if (modal_) {
        modalResult_ = ModalResult::Cancel;
        return;
    }
    fire(EventKind::Close);
    hide();
}

void Form::hide() {
    if (!visible_) return;
    setShown(false);
}

void Form::setStayOnTop(bool on) {
    if (on == stayOnTop_) return;
    stayOnTop_ = on;
    notify(Change::StayOnTop);
}

void Form::setFocus(Control* control) {
    if (control == focused_) return;
    if (control && (&control->form() != this || !control->focusable()))
        throw ToolkitError("'" + control->name() + "' cannot take the focus in form '" +
                           desc_.name + "'");
    Control* old = focused_;
    focused_ = control;
    notify(Change::Focus);
    if (old) old->focusLeft();
    if (control && focused_ == control) control->focusEntered();
}

std::vector<Control*> Form::tabOrderList() const {
    std::vector<Control*> out;
    auto walk = [&out](auto& self, const Control& parent) -> void {
        std::vector<Control*> kids = parent.children();
        std::stable_sort(kids.begin(), kids.end(),
                         [](Control* a, Control* b) { return a->tabOrder() < b->tabOrder(); });
        for (Control* c : kids) {
            if (c->focusable()) out.push_back(c);
            if (c->kind() == ControlKind::GroupBox) self(self, *c);
        }
    };
    walk(walk, *this);
    return out;
}

Button* Form::defaultButton() const {
    for (const auto& c : controls_)
        if (auto* b = dynamic_cast<Button*>(c.get()); b && b->isDefault()) return b;
    return nullptr;
}

Button* Form::cancelButton() const {
    for (const auto& c : controls_)
        if (auto* b = dynamic_cast<Button*>(c.get()); b && b->isCancel()) return b;
    return nullptr;
}

void Form::keyDown(Key key) {
    if (key.code == KeyCode::Enter || key.code == KeyCode::Escape) {
        // Enter presses the focused button, else the default button; Escape
        // the cancel button.  Neither moves the focus.
        Button* target = nullptr;
        if (key.code == KeyCode::Enter) {
            target = dynamic_cast<Button*>(focused_);
            if (!target) target = defaultButton();
        } else {
            target = cancelButton();
        }
        if (target && target->usable()) {
            target->click();
            return;
        }
    }
    if (key.code == KeyCode::Tab) {
        std::vector<Control*> order = tabOrderList();
        std::erase_if(order, [this](Control* c) { return c != focused_ && !c->usable(); });
        if (order.empty()) return;
        auto it = std::find(order.begin(), order.end(), focused_);
        Control* next =
            (it == order.end() || std::next(it) == order.end()) ? order.front() : *std::next(it);
        setFocus(next);
        return;
    }
    if (focused_ && focused_->usable()) focused_->userKeyDown(key);
}

void Form::keyUp(Key key) {
    if (visible_ && focused_ && focused_->usable()) focused_->userKeyUp(key);
}

} // namespace talvine::tk
