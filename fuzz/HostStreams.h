// The host's standard streams belong to the host: a fuzz target runs every
// call into the library with stdout and stderr pointed at a scratch file and
// fails when anything was written there.  Sanitizer reports keep going to
// the real stderr.
#pragma once

#include <sanitizer/common_interface_defs.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace talvine::fuzz {

class HostStreams {
  public:
    // From LLVMFuzzerInitialize, before libFuzzer reroutes its own output.
    void start() {
        scratch_ = memfd_create("talvine-host-streams", 0);
        savedOut_ = dup(1);
        savedErr_ = dup(2);
        if (scratch_ < 0 || savedOut_ < 0 || savedErr_ < 0) std::abort();
        __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(savedErr_)));
    }

    // Runs `call` with both streams captured; aborts when it wrote anything.
    template <class F> void watch(const char* what, F&& call) {
        if (scratch_ < 0) start();
        std::fflush(stdout);
        std::fflush(stderr);
        dup2(scratch_, 1);
        dup2(scratch_, 2);
        call();
        std::fflush(stdout);
        std::fflush(stderr);
        dup2(savedOut_, 1);
        dup2(savedErr_, 2);
        struct stat st {};
        if (fstat(scratch_, &st) == 0 && st.st_size != 0) {
            char text[512] = {};
            const ssize_t n = pread(scratch_, text, sizeof text - 1, 0);
            std::fprintf(stderr,
                         "the library wrote %lld bytes on the host's streams during %s: %.*s\n",
                         static_cast<long long>(st.st_size), what, n > 0 ? int(n) : 0, text);
            std::abort();
        }
    }

    // The real stderr, for the target's own reports.
    int errorFd() const { return savedErr_ >= 0 ? savedErr_ : 2; }

  private:
    int scratch_ = -1;
    int savedOut_ = -1;
    int savedErr_ = -1;
};

} // namespace talvine::fuzz
