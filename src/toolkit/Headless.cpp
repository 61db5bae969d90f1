#include "toolkit/Headless.h"

#include "toolkit/Form.h"

#include <algorithm>
#include <iostream>

namespace talvine::tk {

void HeadlessBackend::runModalStep(Form& form) {
    if (actions_.empty()) {
        std::string message = "the modal form '" + form.name() +
                              "' waits for user input, but no scripted action is left";
        failures_.push_back(message);
        std::cerr << "talvine toolkit: " << message << '\n';
        throw ToolkitError(message);
    }
    Action action = std::move(actions_.front());
    actions_.pop_front();
    try {
        action();
    } catch (const ToolkitError& e) {
        failures_.push_back(e.what());
        std::cerr << "talvine toolkit: " << e.what() << '\n';
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
    if (listener_) {
        listener_(box);
        return;
    }
    const char* kind = box.kind == BoxKind::Error     ? "error"
                       : box.kind == BoxKind::Warning ? "warning"
                                                      : "message";
    std::cerr << "[" << kind << " box] " << box.caption << ": " << box.text << '\n';
}

} // namespace talvine::tk
