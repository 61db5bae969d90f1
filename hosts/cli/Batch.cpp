#include "Batch.h"
#include "Cli.h"
#include "SafeWrite.h"

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <thread>

namespace talvine::cli {
namespace fs = std::filesystem;

std::optional<BatchOptions> takeBatchOptions(std::vector<std::string>& words) {
    BatchOptions options;
    bool any = false, jobsGiven = false;
    for (size_t i = 0; i < words.size();) {
        const std::string& w = words[i];
        if (w != "-o" && w != "--output-pattern" && w != "-j") {
            ++i;
            continue;
        }
        // -j alone (no number after it) runs as many files at once as there
        // are cores.
        const bool jobsAlone =
            w == "-j" && (i + 1 >= words.size() || words[i + 1].empty() ||
                          words[i + 1].find_first_not_of("0123456789") != std::string::npos);
        if (jobsAlone) {
            if (jobsGiven) throw UsageError("-j is given twice");
            options.jobs = int(std::clamp(std::thread::hardware_concurrency(), 1u, 256u));
            jobsGiven = any = true;
            words.erase(words.begin() + static_cast<long>(i));
            continue;
        }
        if (i + 1 >= words.size()) throw UsageError(w + " needs a value");
        const std::string value = words[i + 1];
        if (w == "-o") {
            if (options.dir) throw UsageError("-o is given twice");
            options.dir = value;
        } else if (w == "--output-pattern") {
            if (options.pattern) throw UsageError("--output-pattern is given twice");
            options.pattern = value;
        } else {
            if (jobsGiven) throw UsageError("-j is given twice");
            options.jobs = parseInt(value, "-j", 1, 256);
            jobsGiven = true;
        }
        any = true;
        words.erase(words.begin() + static_cast<long>(i), words.begin() + static_cast<long>(i) + 2);
    }
    if (!any) return std::nullopt;
    if (options.dir && options.pattern)
        throw UsageError("-o and --output-pattern cannot be given together");
    if (!options.dir && !options.pattern) throw UsageError("-j needs -o DIR or --output-pattern");
    return options;
}

std::string patternOutput(const std::string& pattern, const std::string& input) {
    const fs::path name = fs::path(input).filename();
    const std::string stem = name.stem().string();
    std::string ext = name.extension().string();
    if (!ext.empty()) ext.erase(0, 1);
    std::string out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            out += pattern[i];
            continue;
        }
        const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
        if (next == 's')
            out += stem;
        else if (next == 'e')
            out += ext;
        else if (next == '%')
            out += '%';
        else
            throw UsageError("--output-pattern: '%" + std::string(next ? 1 : 0, next) +
                             "' is not %s, %e or %%");
        ++i;
    }
    return out;
}

namespace {

bool progressShown = false;

// Two names of one file compare equal, whether or not it exists yet.
std::string fileKey(const std::string& path) {
    std::error_code ec;
    const fs::path p = fs::weakly_canonical(path, ec);
    return (ec ? fs::path(path).lexically_normal() : p).string();
}

std::vector<std::string> outputNames(const BatchOptions& options,
                                     const std::vector<std::string>& inputs) {
    if (options.dir) {
        std::error_code ec;
        if (!fs::is_directory(*options.dir, ec))
            throw UsageError("-o " + *options.dir + ": no such directory");
    }
    std::vector<std::string> outputs;
    std::map<std::string, size_t> byOutput;
    std::map<std::string, size_t> byInput;
    for (size_t i = 0; i < inputs.size(); ++i)
        byInput.emplace(fileKey(inputs[i]), i);
    for (size_t i = 0; i < inputs.size(); ++i) {
        const std::string& in = inputs[i];
        if (in == "-") throw UsageError("standard input (\"-\") cannot be part of a batch");
        const std::string out = options.dir
                                    ? (fs::path(*options.dir) / fs::path(in).filename()).string()
                                    : patternOutput(*options.pattern, in);
        if (out.empty() || out == "-")
            throw UsageError(in + ": its output would be standard output");
        const std::string key = fileKey(out);
        if (const auto twin = byOutput.find(key); twin != byOutput.end())
            throw UsageError(inputs[twin->second] + " and " + in + " would both be written to " +
                             out);
        if (byInput.count(key))
            throw UsageError(in + ": writing " + out + " would overwrite an input");
        byOutput.emplace(key, i);
        outputs.push_back(out);
    }
    return outputs;
}

} // namespace

namespace {
std::string workerInput; // in a batch's worker process: its input
} // namespace

const std::string& batchWorkerInput() {
    return workerInput;
}

const char* batchLineStart() {
    return progressShown ? "\r\033[K" : "";
}

std::vector<std::string> runBatch(const BatchOptions& options,
                                  const std::vector<std::string>& inputs) {
    if (inputs.empty()) throw UsageError("a batch needs at least one input");
    const std::vector<std::string> outputs = outputNames(options, inputs);
    const bool progress = isatty(STDERR_FILENO) == 1;
    progressShown = progress;
    const size_t total = inputs.size();
    size_t next = 0, written = 0, failed = 0, stopped = 0;
    std::map<pid_t, size_t> running;
    // Each worker sends how it converted its input through a pipe of its
    // own; the summary says each conversion once, with its files.
    std::map<size_t, int> channels;
    std::map<std::string, std::vector<std::string>> conversions;
    auto collect = [&](size_t i) {
        const auto c = channels.find(i);
        if (c == channels.end()) return;
        std::string text;
        char block[4096];
        for (ssize_t n; (n = ::read(c->second, block, sizeof block)) > 0;)
            text.append(block, size_t(n));
        ::close(c->second);
        channels.erase(c);
        for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
            conversions[text.substr(at, end - at)].push_back(inputs[i]);
    };
    // An interrupt stops the batch: no new file starts, the running ones
    // are told (a terminal's Ctrl-C reaches them already), and the summary
    // says what was written before the batch ends of the same signal.
    deferSignals(true);
    int interrupted = 0;
    while (next < total || !running.empty()) {
        if (!interrupted && deferredSignal()) {
            interrupted = deferredSignal();
            for (const auto& [pid, i] : running)
                ::kill(pid, interrupted);
        }
        while (!interrupted && next < total && running.size() < size_t(options.jobs)) {
            const size_t i = next++;
            if (progress)
                std::cerr << "\r[" << i + 1 << "/" << total << "] "
                          << fs::path(inputs[i]).filename().string() << "\033[K" << std::flush;
            // Nothing buffered may be written twice, once by each process.
            std::cout.flush();
            std::cerr.flush();
            std::fflush(nullptr);
            int channel[2] = {-1, -1};
            if (::pipe(channel) != 0) channel[0] = channel[1] = -1;
            const pid_t pid = fork();
            if (pid == 0) {
                deferSignals(false);
                for (const auto& [k, fd] : channels)
                    ::close(fd);
                if (channel[0] >= 0) ::close(channel[0]);
                setConversionChannel(channel[1]);
                workerInput = inputs[i];
                return {inputs[i], outputs[i]};
            }
            if (channel[1] >= 0) ::close(channel[1]);
            if (pid >= 0 && channel[0] >= 0) channels[i] = channel[0];
            if (pid < 0 && channel[0] >= 0) ::close(channel[0]);
            if (pid < 0) {
                std::cerr << "talvine: " << inputs[i] << ": " << std::strerror(errno) << "\n";
                ++failed;
                continue;
            }
            running.emplace(pid, i);
        }
        if (running.empty()) {
            if (interrupted) break;
            continue;
        }
        int status = 0;
        const pid_t pid = waitpid(-1, &status, 0);
        if (pid < 0) {
            if (errno == EINTR) continue;
            // No child left to wait for: count those not seen as failed.
            failed += running.size();
            running.clear();
            continue;
        }
        const auto it = running.find(pid);
        if (it == running.end()) continue;
        const size_t i = it->second;
        running.erase(it);
        collect(i);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
            ++written;
            continue;
        }
        if (interrupted && WIFSIGNALED(status)) {
            ++stopped;
            continue;
        }
        ++failed;
        if (WIFSIGNALED(status)) {
            if (progress) std::cerr << "\r\033[K";
            std::cerr << "talvine: " << inputs[i] << ": stopped by signal " << WTERMSIG(status)
                      << "\n";
        }
    }
    if (progress) std::cerr << "\r\033[K";
    if (!interrupted && deferredSignal()) interrupted = deferredSignal();
    std::cerr << "talvine: " << (interrupted ? "interrupted: " : "") << written << " of " << total
              << (total == 1 ? " picture" : " pictures") << " written";
    if (failed) std::cerr << ", " << failed << " failed";
    if (stopped) std::cerr << ", " << stopped << " stopped";
    if (interrupted && next < total) std::cerr << ", " << total - next << " not started";
    std::cerr << "\n";
    for (const auto& [what, files] : conversions) {
        std::cerr << "talvine: " << what << ":";
        for (size_t k = 0; k < files.size(); ++k)
            std::cerr << (k ? ", " : " ") << files[k];
        std::cerr << "\n";
    }
    if (interrupted) {
        std::cerr.flush();
        dieOfSignal(interrupted);
    }
    deferSignals(false);
    throw BatchFinished{failed ? 1 : 0};
}

} // namespace talvine::cli
