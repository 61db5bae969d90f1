#include "toolkit/Automation.h"

#include "toolkit/BarreCurseur.h"

namespace talvine::tk {

namespace {

std::string pathOf(const Control& c) {
    return c.kind() == ControlKind::Form ? c.name() : c.form().name() + "." + c.name();
}

// The code points of a UTF-8 text; a malformed byte stands for itself.
std::vector<char32_t> codePoints(std::string_view s) {
    std::vector<char32_t> out;
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
        char32_t c = extra == 3   ? (b & 0x07)
                     : extra == 2 ? (b & 0x0F)
                     : extra == 1 ? (b & 0x1F)
                                  : b;
        if (i + extra >= s.size()) {
            extra = 0;
            c = b;
        }
        for (int k = 1; k <= extra; ++k)
            c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        out.push_back(c);
        i += 1 + extra;
    }
    return out;
}

} // namespace

Automation::Automation(Application& app) : app_(app) {}

Form& Automation::form(std::string_view name) const {
    if (Form* f = app_.findForm(name)) return *f;
    throw ToolkitError("there is no form named '" + std::string(name) + "'");
}

Control& Automation::control(std::string_view path) const {
    const auto dot = path.find('.');
    if (dot == std::string_view::npos) return form(path);
    return form(path.substr(0, dot)).control(path.substr(dot + 1));
}

void Automation::requireUsable(const Control& c, const char* action) const {
    const std::string what = std::string("cannot ") + action + " " + pathOf(c) + ": ";
    if (!c.form().visible()) throw ToolkitError(what + "its form is not shown");
    if (Form* modal = app_.modalForm(); modal && modal != &c.form())
        throw ToolkitError(what + "the modal form '" + modal->name() + "' is open");
    if (!c.usable()) throw ToolkitError(what + "it is hidden or disabled");
}

void Automation::click(Control& c) {
    requireUsable(c, "click");
    Form& f = c.form();
    auto takeFocus = [&] {
        if (c.focusable()) app_.dispatch([&] { f.setFocus(&c); });
    };
    switch (c.kind()) {
    case ControlKind::Button:
    case ControlKind::BitBtn:
        takeFocus();
        if (c.usable()) app_.dispatch([&] { static_cast<Button&>(c).click(); });
        break;
    case ControlKind::CheckBox:
        takeFocus();
        if (c.usable()) app_.dispatch([&] { static_cast<CheckBox&>(c).userClick(); });
        break;
    case ControlKind::RadioButton:
        takeFocus();
        if (c.usable()) app_.dispatch([&] { static_cast<RadioButton&>(c).userClick(); });
        break;
    case ControlKind::Edit:
    case ControlKind::EditVal:
    case ControlKind::SpinEdit:
    case ControlKind::TrackBar:
    case ControlKind::BarreCurseur:
        takeFocus();
        break;
    default:
        throw ToolkitError(
            "cannot click " + pathOf(c) + ": a " + std::string(kindName(c.kind())) +
            (c.kind() == ControlKind::RadioGroup ? " is clicked by item" : " takes no click"));
    }
}

void Automation::clickItem(Control& c, int index) {
    auto* group = dynamic_cast<RadioGroup*>(&c);
    if (!group) throw ToolkitError(pathOf(c) + " is not a radio group");
    requireUsable(c, "click");
    if (index < 0 || index >= static_cast<int>(group->items().size()))
        throw ToolkitError(pathOf(c) + " has no item " + std::to_string(index));
    app_.dispatch([&] { c.form().setFocus(&c); });
    if (c.usable()) app_.dispatch([&] { group->userClickItem(index); });
}

void Automation::setChecked(Control& c, bool checked) {
    if (auto* box = dynamic_cast<CheckBox*>(&c)) {
        if (box->checked() != checked) click(c);
    } else if (auto* radio = dynamic_cast<RadioButton*>(&c)) {
        if (!checked) throw ToolkitError("a user cannot uncheck the radio button " + pathOf(c));
        if (!radio->checked()) click(c);
    } else {
        throw ToolkitError(pathOf(c) + " is neither a check box nor a radio button");
    }
}

void Automation::focus(Control& c) {
    requireUsable(c, "focus");
    if (!c.focusable()) throw ToolkitError(pathOf(c) + " cannot take the focus");
    app_.dispatch([&] { c.form().setFocus(&c); });
}

void Automation::keyTo(Form& f, Key key) {
    app_.dispatch([&] { f.keyDown(key); });
    // A key that ended a modal form is released after the form has gone.
    if (f.modal() && f.modalResult() != ModalResult::None) return;
    app_.dispatch([&] { f.keyUp(key); });
}

void Automation::typeText(Control& c, std::string_view text) {
    if (!dynamic_cast<Edit*>(&c))
        throw ToolkitError("cannot type into " + pathOf(c) + ": not an edit field");
    requireUsable(c, "type into");
    if (!c.focused()) focus(c);
    for (char32_t ch : codePoints(text)) {
        if (!c.focused() || !c.usable())
            throw ToolkitError("typing into " + pathOf(c) + " stopped: it lost the focus");
        keyTo(c.form(), Key::character(ch));
    }
}

void Automation::replaceText(Control& c, std::string_view text) {
    auto* edit = dynamic_cast<Edit*>(&c);
    if (!edit) throw ToolkitError("cannot type into " + pathOf(c) + ": not an edit field");
    requireUsable(c, "type into");
    if (!c.focused()) focus(c);
    if (!c.focused())
        throw ToolkitError("cannot type into " + pathOf(c) + ": it did not take the focus");
    edit->selectAll();
    if (text.empty())
        keyTo(c.form(), Key{KeyCode::Backspace, 0});
    else
        typeText(c, text);
}

void Automation::press(Control& c, Key key) {
    if (c.kind() == ControlKind::Form) {
        if (!c.visible())
            throw ToolkitError("cannot press a key in " + c.name() + ": it is not shown");
        keyTo(static_cast<Form&>(c), key);
        return;
    }
    requireUsable(c, "press a key in");
    if (c.focusable() && !c.focused()) focus(c);
    keyTo(c.form(), key);
}

void Automation::press(Key key) {
    Form* f = app_.activeForm();
    if (!f) throw ToolkitError("cannot press a key: no form is shown");
    keyTo(*f, key);
}

void Automation::dragSlider(Control& c, int position) {
    auto* bar = dynamic_cast<TrackBar*>(&c);
    if (!bar) throw ToolkitError(pathOf(c) + " is not a slider");
    requireUsable(c, "drag");
    app_.dispatch([&] { c.form().setFocus(&c); });
    app_.dispatch([&] { bar->userMouseDown(MouseButton::Left); });
    app_.dispatch([&] { bar->userMouseMove(position); });
    app_.dispatch([&] { bar->userMouseUp(); });
}

void Automation::clickSliderTrack(Control& c, int towards) {
    auto* bar = dynamic_cast<TrackBar*>(&c);
    if (!bar) throw ToolkitError(pathOf(c) + " is not a slider");
    requireUsable(c, "click");
    app_.dispatch([&] { c.form().setFocus(&c); });
    app_.dispatch([&] { bar->userTrackDown(towards); });
    app_.dispatch([&] { bar->userMouseUp(); });
}

void Automation::pressSpin(Control& c, bool up, int holdMs) {
    auto* spin = dynamic_cast<SpinEdit*>(&c);
    if (!spin) throw ToolkitError(pathOf(c) + " is not a spin edit");
    requireUsable(c, "press the arrows of");
    if (!c.focused()) focus(c);
    app_.dispatch([&] { spin->userButtonDown(up); });
    if (holdMs > 0) advance(holdMs);
    app_.dispatch([&] { spin->userButtonUp(); });
}

HeadlessBackend& Automation::headless() const {
    if (HeadlessBackend* h = app_.headless()) return *h;
    throw ToolkitError("scripted time and modal queues need the headless backend");
}

void Automation::advance(long long ms) {
    headless().advance(ms);
}
long long Automation::now() const {
    return headless().now();
}
void Automation::queue(HeadlessBackend::Action action) {
    headless().queue(std::move(action));
}

bool Automation::checked(std::string_view path) const {
    Control& c = control(path);
    if (auto* box = dynamic_cast<CheckBox*>(&c)) return box->checked();
    if (auto* radio = dynamic_cast<RadioButton*>(&c)) return radio->checked();
    throw ToolkitError(std::string(path) + " has no checked state");
}

bool Automation::visible(std::string_view path) const {
    return control(path).visible();
}

int Automation::position(std::string_view path) const {
    return get<TrackBar>(path).position();
}

int Automation::itemIndex(std::string_view path) const {
    return get<RadioGroup>(path).itemIndex();
}

const std::vector<Box>& Automation::boxes() const {
    return headless().boxes();
}
void Automation::clearBoxes() {
    headless().clearBoxes();
}
const std::vector<std::string>& Automation::failures() const {
    return headless().failures();
}

} // namespace talvine::tk
