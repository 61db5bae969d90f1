// talvine: a command-line host for the Talvine plug-in.  Every subcommand
// runs the plug-in's commands through its four entry points, in process.
#include "Batch.h"
#include "Cli.h"
#include "HostSession.h"
#include "ImageIO.h"
#include "SafeWrite.h"
#include "engines/Dispatch.h"

#include <algorithm>
#include <cctype>
#include <iostream>

using namespace talvine::cli;

// The tool's own version, that of the project it is built with (set by the
// build).

namespace {

void printUsage(std::ostream& out) {
    out << "usage: talvine SUBCOMMAND [OPTIONS] ...\n\nSubcommands:\n";
    for (const auto& s : subcommands())
        out << "  talvine " << s.name << " " << s.synopsis << "\n";
    out << "\n" << kBatchHelp;
    out << "\nRun 'talvine SUBCOMMAND --help' for details, 'talvine --version' for the\n"
           "tool's and the plug-in's versions.\n";
}

// A subcommand that reads one picture and writes one can run in a batch.
bool batchable(const Subcommand& sub) {
    return sub.synopsis.rfind("IN OUT", 0) == 0;
}

int printVersion() {
    int major = 0, minor = 0;
    try {
        HostSession host;
        const Identity id = host.identity();
        major = id.major;
        minor = id.minor;
    } catch (const std::exception& e) {
        std::cerr << "talvine: " << e.what() << "\n";
        return 1;
    }
    std::cout << "talvine " << TALVINE_TOOL_VERSION << "\n"
              << "plug-in " << major << "." << minor << "\n";
    return 0;
}

const Subcommand* find(const std::string& name) {
    for (const auto& s : subcommands())
        if (s.name == name) return &s;
    return nullptr;
}

// The number of single-character edits between two words.
size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = up;
        }
    }
    return row[b.size()];
}

// " (did you mean X?)" for the closest of `known` within two edits, or "".
std::string suggestion(const std::string& word, const std::vector<std::string>& known) {
    if (word.size() < 4) return ""; // "-q" is as close to "-h" as to anything
    std::string best;
    size_t distance = 3;
    for (const auto& k : known)
        if (const size_t d = editDistance(word, k); d < distance) {
            distance = d;
            best = k;
        }
    return best.empty() ? "" : " (did you mean " + best + "?)";
}

// Every option a subcommand takes, as its help and the batch help name them.
std::vector<std::string> optionsOf(const Subcommand& sub) {
    std::vector<std::string> names{"--help", "-h"};
    const std::string text = sub.help + kBatchHelp;
    for (size_t at = 0; (at = text.find('-', at)) != std::string::npos;) {
        size_t end = at + 1;
        while (end < text.size() &&
               (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '-'))
            ++end;
        const std::string word = text.substr(at, end - at);
        const bool option = (word.size() > 2 && word[1] == '-' && std::isalpha(word[2])) ||
                            (word.size() == 2 && std::isalpha(static_cast<unsigned char>(word[1])));
        if (option && (at == 0 || std::isspace(static_cast<unsigned char>(text[at - 1])) ||
                       text[at - 1] == '(' || text[at - 1] == '[' || text[at - 1] == '|'))
            names.push_back(word);
        at = end;
    }
    return names;
}

// An option the subcommand does not know is named before anything else is
// checked: a misspelt --angle is the error, not the --from it then lacks.
void checkOptionNames(const Subcommand& sub, const std::vector<std::string>& words) {
    const std::vector<std::string> known = optionsOf(sub);
    for (const auto& w : words) {
        const bool looksLikeOption = w.size() > 1 && w[0] == '-' &&
                                     !std::isdigit(static_cast<unsigned char>(w[1])) && w[1] != '.';
        if (looksLikeOption && std::find(known.begin(), known.end(), w) == known.end())
            throw UsageError("unknown option " + w + suggestion(w, known));
    }
}

} // namespace

int main(int argc, char** argv) {
    installSignalHandlers();
    std::vector<std::string> words(argv + 1, argv + argc);
    if (words.empty() || words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
        printUsage(words.empty() ? std::cerr : std::cout);
        return words.empty() ? 2 : 0;
    }
    if (words[0] == "--version") return printVersion();
    const Subcommand* sub = find(words[0]);
    if (!sub) {
        std::vector<std::string> names;
        for (const auto& s : subcommands())
            names.push_back(s.name);
        std::cerr << "talvine: unknown subcommand '" << words[0] << "'"
                  << suggestion(words[0], names) << "; see talvine --help\n";
        return 2;
    }
    words.erase(words.begin());
    Args args(words);
    if (args.flag("--help") || args.flag("-h")) {
        std::cout << "usage: talvine " << sub->name << " " << sub->synopsis << "\n\n"
                  << sub->help << "\n";
        return 0;
    }
    try {
        checkOptionNames(*sub, words);
        // A misspelt TALVINE_KERNEL is named before any picture is read: inside
        // a command it would only show as a preview that never came.
        talvine::engines::activeKernel();
        std::vector<std::string> rest = words;
        if (const auto batch = takeBatchOptions(rest)) {
            if (!batchable(*sub)) throw UsageError("takes no batch of pictures");
            args = Args(rest);
            args.setBatch([options = *batch](const std::vector<std::string>& inputs) {
                return runBatch(options, inputs);
            });
        }
        return sub->run(args);
    } catch (const BatchFinished& done) {
        return done.code;
    } catch (const UsageError& e) {
        std::cerr << "talvine " << sub->name << ": " << e.what() << "; see talvine " << sub->name
                  << " --help\n";
        return 2;
    } catch (const std::exception& e) {
        std::string message = e.what();
        const std::string& input = batchWorkerInput();
        if (!input.empty() && message.find(input) == std::string::npos)
            message = input + ": " + message;
        std::cerr << batchLineStart() << "talvine: " << message << "\n";
        return 1;
    }
}
