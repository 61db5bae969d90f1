#include "toolkit/Controls.h"

#include "toolkit/Application.h"
#include "toolkit/Form.h"
#include "toolkit/Locale.h"
#include "toolkit/UtilPlus.h"

#include <algorithm>
#include <climits>

namespace talvine::tk {

std::string_view kindName(ControlKind kind) {
    switch (kind) {
    case ControlKind::Form:
        return "form";
    case ControlKind::Label:
        return "label";
    case ControlKind::GroupBox:
        return "group box";
    case ControlKind::Image:
        return "image";
    case ControlKind::Button:
        return "button";
    case ControlKind::BitBtn:
        return "bitmap button";
    case ControlKind::CheckBox:
        return "check box";
    case ControlKind::RadioButton:
        return "radio button";
    case ControlKind::RadioGroup:
        return "radio group";
    case ControlKind::Edit:
        return "edit field";
    case ControlKind::EditVal:
        return "numeric field";
    case ControlKind::SpinEdit:
        return "spin edit";
    case ControlKind::TrackBar:
        return "trackbar";
    case ControlKind::BarreCurseur:
        return "slider";
    case ControlKind::Timer:
        return "timer";
    }
    return "control";
}

namespace {

std::string utf8(char32_t c) {
    std::string s;
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        s += static_cast<char>(0xE0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | (c >> 18));
        s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    }
    return s;
}

bool continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

std::size_t previousBoundary(const std::string& s, std::size_t pos) {
    if (pos == 0) return 0;
    --pos;
    while (pos > 0 && continuation(s[pos]))
        --pos;
    return pos;
}

std::size_t nextBoundary(const std::string& s, std::size_t pos) {
    if (pos >= s.size()) return s.size();
    ++pos;
    while (pos < s.size() && continuation(s[pos]))
        ++pos;
    return pos;
}

int saturate(long long v) {
    return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

} // namespace

// Control ----------------------------------------------------------------

Control::Control(Form* form, Control* parent, ControlKind kind, std::string name)
    : form_(form), parent_(parent), kind_(kind), name_(std::move(name)) {
    if (parent_) parent_->children_.push_back(this);
}

Control::~Control() = default;

Application& Control::application() const {
    return form_->app();
}

void Control::setText(std::string text) {
    if (text != text_) storeText(std::move(text));
}

void Control::storeText(std::string text) {
    text_ = std::move(text);
    notify(Change::Text);
    textChanged();
}

void Control::setVisible(bool visible) {
    if (visible == visible_) return;
    visible_ = visible;
    notify(Change::Visible);
}

void Control::setEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    notify(Change::Enabled);
}

bool Control::showing() const {
    for (const Control* c = this; c; c = c->parent_)
        if (!c->visible_) return false;
    return form_->visible_;
}

bool Control::usable() const {
    for (const Control* c = this; c; c = c->parent_)
        if (!c->visible_ || !c->enabled_) return false;
    return form_->visible_;
}

void Control::setBounds(Rect bounds) {
    if (bounds == bounds_) return;
    bounds_ = bounds;
    notify(Change::Bounds);
}

bool Control::focused() const {
    return form_->focusedControl() == this;
}

bool Control::publishes(EventKind) const {
    return false;
}

void Control::setHandler(EventKind kind, Handler handler) {
    handlers_[static_cast<int>(kind)] = std::move(handler);
}

bool Control::hasHandler(EventKind kind) const {
    return static_cast<bool>(handlers_[static_cast<int>(kind)]);
}

void Control::userKeyDown(Key) {}

void Control::userKeyUp(Key key) {
    Event e{.kind = EventKind::KeyUp, .sender = this, .key = key};
    fire(e);
}

void Control::notify(Change what) {
    if (form_) form_->app().notify(*this, what);
}

void Control::fire(EventKind kind) {
    Event e{.kind = kind, .sender = this};
    fire(e);
}

void Control::fire(Event& event) {
    if (quiet_) return;
    const Handler& h = handlers_[static_cast<int>(event.kind)];
    if (!h) return;
    Handler keep = h; // the handler may rebind itself
    keep(event);
}

// Image, Button ------------------------------------------------------------

void Image::setPicture(Picture picture) {
    picture_ = std::move(picture);
    notify(Change::Picture);
}

void Button::setButtonKind(ButtonKind kind) {
    buttonKind_ = kind;
    switch (kind) {
    case ButtonKind::Custom:
        break;
    case ButtonKind::Ok:
        default_ = true;
        modalResult_ = ModalResult::Ok;
        if (text().empty()) setText(kOkCaption);
        break;
    case ButtonKind::Cancel:
        cancel_ = true;
        modalResult_ = ModalResult::Cancel;
        if (text().empty()) setText(kCancelCaption);
        break;
    }
}

void Button::setGlyph(Picture glyph) {
    glyph_ = std::move(glyph);
    notify(Change::Picture);
}

void Button::click() {
    form().setModalResult(modalResult_);
    fire(EventKind::Click);
}

bool Button::publishes(EventKind kind) const {
    return kind == EventKind::Click;
}

// Check box, radio button, radio group -----------------------------------------

void CheckBox::setChecked(bool checked) {
    if (checked == checked_) return;
    checked_ = checked;
    notify(Change::Checked);
    fire(EventKind::Click);
}

bool CheckBox::publishes(EventKind kind) const {
    return kind == EventKind::Click;
}

void CheckBox::userKeyDown(Key key) {
    if (key == Key::character(U' ')) userClick();
}

void RadioButton::setState(bool checked) {
    checked_ = checked;
    notify(Change::Checked);
    if (!checked || !parent()) return;
    for (Control* sibling : parent()->children()) {
        auto* radio = dynamic_cast<RadioButton*>(sibling);
        if (radio && radio != this && radio->checked_) {
            radio->checked_ = false;
            radio->notify(Change::Checked);
        }
    }
}

void RadioButton::setChecked(bool checked) {
    if (checked == checked_) return;
    setState(checked);
    if (checked) fire(EventKind::Click);
}

void RadioButton::initChecked(bool checked) {
    if (checked != checked_) setState(checked);
}

void RadioGroup::setItems(std::vector<std::string> items) {
    items_ = std::move(items);
    notify(Change::Items);
    if (itemIndex_ >= static_cast<int>(items_.size())) setItemIndex(itemIndex_);
}

void RadioGroup::setItemIndex(int index) {
    index = std::clamp(index, -1, static_cast<int>(items_.size()) - 1);
    if (index == itemIndex_) return;
    itemIndex_ = index;
    notify(Change::ItemIndex);
    fire(EventKind::Click);
}

void RadioGroup::userClickItem(int index) {
    if (index < 0 || index >= static_cast<int>(items_.size()))
        throw ToolkitError(form().name() + "." + name() + " has no item " + std::to_string(index));
    setItemIndex(index);
}

// Edit -------------------------------------------------------------------------

bool Edit::publishes(EventKind kind) const {
    return kind == EventKind::Change || kind == EventKind::KeyUp;
}

void Edit::setText(std::string text) {
    if (text == this->text()) return;
    selStart_ = 0;
    selLength_ = 0;
    storeText(std::move(text));
}

void Edit::select(std::size_t start, std::size_t length) {
    const std::string& t = text();
    start = std::min(start, t.size());
    length = std::min(length, t.size() - start);
    if (start == selStart_ && length == selLength_) return;
    selStart_ = start;
    selLength_ = length;
    notify(Change::Selection);
}

void Edit::edit(std::string text, std::size_t caret) {
    selStart_ = caret;
    selLength_ = 0;
    notify(Change::Selection);
    Control::setText(std::move(text));
}

void Edit::replaceSelection(std::string_view s) {
    std::string t = text();
    t.replace(selStart_, selLength_, s);
    edit(std::move(t), selStart_ + s.size());
}

void Edit::textChanged() {
    selStart_ = std::min(selStart_, text().size());
    selLength_ = std::min(selLength_, text().size() - selStart_);
    fire(EventKind::Change);
}

void Edit::userKeyDown(Key key) {
    const std::string& t = text();
    switch (key.code) {
    case KeyCode::Char:
        if (accepts(key.ch))
            replaceSelection(utf8(key.ch));
        else
            application().beep();
        break;
    case KeyCode::Backspace:
        if (selLength_ > 0) {
            replaceSelection("");
        } else if (selStart_ > 0) {
            std::size_t from = previousBoundary(t, selStart_);
            std::string n = t;
            n.erase(from, selStart_ - from);
            edit(std::move(n), from);
        }
        break;
    case KeyCode::Delete:
        if (selLength_ > 0) {
            replaceSelection("");
        } else if (selStart_ < t.size()) {
            std::string n = t;
            n.erase(selStart_, nextBoundary(t, selStart_) - selStart_);
            edit(std::move(n), selStart_);
        }
        break;
    case KeyCode::Left:
        select(selLength_ > 0 ? selStart_ : previousBoundary(t, selStart_), 0);
        break;
    case KeyCode::Right:
        select(selLength_ > 0 ? selStart_ + selLength_ : nextBoundary(t, selStart_), 0);
        break;
    case KeyCode::Home:
        select(0, 0);
        break;
    case KeyCode::End:
        select(t.size(), 0);
        break;
    default:
        break;
    }
}

// Spin edit ---------------------------------------------------------------------

SpinEdit::~SpinEdit() {
    if (repeatTimer_) application().backend().stopTimer(repeatTimer_);
}

void SpinEdit::setRange(int minValue, int maxValue) {
    min_ = minValue;
    max_ = maxValue;
    notify(Change::Range);
}

int SpinEdit::value() const {
    return strToIntDef(text(), min_);
}

void SpinEdit::setValue(int value) {
    if (max_ != min_) value = std::clamp(value, min_, max_);
    setText(std::to_string(value));
}

void SpinEdit::initValue(int value) {
    setValue(value);
}

void SpinEdit::stepUp() {
    setValue(saturate(static_cast<long long>(value()) + increment_));
}

void SpinEdit::stepDown() {
    setValue(saturate(static_cast<long long>(value()) - increment_));
}

void SpinEdit::userButtonDown(bool up) {
    userButtonUp();
    repeatUp_ = up;
    repeatCount_ = 0;
    Backend& backend = application().backend();
    repeatTimer_ = application().newTimerId();
    backend.startTimer(repeatTimer_, 400, [this] { application().dispatch([this] { repeat(); }); });
    up ? stepUp() : stepDown();
}

void SpinEdit::userButtonUp() {
    if (!repeatTimer_) return;
    application().backend().stopTimer(repeatTimer_);
    repeatTimer_ = 0;
}

void SpinEdit::repeat() {
    if (repeatCount_++ == 0) {
        // After the first pause the steps come faster.
        Backend& backend = application().backend();
        backend.stopTimer(repeatTimer_);
        repeatTimer_ = application().newTimerId();
        backend.startTimer(repeatTimer_, 100,
                           [this] { application().dispatch([this] { repeat(); }); });
    }
    repeatUp_ ? stepUp() : stepDown();
}

void SpinEdit::userKeyDown(Key key) {
    if (key.code == KeyCode::Up)
        stepUp();
    else if (key.code == KeyCode::Down)
        stepDown();
    else
        Edit::userKeyDown(key);
}

bool SpinEdit::accepts(char32_t c) const {
    if (c >= U'0' && c <= U'9') return true;
    if (c == U'+' || c == U'-') return true;
    if (c < 0x20) return c != U'\r';
    return utf8(c) == decimalSeparator();
}

void SpinEdit::focusLeft() {
    // Only a valid value outside the range is corrected; an invalid text
    // stays as typed.
    auto v = parseInt(text());
    if (v && max_ != min_ && (*v < min_ || *v > max_)) setValue(*v);
}

// Trackbar ---------------------------------------------------------------------

void TrackBar::setPosition(int position) {
    position = std::clamp(position, min_, max_);
    if (position == position_) return;
    position_ = position;
    notify(Change::Position);
    fire(EventKind::Change);
}

void TrackBar::setRange(int minimum, int maximum) {
    if (maximum < minimum)
        throw ToolkitError(name() + ": maximum " + std::to_string(maximum) + " below minimum " +
                           std::to_string(minimum));
    min_ = minimum;
    max_ = maximum;
    notify(Change::Range);
    const int clamped = std::clamp(position_, min_, max_);
    if (clamped != position_) {
        position_ = clamped;
        notify(Change::Position);
        fire(EventKind::Change);
    }
}

void TrackBar::initRange(int minimum, int maximum, int position) {
    if (maximum < minimum) maximum = minimum;
    min_ = minimum;
    max_ = maximum;
    position_ = std::clamp(position, min_, max_);
}

void TrackBar::userMouseDown(MouseButton button) {
    dragging_ = true;
    dragButton_ = button;
}

void TrackBar::userTrackDown(int towards) {
    dragging_ = true;
    dragButton_ = MouseButton::Left;
    if (towards > position_)
        userMoveTo(
            saturate(std::min<long long>(static_cast<long long>(position_) + pageSize_, towards)));
    else if (towards < position_)
        userMoveTo(
            saturate(std::max<long long>(static_cast<long long>(position_) - pageSize_, towards)));
}

void TrackBar::userMoveTo(int position) {
    position = std::clamp(position, min_, max_);
    if (position != position_) {
        position_ = position;
        notify(Change::Position);
    }
    // Every movement notification reports, moved or not.
    fire(EventKind::Change);
}

void TrackBar::userMouseMove(int position) {
    if (!dragging_) throw ToolkitError(name() + ": the thumb is not being dragged");
    userMoveTo(position);
}

void TrackBar::userMouseUp() {
    if (!dragging_) throw ToolkitError(name() + ": no mouse button is down on the slider");
    dragging_ = false;
    // The end of the drag is one more movement notification.
    fire(EventKind::Change);
    Event e{.kind = EventKind::MouseUp, .sender = this, .button = dragButton_};
    const int span = max_ - min_;
    const int length = orientation_ == Orientation::Horizontal ? bounds().width : bounds().height;
    const int along = span > 0 ? static_cast<int>(static_cast<long long>(position_ - min_) *
                                                  std::max(length - 1, 0) / span)
                               : 0;
    if (orientation_ == Orientation::Horizontal) {
        e.x = along;
        e.y = bounds().height / 2;
    } else {
        e.x = bounds().width / 2;
        e.y = along;
    }
    fire(e);
}

void TrackBar::userKeyDown(Key key) {
    switch (key.code) {
    case KeyCode::Right:
    case KeyCode::Down:
        userMoveTo(saturate(static_cast<long long>(position_) + lineSize_));
        break;
    case KeyCode::Left:
    case KeyCode::Up:
        userMoveTo(saturate(static_cast<long long>(position_) - lineSize_));
        break;
    case KeyCode::PageDown:
        userMoveTo(saturate(static_cast<long long>(position_) + pageSize_));
        break;
    case KeyCode::PageUp:
        userMoveTo(saturate(static_cast<long long>(position_) - pageSize_));
        break;
    case KeyCode::Home:
        userMoveTo(min_);
        break;
    case KeyCode::End:
        userMoveTo(max_);
        break;
    default:
        break;
    }
}

// Timer ------------------------------------------------------------------------

Timer::~Timer() {
    if (id_) application().backend().stopTimer(id_);
}

void Timer::setEnabled(bool enabled) {
    if (enabled == this->enabled()) return;
    Control::setEnabled(enabled);
    update();
}

void Timer::setInterval(int ms) {
    if (ms == interval_) return;
    interval_ = ms;
    update();
}

void Timer::update() {
    Backend& backend = application().backend();
    if (id_) {
        backend.stopTimer(id_);
        id_ = 0;
    }
    if (enabled() && interval_ > 0 && hasHandler(EventKind::Timer)) {
        id_ = application().newTimerId();
        backend.startTimer(id_, interval_,
                           [this] { application().dispatch([this] { fire(EventKind::Timer); }); });
    }
}

} // namespace talvine::tk
