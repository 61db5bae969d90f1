// The application object: owns the dialogs' forms, the application-wide
// cursor and the backend, shows the boxes, and catches what escapes an event
// handler.
//
// The toolkit keeps no application object of its own: whoever makes one owns
// it.  The library's start-up makes the library's (talvine::application(),
// plugin/Library.h) and destroys it, with every form it owns, at shut-down;
// tests and views make their own.  The newest one alive shows the
// application-wide cursor (talvine::BusyCursor).
#pragma once

#include "core/ExtendedPrecision.h"
#include "toolkit/Form.h"
#include "toolkit/Toolkit.h"

#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace talvine::tk {

class HeadlessBackend;

class Application {
  public:
    // Without a backend: the headless one, with its virtual clock.
    explicit Application(std::unique_ptr<Backend> backend = nullptr);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    Backend& backend() { return *backend_; }
    // Plugs in another view (null: the headless one), before any timer runs.
    void setBackend(std::unique_ptr<Backend> backend);
    // The headless backend, or null when a view is plugged in.
    HeadlessBackend* headless() { return headless_; }

    // Creates a form of class F (constructed with this application first)
    // and keeps it until the application is destroyed.
    template <class F, class... Args> F& createForm(Args&&... args) {
        auto form = std::make_unique<F>(*this, std::forward<Args>(args)...);
        F& ref = *form;
        adopt(std::move(form));
        return ref;
    }
    void adopt(std::unique_ptr<Form> form);
    Form* findForm(std::string_view name) const;
    const std::vector<Form*>& forms() const { return forms_; }
    // The innermost form whose modal loop is running, or null.
    Form* modalForm() const { return modalStack_.empty() ? nullptr : modalStack_.back(); }
    // The form keys go to: the modal form, else the form shown last.
    Form* activeForm() const;

    // The application-wide cursor.  talvine::setCursor and BusyCursor reach
    // it too.
    Cursor cursor() const { return cursor_; }
    void setCursor(Cursor cursor);

    // The standard handler of an exception escaping an event handler: an
    // error box whose text is the message with a full stop added unless it
    // ends in a character that sorts at or before ".".
    void showException(const std::exception& e);
    void showWarning(std::string text);
    void showMessage(std::string text);
    // Runs one piece of user input (a click, a key, a tick).  An exception
    // escaping it is shown by the standard handler and goes no further;
    // ToolkitError (a scripting mistake) does go further.  Input from the
    // host's loop computes as inside an entry point, and the callbacks it
    // causes run with the host's floating-point settings.
    template <class F> void dispatch(F&& input) {
        const ExtendedPrecision precision;
        try {
            input();
        } catch (const ToolkitError&) {
            throw;
        } catch (const std::exception& e) {
            showException(e);
        }
    }
    void beep();

    void addObserver(Observer* observer);
    void removeObserver(Observer* observer);

    // Internals used by forms and controls.
    void notify(Control& control, Change what);
    Backend::TimerId newTimerId() { return ++lastTimerId_; }
    void pushModal(Form* form) { modalStack_.push_back(form); }
    void popModal() { modalStack_.pop_back(); }
    void formShown(Form* form);
    void enroll(Form* form);
    void forget(Form* form);

  private:
    static void cursorSink(Cursor cursor);
    void applyCursor(Cursor cursor);
    std::unique_ptr<Backend> backend_;
    HeadlessBackend* headless_ = nullptr;
    std::vector<std::unique_ptr<Form>> owned_;
    std::vector<Form*> forms_;      // every live form, owned or not
    std::vector<Form*> shownOrder_; // most recently shown last
    std::vector<Form*> modalStack_;
    std::vector<Observer*> observers_;
    Cursor cursor_ = Cursor::Default;
    Backend::TimerId lastTimerId_ = 0;
    bool destroying_ = false;
    Application* previous_ = nullptr;
};

// The error box's text for a message.
std::string errorBoxText(std::string_view message);

inline constexpr const char* kWarningCaption = "Avertissement";
inline constexpr const char* kErrorCaption = "Erreur";
inline constexpr const char* kMessageCaption = "Talvine";
inline constexpr const char* kCancelCaption = "Annuler";
inline constexpr const char* kOkCaption = "OK";

} // namespace talvine::tk
