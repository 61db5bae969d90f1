#include "engines/Parallel.h"

#include "core/ExtendedPrecision.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace talvine::engines {
namespace {

int defaultThreads() {
    if (const char* env = std::getenv("TALVINE_THREADS")) {
        const int n = std::atoi(env);
        if (n >= 1) return std::min(n, 64);
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, 8u));
}

// On Windows the workers end with each pass.  A thread that ends takes the
// loader lock, which a host's FreeLibrary holds while the library shuts
// down, so workers left waiting between passes could never be joined then
// (the unload would hang).  Starting a worker costs tens of microseconds,
// against milliseconds for a pass.
#if defined(_WIN32)
constexpr bool kWorkersOutliveAPass = false;
#else
constexpr bool kWorkersOutliveAPass = true;
#endif

// One pass at a time: the engines run on the host's user-interface thread,
// and the pass lock keeps a second caller (a test, another host thread)
// waiting rather than mixing its blocks with the first.
class Pool {
  public:
    ~Pool() { resize(0); }

    void run(int threads, int64_t count, int64_t grain,
             const std::function<void(int64_t, int64_t)>& body, Split split) {
        std::lock_guard pass(passMutex_);
        resize(threads - 1);
        {
            std::lock_guard lock(mutex_);
            body_ = &body;
            count_ = count;
            grain_ = grain;
            split_ = split;
            state_ = floatingPointState();
            next_.store(0);
            turn_.store(0);
            busy_ = static_cast<int>(workers_.size());
            ++generation_;
        }
        wake_.notify_all();
        work();
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return busy_ == 0; });
        body_ = nullptr;
        lock.unlock();
        if (!kWorkersOutliveAPass) resize(0);
    }

  private:
    void work() {
        if (split_ == Split::Contiguous) {
            const int64_t me = turn_.fetch_add(1);
            const int64_t threads = static_cast<int64_t>(workers_.size()) + 1;
            const int64_t blocks = (count_ + grain_ - 1) / grain_;
            for (int64_t b = blocks * me / threads; b < blocks * (me + 1) / threads; ++b)
                (*body_)(b * grain_, std::min(count_, (b + 1) * grain_));
            return;
        }
        for (;;) {
            const int64_t begin = next_.fetch_add(grain_);
            if (begin >= count_) return;
            (*body_)(begin, std::min(count_, begin + grain_));
        }
    }

    void loop() {
        uint64_t seen = 0;
        for (;;) {
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
                if (stop_) return;
                seen = generation_;
            }
            // The caller's floating-point settings, whatever the thread
            // started with (a new Windows thread has its system's defaults,
            // a worker kept from an earlier pass the settings of then).
            setFloatingPointState(state_);
            work();
            std::lock_guard lock(mutex_);
            if (--busy_ == 0) done_.notify_one();
        }
    }

    // Grows or shrinks the set of workers (never during a pass).
    void resize(int workers) {
        if (static_cast<int>(workers_.size()) == workers) return;
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : workers_)
            t.join();
        workers_.clear();
        stop_ = false;
        generation_ = 0;
        for (int i = 0; i < workers; ++i)
            workers_.emplace_back([this] { loop(); });
    }

    std::mutex passMutex_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::vector<std::thread> workers_;
    const std::function<void(int64_t, int64_t)>* body_ = nullptr;
    int64_t count_ = 0, grain_ = 1;
    Split split_ = Split::Dynamic;
    FloatingPointState state_{};
    std::atomic<int64_t> next_{0}, turn_{0};
    int busy_ = 0;
    uint64_t generation_ = 0;
    bool stop_ = false;
};

Pool& pool() {
    static Pool instance;
    return instance;
}

std::atomic<int> configured{0};

} // namespace

int threadCount() {
    const int n = configured.load();
    if (n > 0) return n;
    static const int fallback = defaultThreads();
    return fallback;
}

void setThreadCount(int threads) {
    configured.store(std::max(threads, 0));
}

void parallelFor(int64_t count, int64_t grain, const std::function<void(int64_t, int64_t)>& body,
                 Split split) {
    if (count <= 0) return;
    grain = std::max<int64_t>(grain, 1);
    const int threads =
        static_cast<int>(std::min<int64_t>(threadCount(), (count + grain - 1) / grain));
    if (threads <= 1) {
        for (int64_t begin = 0; begin < count; begin += grain)
            body(begin, std::min(count, begin + grain));
        return;
    }
    pool().run(threads, count, grain, body, split);
}

} // namespace talvine::engines
