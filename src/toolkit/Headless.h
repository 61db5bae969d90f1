// The default backend: no display.  It keeps a virtual clock (timers tick
// only when time is advanced), runs modal loops over a queue of scripted user
// actions, and records every box it is asked to show.
#pragma once

#include "toolkit/Toolkit.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace talvine::tk {

class HeadlessBackend : public Backend {
  public:
    using Action = std::function<void()>;
    using BoxListener = std::function<void(const Box&)>;

    void showForm(Form& form) override;
    void hideForm(Form& form) override;
    // Runs the next queued action.  When the queue is empty nobody can
    // answer the form: the failure is recorded (naming the form) and the form
    // is closed as its cancel button would close it; if that close is
    // refused too, ToolkitError ends the loop.
    void runModalStep(Form& form) override;
    void startTimer(TimerId id, int intervalMs, std::function<void()> tick) override;
    void stopTimer(TimerId id) override;
    void showBox(const Box& box) override;
    void showCursor(Cursor) override {}
    void beep() override { ++beeps_; }

    // Virtual time, in milliseconds since the backend was made.
    long long now() const { return now_; }
    // Moves the clock forward, firing every tick that falls due, in order of
    // time (timers due at the same moment in the order they were started).
    void advance(long long ms);
    bool timerRunning(TimerId id) const;

    // Actions for the modal loops to come, run in order, one per turn.
    void queue(Action action) { actions_.push_back(std::move(action)); }
    std::size_t pendingActions() const { return actions_.size(); }
    void clearActions() { actions_.clear(); }

    // Every box shown, in order, also handed to the listener if there is one.
    const std::vector<Box>& boxes() const { return boxes_; }
    void clearBoxes() { boxes_.clear(); }
    void listen(BoxListener listener) { listener_ = std::move(listener); }

    // Scripting failures met inside modal loops (an empty queue, an action
    // on a hidden control), kept because the code that opened the modal
    // form may swallow the exception.
    const std::vector<std::string>& failures() const { return failures_; }
    void clearFailures() { failures_.clear(); }

    int beeps() const { return beeps_; }

  private:
    struct TimerEntry {
        TimerId id;
        int interval;
        long long due;
        std::uint64_t order;
        std::function<void()> tick;
    };
    long long now_ = 0;
    std::uint64_t startCount_ = 0;
    std::vector<TimerEntry> timers_;
    std::deque<Action> actions_;
    std::vector<Box> boxes_;
    std::vector<std::string> failures_;
    Form* cancelling_ = nullptr; // the modal form closed for want of input
    BoxListener listener_;
    int beeps_ = 0;
};

} // namespace talvine::tk
