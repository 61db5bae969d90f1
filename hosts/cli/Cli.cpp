#include "Cli.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <unistd.h>

namespace talvine::cli {

std::optional<std::string> Args::option(const std::string& name) {
    auto values = options(name, 1);
    if (!values) return std::nullopt;
    return values->front();
}

std::optional<std::vector<std::string>> Args::options(const std::string& name, size_t count) {
    const auto it = std::find(words_.begin(), words_.end(), name);
    if (it == words_.end()) return std::nullopt;
    if (static_cast<size_t>(words_.end() - it) <= count)
        throw UsageError(name + " needs " + std::to_string(count) + " value(s)");
    std::vector<std::string> values(it + 1, it + 1 + static_cast<long>(count));
    words_.erase(it, it + 1 + static_cast<long>(count));
    if (std::find(words_.begin(), words_.end(), name) != words_.end())
        throw UsageError(name + " is given twice");
    return values;
}

bool Args::flag(const std::string& name) {
    const auto it = std::find(words_.begin(), words_.end(), name);
    if (it == words_.end()) return false;
    words_.erase(it);
    return true;
}

namespace {
bool quietNotes = false;
std::string noteInput;
} // namespace

void note(const std::string& text, const std::string& about) {
    if (quietNotes) return;
    const std::string& who = about.empty() ? noteInput : about;
    std::cerr << "talvine: " << (who.empty() ? "" : who + ": ") << text << "\n";
}

namespace {
int conversionChannel = -1;
} // namespace

void conversionNote(const std::string& text) {
    if (conversionChannel < 0) return note(text);
    const std::string line = text + "\n";
    for (size_t done = 0; done < line.size();) {
        const ssize_t n = ::write(conversionChannel, line.data() + done, line.size() - done);
        if (n <= 0) return note(text); // the summary will not have it: say it here
        done += size_t(n);
    }
}

void setConversionChannel(int channel) {
    conversionChannel = channel;
}

void setQuiet(bool quiet) {
    quietNotes = quiet;
}

void setNoteInput(const std::string& path) {
    noteInput = path == kStdio ? "standard input" : path;
}

bool Args::interpolate() {
    const bool smooth = flag("--bilinear") + flag("--smooth") > 0;
    const bool nearest = flag("--nearest") + flag("--basic") > 0;
    if (smooth && nearest) throw UsageError("--nearest and --bilinear cannot be given together");
    return !nearest;
}

std::vector<std::string> Args::positional(size_t expected) {
    for (const auto& w : words_)
        if (w.size() > 1 && w[0] == '-') throw UsageError("unknown option " + w);
    if (batch_) {
        if (expected != 2) throw UsageError("takes no batch of pictures");
        auto batch = std::move(batch_);
        batch_ = nullptr;
        return batch(words_);
    }
    if (words_.size() != expected)
        throw UsageError("expected " + std::to_string(expected) + " argument(s), got " +
                         std::to_string(words_.size()));
    return words_;
}

int parseInt(const std::string& text, const std::string& what, int lo, int hi) {
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE || value < lo || value > hi)
        throw UsageError(what + " must be a whole number from " + std::to_string(lo) + " to " +
                         std::to_string(hi) + ", not '" + text + "'");
    return static_cast<int>(value);
}

int parsePosition(const std::string& text, const std::string& what, int lo, int hi,
                  double perPercent) {
    if (text.empty() || text.back() != '%') return parseInt(text, what, lo, hi);
    const std::string number = text.substr(0, text.size() - 1);
    errno = 0;
    char* end = nullptr;
    const double percent = std::strtod(number.c_str(), &end);
    const double position = percent * perPercent;
    const double whole = std::round(position);
    if (number.empty() || *end != '\0' || errno == ERANGE || std::fabs(position - whole) > 1e-9 ||
        whole < lo || whole > hi) {
        std::ostringstream range;
        range << lo / perPercent << "% to " << hi / perPercent << "% in steps of " << 1 / perPercent
              << "%";
        throw UsageError(what + " must be a whole number from " + std::to_string(lo) + " to " +
                         std::to_string(hi) + ", or " + range.str() + ", not '" + text + "'");
    }
    return static_cast<int>(whole);
}

IntPoint parsePoint(const std::string& text, const std::string& what) {
    const auto comma = text.find(',');
    if (comma == std::string::npos) throw UsageError(what + " must be X,Y, not '" + text + "'");
    constexpr int kMax = 2147483647;
    return {parseInt(text.substr(0, comma), what + " x", -kMax, kMax),
            parseInt(text.substr(comma + 1), what + " y", -kMax, kMax)};
}

} // namespace talvine::cli
