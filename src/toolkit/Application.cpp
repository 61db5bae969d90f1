#include "toolkit/Application.h"

#include "toolkit/Headless.h"

#include <algorithm>

namespace talvine::tk {

namespace {
// The application object that shows the cursor: the newest one alive, each
// handing it back to the one before when it goes.  Plain pointer: nothing
// to destroy when the module unloads.
Application* gCurrent = nullptr;
} // namespace

Application::Application(std::unique_ptr<Backend> backend) : backend_(std::move(backend)) {
    if (!backend_) backend_ = std::make_unique<HeadlessBackend>();
    headless_ = dynamic_cast<HeadlessBackend*>(backend_.get());
    previous_ = gCurrent;
    gCurrent = this;
    setCursorSink(&Application::cursorSink);
    cursor_ = currentCursor();
}

Application::~Application() {
    destroying_ = true;
    // Forms made last go first.
    while (!owned_.empty())
        owned_.pop_back();
    if (gCurrent == this) gCurrent = previous_;
    if (!gCurrent) setCursorSink(nullptr);
}

void Application::setBackend(std::unique_ptr<Backend> backend) {
    if (!backend) backend = std::make_unique<HeadlessBackend>();
    // A view that also watched the model stops watching with it.
    if (auto* watcher = dynamic_cast<Observer*>(backend_.get())) removeObserver(watcher);
    backend_ = std::move(backend);
    headless_ = dynamic_cast<HeadlessBackend*>(backend_.get());
    backend_->showCursor(cursor_);
}

void Application::adopt(std::unique_ptr<Form> form) {
    if (!form) return;
    if (&form->app() != this)
        throw ToolkitError("form '" + form->name() + "' belongs to another application");
    owned_.push_back(std::move(form));
}

void Application::enroll(Form* form) {
    if (findForm(form->name())) throw ToolkitError("two forms are named '" + form->name() + "'");
    forms_.push_back(form);
}

void Application::forget(Form* form) {
    std::erase(forms_, form);
    std::erase(shownOrder_, form);
    std::erase(modalStack_, form);
    if (!destroying_) {
        // A form deleted by its own code is no longer ours to delete.
        for (auto& owned : owned_)
            if (owned.get() == form) (void)owned.release();
        std::erase_if(owned_, [](const std::unique_ptr<Form>& f) { return !f; });
    }
}

Form* Application::findForm(std::string_view name) const {
    for (Form* f : forms_)
        if (f->name() == name) return f;
    return nullptr;
}

Form* Application::activeForm() const {
    if (Form* m = modalForm()) return m;
    for (auto it = shownOrder_.rbegin(); it != shownOrder_.rend(); ++it)
        if ((*it)->visible()) return *it;
    return nullptr;
}

void Application::formShown(Form* form) {
    std::erase(shownOrder_, form);
    shownOrder_.push_back(form);
}

void Application::cursorSink(Cursor cursor) {
    if (gCurrent) gCurrent->applyCursor(cursor);
}

void Application::setCursor(Cursor cursor) {
    if (gCurrent == this)
        talvine::setCursor(cursor); // keeps the engines' view in step
    else
        applyCursor(cursor);
}

void Application::applyCursor(Cursor cursor) {
    cursor_ = cursor;
    backend_->showCursor(cursor);
    for (Observer* o : std::vector<Observer*>(observers_))
        o->cursorChanged(cursor);
}

std::string errorBoxText(std::string_view message) {
    std::string text(message);
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
    return text;
}

void Application::showException(const std::exception& e) {
    backend_->showBox({BoxKind::Error, kErrorCaption, errorBoxText(e.what())});
}

void Application::showWarning(std::string text) {
    backend_->showBox({BoxKind::Warning, kWarningCaption, std::move(text)});
}

void Application::showMessage(std::string text) {
    backend_->showBox({BoxKind::Information, kMessageCaption, std::move(text)});
}

void Application::beep() {
    backend_->beep();
    for (Observer* o : std::vector<Observer*>(observers_))
        o->beeped();
}

void Application::addObserver(Observer* observer) {
    if (std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
        observers_.push_back(observer);
}

void Application::removeObserver(Observer* observer) {
    std::erase(observers_, observer);
}

void Application::notify(Control& control, Change what) {
    if (observers_.empty()) return;
    for (Observer* o : std::vector<Observer*>(observers_))
        o->changed(control, what);
}

} // namespace talvine::tk
