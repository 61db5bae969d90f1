#include "views/qt/QtView.h"

#include "core/ExtendedPrecision.h"
#include "toolkit/Form.h"
#include "views/ViewRules.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialog>
#include <QGroupBox>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <optional>
#include <vector>

namespace talvine::views {
namespace {

QString qs(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QPixmap pixmapOf(const tk::Picture& p) {
    if (p.width <= 0 || p.height <= 0 ||
        p.rgb.size() < static_cast<size_t>(p.width) * static_cast<size_t>(p.height) * 3)
        return {};
    QImage image(p.rgb.data(), p.width, p.height, p.width * 3, QImage::Format_RGB888);
    return QPixmap::fromImage(image.copy());
}

Qt::Alignment alignmentOf(tk::Alignment a) {
    switch (a) {
    case tk::Alignment::Right:
        return Qt::AlignRight | Qt::AlignVCenter;
    case tk::Alignment::Center:
        return Qt::AlignHCenter | Qt::AlignVCenter;
    case tk::Alignment::Left:
        break;
    }
    return Qt::AlignLeft | Qt::AlignVCenter;
}

// A key as the toolkit names it; nothing for keys the forms never use.
std::optional<tk::Key> keyOf(const QKeyEvent& e) {
    using K = tk::KeyCode;
    switch (e.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return tk::Key{K::Enter, 0};
    case Qt::Key_Escape:
        return tk::Key{K::Escape, 0};
    case Qt::Key_Tab:
        return tk::Key{K::Tab, 0};
    case Qt::Key_Backspace:
        return tk::Key{K::Backspace, 0};
    case Qt::Key_Delete:
        return tk::Key{K::Delete, 0};
    case Qt::Key_Left:
        return tk::Key{K::Left, 0};
    case Qt::Key_Right:
        return tk::Key{K::Right, 0};
    case Qt::Key_Up:
        return tk::Key{K::Up, 0};
    case Qt::Key_Down:
        return tk::Key{K::Down, 0};
    case Qt::Key_Home:
        return tk::Key{K::Home, 0};
    case Qt::Key_End:
        return tk::Key{K::End, 0};
    case Qt::Key_PageUp:
        return tk::Key{K::PageUp, 0};
    case Qt::Key_PageDown:
        return tk::Key{K::PageDown, 0};
    default:
        break;
    }
    const QList<uint> text = e.text().toUcs4();
    if (text.size() == 1 && QChar::isPrint(static_cast<char32_t>(text[0])))
        return tk::Key::character(static_cast<char32_t>(text[0]));
    return std::nullopt;
}

// Caret and selection of the model count UTF-8 bytes; Qt counts UTF-16 units.
int unitsBefore(const std::string& text, size_t bytes) {
    bytes = std::min(bytes, text.size());
    return static_cast<int>(QString::fromUtf8(text.data(), static_cast<qsizetype>(bytes)).size());
}

// The width a caption needs in its widget; 0 for widgets without one.
int captionWidth(QWidget* w) {
    if (auto* l = qobject_cast<QLabel*>(w)) {
        if (l->text().isEmpty() || !l->pixmap().isNull()) return 0;
        return l->fontMetrics().horizontalAdvance(l->text()) + 2 * l->margin() + 1;
    }
    if (auto* b = qobject_cast<QCheckBox*>(w))
        return b->text().isEmpty() ? 0 : b->sizeHint().width();
    if (auto* b = qobject_cast<QRadioButton*>(w))
        return b->text().isEmpty() ? 0 : b->sizeHint().width();
    return 0;
}

// The forms are laid out for another dialog font: a caption wider than its
// bounds takes the free room beside it in its parent (on the side its
// alignment leaves), and only when that is not enough a smaller font, so
// that it shows whole.
void fitCaption(QWidget* w, Qt::Alignment align) {
    w->setFont(QFont()); // the parent's again, as the text may have changed
    const int want = captionWidth(w);
    QWidget* parent = w->parentWidget();
    if (!parent || want <= w->width()) return;
    QRect r = w->geometry();
    int left = qobject_cast<QGroupBox*>(parent) ? 3 : 0;
    int right = parent->width() - left;
    for (QObject* o : parent->children()) {
        auto* s = qobject_cast<QWidget*>(o);
        if (!s || s == w || s->isHidden() ||
            !s->geometry().intersects(QRect(0, r.top(), parent->width(), r.height())))
            continue;
        if (s->geometry().left() >= r.right()) right = std::min(right, s->geometry().left());
        if (s->geometry().right() <= r.left()) left = std::max(left, s->geometry().right() + 1);
    }
    const int short_ = want - r.width();
    const int roomRight = std::max(0, right - r.right() - 1),
              roomLeft = std::max(0, r.left() - left);
    int growRight = 0, growLeft = 0;
    if (align & Qt::AlignRight) {
        growLeft = std::min(short_, roomLeft);
        growRight = std::min(short_ - growLeft, roomRight);
    } else if (align & Qt::AlignHCenter) {
        growLeft = std::min((short_ + 1) / 2, roomLeft);
        growRight = std::min(short_ - growLeft, roomRight);
        growLeft += std::min(short_ - growLeft - growRight, roomLeft - growLeft);
    } else {
        growRight = std::min(short_, roomRight);
        growLeft = std::min(short_ - growRight, roomLeft);
    }
    r.adjust(-growLeft, 0, growRight, 0);
    w->setGeometry(r);
    QFont font = w->font();
    while (captionWidth(w) > r.width() && font.pixelSize() > 7) {
        font.setPixelSize(font.pixelSize() - 1);
        w->setFont(font);
    }
}

// A slider that tells whether a point is on its thumb and which value a
// point of its track stands for.
class ModelSlider : public QSlider {
  public:
    using QSlider::QSlider;
    bool onHandle(QPoint p) const { return rect(QStyle::SC_SliderHandle).contains(p); }
    int valueAt(QPoint p) const {
        const QRect groove = rect(QStyle::SC_SliderGroove);
        const QRect handle = rect(QStyle::SC_SliderHandle);
        const bool horizontal = orientation() == Qt::Horizontal;
        const int length = horizontal ? handle.width() : handle.height();
        const int span = (horizontal ? groove.width() : groove.height()) - length;
        const int at = (horizontal ? p.x() - groove.x() : p.y() - groove.y()) - length / 2;
        return QStyle::sliderValueFromPosition(minimum(), maximum(), at, span, !horizontal);
    }

  private:
    QRect rect(QStyle::SubControl part) const {
        QStyleOptionSlider opt;
        initStyleOption(&opt);
        return style()->subControlRect(QStyle::CC_Slider, &opt, part, this);
    }
};

} // namespace

struct QtView::Entry {
    QWidget* main = nullptr;
    QLineEdit* edit = nullptr;
    ModelSlider* slider = nullptr;
    QAbstractButton* button = nullptr;
    QLabel* label = nullptr;
    QGroupBox* box = nullptr;
    std::vector<QRadioButton*> items;
    QToolButton* up = nullptr;
    QToolButton* down = nullptr;
    bool trackPressed = false;
};

class QtView::FormWindow : public QDialog {
  public:
    FormWindow(QtView& view, tk::Form& form) : view_(view), form_(form) {}

  protected:
    void keyPressEvent(QKeyEvent* e) override {
        if (auto k = keyOf(*e)) view_.key(nullptr, form_, *k);
    }
    void closeEvent(QCloseEvent* e) override {
        // The window's close button closes the form as the model says.
        e->ignore();
        if (view_.syncing_ || !form_.visible()) return;
        view_.input(form_, [this] { form_.app().dispatch([this] { form_.close(); }); });
    }
    // Escape reaches the model through keyPressEvent.
    void reject() override {}

  private:
    QtView& view_;
    tk::Form& form_;
};

QtView::QtView(tk::Application& app) : app_(app), ui_(app) {
    app_.addObserver(this);
}

QtView::~QtView() {
    // The forms may be gone already (the application destroys its view
    // last): nothing of the model is touched from here on.
    closing_ = true;
    if (hourglass_ && qApp) QGuiApplication::restoreOverrideCursor();
    for (auto& [form, window] : windows_)
        delete window.data();
}

QDialog* QtView::window(const tk::Form& form) const {
    auto it = windows_.find(&form);
    return it == windows_.end() ? nullptr : it->second.data();
}

QWidget* QtView::widget(const tk::Control& control) const {
    if (control.kind() == tk::ControlKind::Form)
        return window(static_cast<const tk::Form&>(control));
    auto it = entries_.find(&control);
    return it == entries_.end() ? nullptr : it->second->main;
}

tk::Control* QtView::controlOf(QObject* o) const {
    auto it = byWidget_.find(o);
    return it == byWidget_.end() ? nullptr : it->second;
}

void QtView::input(tk::Control& c, const std::function<void()>& action) {
    if (syncing_ || closing_) return;
    runInput(action);
    if (!closing_) refresh(c);
}

void QtView::key(tk::Control* c, tk::Form& form, tk::Key k) {
    input(c ? *c : form, [&] { pressKey(ui_, c, k); });
}

QDialog* QtView::build(tk::Form& form) {
    if (QDialog* w = window(form)) return w;
    const tk::FormDesc& d = form.description();
    auto* w = new FormWindow(*this, form);
    w->setObjectName(qs(form.name()));
    QFont font = w->font();
    font.setPixelSize(10); // the forms are laid out for an 8-point dialog font
    w->setFont(font);
    windows_[&form] = w;
    byWidget_[w] = &form;
    for (const auto& c : form.controls())
        if (!c->parent() || c->parent() == &form) buildControl(*c, w);
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (d.systemMenu) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    w->setWindowFlags(flags);
    refreshForm(form);
    if (d.position == tk::FormPosition::ScreenCenter) {
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            w->move(area.center() - QPoint(d.clientWidth / 2, d.clientHeight / 2));
        }
    } else {
        w->move(form.bounds().left, form.bounds().top);
    }
    return w;
}

QWidget* QtView::buildControl(tk::Control& c, QWidget* parent) {
    using K = tk::ControlKind;
    if (c.kind() == K::Timer) return nullptr;
    auto e = std::make_unique<Entry>();
    tk::Control* cp = &c;
    switch (c.kind()) {
    case K::Label:
    case K::Image:
        e->main = e->label = new QLabel(parent);
        break;
    case K::GroupBox:
        e->main = e->box = new QGroupBox(parent);
        break;
    case K::Button:
    case K::BitBtn: {
        auto* b = new QPushButton(parent);
        b->setAutoDefault(false);
        e->main = e->button = b;
        connect(b, &QPushButton::clicked, this,
                [this, cp] { input(*cp, [&] { ui_.click(*cp); }); });
        break;
    }
    case K::CheckBox:
    case K::RadioButton: {
        QAbstractButton* b = nullptr;
        if (c.kind() == K::CheckBox) {
            b = new QCheckBox(parent);
        } else {
            auto* r = new QRadioButton(parent);
            r->setAutoExclusive(false); // the model unchecks the siblings
            b = r;
        }
        e->main = e->button = b;
        connect(b, &QAbstractButton::clicked, this,
                [this, cp] { input(*cp, [&] { ui_.click(*cp); }); });
        break;
    }
    case K::RadioGroup: {
        auto& g = static_cast<tk::RadioGroup&>(c);
        e->main = e->box = new QGroupBox(parent);
        const int count = static_cast<int>(g.items().size());
        for (int i = 0; i < count; ++i) {
            auto* r = new QRadioButton(e->box);
            r->setAutoExclusive(false);
            r->setObjectName(qs(c.name()) + QString::number(i));
            e->items.push_back(r);
            byWidget_[r] = cp;
            r->installEventFilter(this);
            connect(r, &QRadioButton::clicked, this,
                    [this, cp, i] { input(*cp, [&] { ui_.clickItem(*cp, i); }); });
        }
        break;
    }
    case K::Edit:
    case K::EditVal:
        e->main = e->edit = new QLineEdit(parent);
        break;
    case K::SpinEdit: {
        auto* holder = new QWidget(parent);
        e->main = holder;
        e->edit = new QLineEdit(holder);
        e->up = new QToolButton(holder);
        e->down = new QToolButton(holder);
        e->up->setArrowType(Qt::UpArrow);
        e->down->setArrowType(Qt::DownArrow);
        for (QToolButton* arrow : {e->up, e->down}) {
            const bool up = arrow == e->up;
            arrow->setFocusPolicy(Qt::NoFocus);
            arrow->setObjectName(qs(c.name()) + (up ? "Up" : "Down"));
            connect(arrow, &QToolButton::pressed, this, [this, cp, up] {
                input(*cp, [&] {
                    ui_.focus(*cp);
                    auto& s = static_cast<tk::SpinEdit&>(*cp);
                    app_.dispatch([&] { s.userButtonDown(up); });
                });
            });
            connect(arrow, &QToolButton::released, this, [this, cp] {
                input(*cp, [&] {
                    auto& s = static_cast<tk::SpinEdit&>(*cp);
                    if (s.buttonHeld()) app_.dispatch([&] { s.userButtonUp(); });
                });
            });
        }
        break;
    }
    case K::TrackBar:
    case K::BarreCurseur: {
        auto* s = new ModelSlider(Qt::Horizontal, parent);
        s->setTickPosition(QSlider::TicksBelow);
        e->main = e->slider = s;
        connect(s, &QSlider::sliderMoved, this, [this, cp](int v) {
            auto& t = static_cast<tk::TrackBar&>(*cp);
            if (t.dragging()) input(*cp, [&] { app_.dispatch([&] { t.userMouseMove(v); }); });
        });
        break;
    }
    case K::Form:
    case K::Timer:
        return nullptr;
    }
    if (e->edit) {
        e->edit->setContextMenuPolicy(Qt::NoContextMenu);
        e->edit->setAcceptDrops(false);
        e->edit->setObjectName(qs(c.name()) + (c.kind() == K::SpinEdit ? "Edit" : ""));
        byWidget_[e->edit] = cp;
        e->edit->installEventFilter(this);
    }
    e->main->setObjectName(qs(c.name()));
    e->main->setFocusPolicy(c.focusable() ? Qt::ClickFocus : Qt::NoFocus);
    byWidget_[e->main] = cp;
    e->main->installEventFilter(this);
    // Labels and images are drawn under the other controls of their parent,
    // whatever their order in the description (check boxes over a preview).
    if (c.kind() == K::Label || c.kind() == K::Image) e->main->lower();
    QWidget* main = e->main;
    entries_[&c] = std::move(e);
    for (tk::Control* child : c.children())
        buildControl(*child, main);
    refresh(c);
    return main;
}

void QtView::refreshForm(tk::Form& form) {
    QDialog* w = window(form);
    if (!w) return;
    ++syncing_;
    w->setWindowTitle(qs(form.text()));
    w->setFixedSize(form.bounds().width, form.bounds().height);
    const bool onTop = w->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    if (onTop != form.stayOnTop()) {
        const bool shown = w->isVisible();
        w->setWindowFlag(Qt::WindowStaysOnTopHint, form.stayOnTop());
        if (shown) w->show(); // changing the flags hides a window
    }
    --syncing_;
}

void QtView::refresh(tk::Control& c) {
    using K = tk::ControlKind;
    if (c.kind() == K::Form) {
        refreshForm(static_cast<tk::Form&>(c));
        return;
    }
    auto it = entries_.find(&c);
    if (it == entries_.end()) return;
    Entry& e = *it->second;
    ++syncing_;
    // Every widget of the control is silent while it is set from the model
    // (some are the same object twice: each is blocked once).
    std::vector<QObject*> quiet;
    for (QObject* o :
         std::initializer_list<QObject*>{e.main, e.edit, e.slider, e.button, e.up, e.down})
        if (o && std::find(quiet.begin(), quiet.end(), o) == quiet.end()) quiet.push_back(o);
    quiet.insert(quiet.end(), e.items.begin(), e.items.end());
    std::vector<std::unique_ptr<QSignalBlocker>> blocks;
    for (QObject* o : quiet)
        blocks.push_back(std::make_unique<QSignalBlocker>(o));

    const tk::Rect& b = c.bounds();
    e.main->setGeometry(b.left, b.top, b.width, b.height);
    e.main->setEnabled(c.enabled());
    const QString text = qs(c.text());
    switch (c.kind()) {
    case K::Label:
        e.label->setText(text);
        e.label->setAlignment(alignmentOf(c.alignment()));
        if (b.width <= 0 || b.height <= 0)
            e.label->adjustSize();
        else
            fitCaption(e.label, alignmentOf(c.alignment()));
        break;
    case K::Image: {
        const auto& image = static_cast<tk::Image&>(c);
        e.label->setScaledContents(image.stretch());
        e.label->setPixmap(pixmapOf(image.picture()));
        break;
    }
    case K::GroupBox:
        e.box->setTitle(text);
        break;
    case K::Button:
    case K::BitBtn: {
        const auto& button = static_cast<tk::Button&>(c);
        e.button->setText(text);
        static_cast<QPushButton*>(e.button)->setDefault(button.isDefault());
        const QPixmap glyph = pixmapOf(button.glyph());
        if (!glyph.isNull()) e.button->setIcon(QIcon(glyph));
        break;
    }
    case K::CheckBox:
        e.button->setText(text);
        e.button->setChecked(static_cast<tk::CheckBox&>(c).checked());
        fitCaption(e.button, Qt::AlignLeft);
        break;
    case K::RadioButton:
        e.button->setText(text);
        e.button->setChecked(static_cast<tk::RadioButton&>(c).checked());
        fitCaption(e.button, Qt::AlignLeft);
        break;
    case K::RadioGroup: {
        const auto& g = static_cast<tk::RadioGroup&>(c);
        e.box->setTitle(text);
        const int count = static_cast<int>(e.items.size());
        for (int i = 0; i < count; ++i) {
            const tk::Rect r = radioItemBounds(i, count, g.columns(), b.width, b.height);
            e.items[static_cast<size_t>(i)]->setGeometry(r.left, r.top, r.width, r.height);
        }
        for (size_t i = 0; i < e.items.size(); ++i) {
            e.items[i]->setText(i < g.items().size() ? qs(g.items()[i]) : QString());
            e.items[i]->setChecked(static_cast<int>(i) == g.itemIndex());
            fitCaption(e.items[i], Qt::AlignLeft);
        }
        break;
    }
    case K::Edit:
    case K::EditVal:
    case K::SpinEdit: {
        const auto& edit = static_cast<tk::Edit&>(c);
        e.edit->setText(text);
        e.edit->setAlignment(alignmentOf(c.alignment()));
        const int start = unitsBefore(c.text(), edit.selStart());
        const int end = unitsBefore(c.text(), edit.selStart() + edit.selLength());
        if (end > start)
            e.edit->setSelection(start, end - start);
        else
            e.edit->setCursorPosition(start);
        if (e.up) {
            const int arrows = std::min(16, b.width / 3);
            e.edit->setGeometry(0, 0, b.width - arrows, b.height);
            e.up->setGeometry(b.width - arrows, 0, arrows, b.height / 2);
            e.down->setGeometry(b.width - arrows, b.height / 2, arrows, b.height - b.height / 2);
        }
        break;
    }
    case K::TrackBar:
    case K::BarreCurseur: {
        const auto& t = static_cast<tk::TrackBar&>(c);
        e.slider->setOrientation(t.orientation() == tk::Orientation::Horizontal ? Qt::Horizontal
                                                                                : Qt::Vertical);
        e.slider->setRange(t.min(), t.max());
        e.slider->setTickInterval(std::max(1, t.frequency()));
        e.slider->setPageStep(t.pageSize());
        e.slider->setSingleStep(t.lineSize());
        if (!e.slider->isSliderDown() || !t.dragging())
            e.slider->setValue(t.position());
        else
            e.slider->setSliderPosition(t.position());
        break;
    }
    case K::Form:
    case K::Timer:
        break;
    }
    e.main->setVisible(c.visible());
    --syncing_;
}

void QtView::focusFromModel(tk::Form& form) {
    tk::Control* focused = form.focusedControl();
    if (!focused) return;
    auto it = entries_.find(focused);
    if (it == entries_.end()) return;
    QWidget* target = it->second->edit ? it->second->edit : it->second->main;
    if (target->hasFocus()) return;
    ++syncing_;
    target->setFocus(Qt::OtherFocusReason);
    --syncing_;
}

bool QtView::eventFilter(QObject* watched, QEvent* event) {
    if (closing_ || syncing_) return false;
    tk::Control* c = controlOf(watched);
    if (!c) return false;
    switch (event->type()) {
    case QEvent::KeyPress: {
        auto* k = static_cast<QKeyEvent*>(event);
        if (auto key = keyOf(*k)) this->key(c, c->form(), *key);
        return true; // every key goes through the model
    }
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
        return event->type() != QEvent::ShortcutOverride;
    case QEvent::FocusIn: {
        // A click that moves the focus moves the model's focus first.
        auto* f = static_cast<QFocusEvent*>(event);
        if (f->reason() == Qt::MouseFocusReason && c->focusable() &&
            c->form().focusedControl() != c)
            input(*c, [&] { app_.dispatch([&] { c->form().setFocus(c); }); });
        return false;
    }
    case QEvent::Wheel:
        return true; // the wheel moves nothing the model would not know
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease: {
        auto it = entries_.find(c);
        if (it == entries_.end() || !it->second->slider || watched != it->second->slider)
            return false;
        Entry& e = *it->second;
        auto& t = static_cast<tk::TrackBar&>(*c);
        auto* m = static_cast<QMouseEvent*>(event);
        if (m->button() != Qt::LeftButton) return true;
        if (event->type() == QEvent::MouseButtonPress) {
            if (e.slider->onHandle(m->position().toPoint())) {
                input(*c, [&] {
                    ui_.focus(*c);
                    app_.dispatch([&] { t.userMouseDown(tk::MouseButton::Left); });
                });
                e.trackPressed = false;
                return false; // the slider drags its thumb; its moves come back as input
            }
            const int towards = e.slider->valueAt(m->position().toPoint());
            input(*c, [&] {
                ui_.focus(*c);
                app_.dispatch([&] { t.userTrackDown(towards); });
            });
            e.trackPressed = true;
            return true;
        }
        if (t.dragging()) input(*c, [&] { app_.dispatch([&] { t.userMouseUp(); }); });
        const bool consumed = e.trackPressed;
        e.trackPressed = false;
        return consumed;
    }
    default:
        return false;
    }
}

void QtView::showForm(tk::Form& form) {
    QDialog* w = build(form);
    refreshForm(form);
    for (const auto& c : form.controls())
        refresh(*c);
    ++syncing_;
    w->setWindowModality(form.modal() ? Qt::ApplicationModal : Qt::NonModal);
    w->show();
    w->raise();
    w->activateWindow();
    --syncing_;
    focusFromModel(form);
}

void QtView::hideForm(tk::Form& form) {
    if (QDialog* w = window(form)) {
        ++syncing_;
        w->hide();
        --syncing_;
    }
}

void QtView::runModalStep(tk::Form&) {
    // The host's own events run under the host's floating-point settings;
    // ours come back through dispatch, which sets the library's.
    const HostPrecision host;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void QtView::startTimer(TimerId id, int intervalMs, std::function<void()> tick) {
    stopTimer(id);
    auto* t = new QTimer(this);
    t->setInterval(intervalMs);
    connect(t, &QTimer::timeout, this, [tick = std::move(tick)] { tick(); });
    timers_[id] = t;
    t->start();
}

void QtView::stopTimer(TimerId id) {
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    if (QTimer* t = it->second.data()) {
        t->stop();
        t->deleteLater(); // it may be the timer whose tick is running
    }
    timers_.erase(it);
}

void QtView::showBox(const tk::Box& box) {
    QMessageBox::Icon icon = QMessageBox::Information;
    if (box.kind == tk::BoxKind::Error) icon = QMessageBox::Critical;
    if (box.kind == tk::BoxKind::Warning) icon = QMessageBox::Warning;
    QMessageBox m(icon, qs(box.caption), qs(box.text), QMessageBox::Ok);
    m.setObjectName("TalvineBox");
    m.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    // The box's own loop serves the host's windows too.
    const HostPrecision host;
    m.exec();
}

void QtView::showCursor(Cursor cursor) {
    if (!qApp) return;
    if (cursor == Cursor::Hourglass && !hourglass_) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        hourglass_ = true;
    } else if (cursor == Cursor::Default && hourglass_) {
        QGuiApplication::restoreOverrideCursor();
        hourglass_ = false;
    }
}

void QtView::beep() {
    QApplication::beep();
}

void QtView::changed(tk::Control& control, tk::Change what) {
    if (closing_) return;
    if (control.kind() == tk::ControlKind::Form) {
        auto& form = static_cast<tk::Form&>(control);
        if (what == tk::Change::Focus)
            focusFromModel(form);
        else if (what != tk::Change::Visible)
            refreshForm(form);
        return;
    }
    refresh(control);
    if (what == tk::Change::Visible || what == tk::Change::Enabled)
        for (tk::Control* child : control.children())
            refresh(*child);
}

} // namespace talvine::views
