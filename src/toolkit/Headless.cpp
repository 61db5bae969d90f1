#include "toolkit/Headless.h"

#include "toolkit/Application.h"
#include "toolkit/Controls.h"
#include "toolkit/Form.h"

#include <algorithm>

namespace talvine::tk {

void HeadlessBackend::showForm(Form& form) {
    if (cancelling_ == &form) cancelling_ = nullptr;
}

void HeadlessBackend::hideForm(Form& form) {
    if (cancelling_ == &form) cancelling_ = nullptr;
}

// Nothing is written to the process's standard streams: they belong to the
// host.  Failures and boxes are kept for whoever drives the backend.
void HeadlessBackend::runModalStep(Form& form) {
    if (actions_.empty()) {
        if (cancelling_ == &form) {
            // Cancelling did not close it (its OnClose refused): nothing else can.
            cancelling_ = nullptr;
            throw ToolkitError("the modal form '" + form.name() + "' cannot be closed");
        }
        failures_.push_back("the modal form '" + form.name() +
                            "' waits for user input, but no scripted action is left");
        // Nobody can answer: the form closes as its cancel button (Escape)
        // would close it, with that button's own handler.
        cancelling_ = &form;
        Button* cancel = form.cancelButton();
        if (cancel && cancel->usable()) form.app().dispatch([cancel] { cancel->click(); });
        if (form.modalResult() == ModalResult::None) form.setModalResult(ModalResult::Cancel);
        return;
    }
    cancelling_ = nullptr;
    Action action = std::move(actions_.front());
    actions_.pop_front();
    try {
        action();
    } catch (const ToolkitError& e) {
        failures_.push_back(e.what());
        throw;
    }
}

void HeadlessBackend::startTimer(TimerId id, int intervalMs, std::function<void()> tick) {
    stopTimer(id);
    intervalMs = std::max(intervalMs, 1);
    timers_.push_back({id, intervalMs, now_ + intervalMs, ++startCount_, std::move(tick)});
}

void HeadlessBackend::stopTimer(TimerId id) {
    std::erase_if(timers_, [id](const TimerEntry& t) { return t.id == id; });
}

bool HeadlessBackend::timerRunning(TimerId id) const {
    return std::any_of(timers_.begin(), timers_.end(),
                       [id](const TimerEntry& t) { return t.id == id; });
}

void HeadlessBackend::advance(long long ms) {
    if (ms < 0) throw ToolkitError("time cannot go backwards");
    const long long target = now_ + ms;
    for (;;) {
        auto next = std::min_element(timers_.begin(), timers_.end(),
                                     [](const TimerEntry& a, const TimerEntry& b) {
                                         return a.due != b.due ? a.due < b.due : a.order < b.order;
                                     });
        if (next == timers_.end() || next->due > target) break;
        now_ = next->due;
        next->due += next->interval;
        // The tick may stop or start timers: call a copy.
        std::function<void()> tick = next->tick;
        tick();
    }
    now_ = target;
}

void HeadlessBackend::showBox(const Box& box) {
    boxes_.push_back(box);
    if (listener_) listener_(box);
}

} // namespace talvine::tk
