#include "SafeWrite.h"

#include "ImageIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <random>

namespace talvine::cli {
namespace {

// The temporaries alive now, for the signal handler: each slot is claimed
// (1), filled, then published (2); the handler reads published slots only.
struct Slot {
    std::atomic<int> state{0};
    int dir = -1;
    char name[256] = "";
};
Slot slots[8];
volatile std::sig_atomic_t deferring = 0;
volatile std::sig_atomic_t pending = 0;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

void removeTemporaries() {
    for (Slot& s : slots)
        if (s.state.load() == 2) ::unlinkat(s.dir, s.name, 0);
}

void onSignal(int signal) {
    removeTemporaries();
    if (deferring) {
        pending = signal;
        return;
    }
    dieOfSignal(signal);
}

// Blocks the handled signals while alive, so that a temporary is never
// created or renamed without the registry knowing.
class SignalsHeld {
  public:
    SignalsHeld() {
        sigset_t set;
        sigemptyset(&set);
        for (int s : kSignals)
            sigaddset(&set, s);
        pthread_sigmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

  private:
    sigset_t old_;
};

Slot* publish(int dir, const std::string& name) {
    for (Slot& s : slots) {
        int free = 0;
        if (!s.state.compare_exchange_strong(free, 1)) continue;
        s.dir = dir;
        std::snprintf(s.name, sizeof s.name, "%s", name.c_str());
        s.state.store(2);
        return &s;
    }
    return nullptr; // more writes at once than slots: that one is not tracked
}

void withdraw(Slot* s) {
    if (s) s->state.store(0);
}

std::string randomSuffix() {
    static constexpr char kChars[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::mt19937_64 random{std::random_device{}() ^ uint64_t(::getpid()) << 32};
    std::string s(6, 'A');
    for (char& c : s)
        c = kChars[random() % (sizeof kChars - 1)];
    return s;
}

mode_t newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// A stream on `fd`, closed (with the descriptor) when it goes.
struct Stream {
    std::FILE* file = nullptr;
    int fd = -1;
    ~Stream() {
        if (file)
            std::fclose(file);
        else if (fd >= 0)
            ::close(fd);
    }
    // Flushes, syncs and closes; false on any failure, errno set.
    bool finish(bool sync) {
        const bool flushed = std::fflush(file) == 0 && (!sync || ::fsync(fd) == 0);
        const int saved = errno;
        const bool closed = std::fclose(file) == 0;
        file = nullptr;
        if (!flushed) errno = saved;
        return flushed && closed;
    }
};

PictureError named(const std::string& path, const std::string& what) {
    return PictureError(what.rfind(path, 0) == 0 ? what : path + ": cannot write (" + what + ")");
}

void run(const std::string& path, Stream& out, const std::function<void(std::FILE*)>& fill,
         bool sync) {
    out.file = ::fdopen(out.fd, "wb");
    if (!out.file) throw named(path, std::strerror(errno));
    try {
        fill(out.file);
    } catch (const PictureError& e) {
        throw named(path, e.what());
    }
    if (!out.finish(sync)) throw named(path, std::strerror(errno));
}

} // namespace

std::string temporaryPrefix(const std::string& name, size_t nameMax) {
    static constexpr std::string_view kTag = ".talvine-";
    const size_t room = nameMax > kTag.size() + 6 ? nameMax - kTag.size() - 6 : 0;
    size_t keep = std::min(name.size(), room);
    // Never cut inside a UTF-8 character: back up over continuation bytes.
    while (keep > 0 && keep < name.size() &&
           (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
        --keep;
    return name.substr(0, keep) + std::string(kTag);
}

void writeFileSafely(const std::string& path, const std::function<void(std::FILE*)>& fill) {
    namespace fs = std::filesystem;
    std::string target = path;
    mode_t mode = newFileMode();
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) throw PictureError(path + ": is a directory");
        if (!S_ISREG(st.st_mode)) {
            // A device, FIFO or socket: written to as it is, never replaced.
            Stream out;
            out.fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
            if (out.fd < 0) throw named(path, std::strerror(errno));
            run(path, out, fill, false);
            return;
        }
        mode = st.st_mode & 07777;
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    const fs::path where(target);
    const std::string base = where.filename().string();
    if (base.empty() || base == "." || base == "..") throw PictureError(path + ": is a directory");
    const std::string dirName = where.has_parent_path() ? where.parent_path().string() : ".";
    const int dir = ::open(dirName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) throw named(path, std::strerror(errno));
    struct DirCloser {
        int fd;
        ~DirCloser() { ::close(fd); }
    } dirCloser{dir};
    const long nameMax = ::fpathconf(dir, _PC_NAME_MAX);
    const std::string prefix = temporaryPrefix(base, nameMax > 0 ? size_t(nameMax) : 255);

    Stream out;
    std::string temp;
    Slot* slot = nullptr;
    {
        SignalsHeld held;
        for (int attempt = 0; attempt < 100 && out.fd < 0; ++attempt) {
            temp = prefix + randomSuffix();
            out.fd = ::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (out.fd < 0 && errno != EEXIST) throw named(path, std::strerror(errno));
        }
        if (out.fd < 0) throw named(path, "no free temporary name");
        slot = publish(dir, temp);
    }
    auto discard = [&] {
        SignalsHeld held;
        ::unlinkat(dir, temp.c_str(), 0);
        withdraw(slot);
    };
    try {
        // The temporary is private until complete; then it takes the mode of
        // the file it replaces, or that of a new file.
        if (::fchmod(out.fd, mode) != 0) throw named(path, std::strerror(errno));
        run(path, out, fill, true);
    } catch (...) {
        discard();
        throw;
    }
    SignalsHeld held;
    if (::renameat(dir, temp.c_str(), dir, base.c_str()) != 0) {
        const int saved = errno;
        ::unlinkat(dir, temp.c_str(), 0);
        withdraw(slot);
        throw named(path, std::strerror(saved));
    }
    withdraw(slot);
}

void installSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int s : kSignals)
        sigaddset(&action.sa_mask, s);
    action.sa_flags = 0; // no SA_RESTART: a batch's wait returns to see the signal
    for (int s : kSignals)
        ::sigaction(s, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

void deferSignals(bool defer) {
    deferring = defer ? 1 : 0;
    if (!defer) pending = 0;
}

int deferredSignal() {
    return pending;
}

void dieOfSignal(int signal) {
    std::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    std::raise(signal);
    _exit(128 + signal);
}

} // namespace talvine::cli
