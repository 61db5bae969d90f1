// The Qt 6 Widgets view of the form toolkit.
//
// One QDialog per form, built the first time the form is shown, with one
// widget per control at the control's bounds.  The view is the toolkit's
// backend (forms shown and hidden, modal loops as turns of Qt's event loop,
// timers as QTimers, boxes as message boxes, the application cursor) and
// watches the model as an observer.
//
// Input goes one way only: a click, a key or a slider drag on a widget is
// routed into the model through the calls Automation makes (or the `user...`
// members of the controls), and the widget is then redrawn from the model.
// Widgets are always updated from the model with their signals blocked, so
// an update never comes back as input.
//
// Built as TalvineQtView.so, the view works on the library's own objects:
// what must match between the two modules, and the build identifier that
// checks it at load time (talvine_qt_view_build), is stated in
// plugin/ViewChoice.h.
#pragma once

#include "toolkit/Application.h"
#include "toolkit/Automation.h"
#include "toolkit/Toolkit.h"

#include <QObject>
#include <QPointer>

#include <map>
#include <memory>

class QDialog;
class QTimer;
class QWidget;

namespace talvine::views {

class QtView final : public QObject, public tk::Backend, public tk::Observer {
  public:
    // Registers itself as an observer of `app`; the application owns the
    // view (Application::setBackend), stops the watching when it replaces
    // the view, and otherwise destroys it last, after its forms.
    explicit QtView(tk::Application& app);
    ~QtView() override;

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

    // The window of a form and the widget of a control, once the form was
    // shown (null before).  Every widget carries the control's name as its
    // objectName.
    QDialog* window(const tk::Form& form) const;
    QWidget* widget(const tk::Control& control) const;

    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    class FormWindow;
    struct Entry; // a control's widgets
    QDialog* build(tk::Form& form);
    QWidget* buildControl(tk::Control& c, QWidget* parent);
    void refresh(tk::Control& c);
    void refreshForm(tk::Form& form);
    void focusFromModel(tk::Form& form);
    void input(tk::Control& c, const std::function<void()>& action);
    void key(tk::Control* c, tk::Form& form, tk::Key key);
    tk::Control* controlOf(QObject* o) const;

    tk::Application& app_;
    tk::Automation ui_;
    std::map<const tk::Form*, QPointer<QDialog>> windows_;
    std::map<const tk::Control*, std::unique_ptr<Entry>> entries_;
    std::map<const QObject*, tk::Control*> byWidget_;
    std::map<TimerId, QPointer<QTimer>> timers_;
    bool hourglass_ = false;
    int syncing_ = 0; // widgets are being updated from the model
    bool closing_ = false;
};

} // namespace talvine::views
