// Runs the command-line tool as a program, as a user would, and captures its
// exit code and output.  For tests named cli_*_test (TALVINE_CLI_PATH).
#pragma once

#include "ImageIO.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern char** environ;

namespace talvine::test {

struct ToolResult {
    int exitCode = -1;
    std::string out;
    std::string err;
    long peakKb = 0; // the tool's peak resident memory
};

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Starts the tool with `args`, its files as `actions` say, in `env` (the
// test's own environment by default); -1 if it cannot start.
inline pid_t spawnTool(const std::vector<std::string>& args,
                       const posix_spawn_file_actions_t* actions, char** env = environ) {
    std::vector<std::string> words{TALVINE_CLI_PATH};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, TALVINE_CLI_PATH, actions, nullptr, argv.data(), env) != 0) return -1;
    return pid;
}

// Runs the tool with its standard input read from `inPath` and its standard
// output written to `outPath` (kept); stderr is captured.
inline ToolResult runToolPiped(const std::vector<std::string>& args, const std::string& inPath,
                               const std::string& outPath) {
    const std::string errPath = outPath + ".err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, inPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    ToolResult result;
    if (const pid_t pid = spawnTool(args, &actions); pid > 0) {
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        result.peakKb = usage.ru_maxrss;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    result.err = slurp(errPath);
    std::remove(errPath.c_str());
    return result;
}

inline ToolResult runTool(const std::vector<std::string>& args) {
    const std::string outPath =
        std::filesystem::temp_directory_path() / ("talvine-tool-" + std::to_string(getpid()));
    ToolResult result = runToolPiped(args, "/dev/null", outPath);
    result.out = slurp(outPath);
    std::remove(outPath.c_str());
    return result;
}

// Under AddressSanitizer the tool runs several times slower and keeps its
// freed memory in quarantine: bounds on time and memory are for the real
// build, and only loosened there.
#ifdef __SANITIZE_ADDRESS__
inline constexpr double kBoundsScale = 8;
#else
inline constexpr double kBoundsScale = 1;
#endif

// A run of the tool that must end within `seconds` and `megabytes` of
// resident memory (a program started while the test holds large buffers
// counts them too: make large files in scopes of their own).
inline ToolResult runBounded(const std::vector<std::string>& args, double seconds = 2,
                             double megabytes = 256) {
    const auto start = std::chrono::steady_clock::now();
    ToolResult r = runTool(args);
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(took, seconds * kBoundsScale);
    EXPECT_LT(double(r.peakKb), megabytes * 1024 * kBoundsScale);
    return r;
}

// A fresh directory for one test's files, removed afterwards.
class TempDir {
  public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "talvine-test-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// A picture whose pixel (x, y) is (x, y, x ^ y): results name their sources.
inline cli::Picture coordinateRgb(int w, int h) {
    cli::Picture p{w, h, std::vector<uint8_t>(size_t(w) * size_t(h) * 3)};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* px = &p.rgb[(size_t(y) * size_t(w) + size_t(x)) * 3];
            px[0] = static_cast<uint8_t>(x);
            px[1] = static_cast<uint8_t>(y);
            px[2] = static_cast<uint8_t>(x ^ y);
        }
    return p;
}

// A picture that hardly compresses: every byte from a linear congruential
// sequence started at `seed`.
inline cli::Picture noisePicture(int w, int h, uint32_t seed) {
    cli::Picture p{w, h, std::vector<uint8_t>(size_t(w) * size_t(h) * 3)};
    for (auto& byte : p.rgb) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(seed >> 24);
    }
    return p;
}

// The left-right mirror of a picture, pixel by pixel.
inline cli::Picture mirroredLeftRight(const cli::Picture& s) {
    cli::Picture r = s;
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x)
            for (int c = 0; c < 3; ++c)
                r.rgb[(size_t(y) * s.width + x) * 3 + c] =
                    s.rgb[(size_t(y) * s.width + (s.width - 1 - x)) * 3 + c];
    return r;
}

} // namespace talvine::test
