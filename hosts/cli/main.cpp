// talvine: a command-line host for the Talvine plug-in.  Every subcommand
// runs the plug-in's commands through its four entry points, in process.
#include "Batch.h"
#include "Cli.h"
#include "HostSession.h"
#include "ImageIO.h"
#include "SafeWrite.h"

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

// After a command line that does not parse: the synopsis and every option.
void printSubcommandUsage(std::ostream& out, const Subcommand& sub) {
    out << "usage: talvine " << sub.name << (sub.synopsis.empty() ? "" : " ") << sub.synopsis
        << "\n";
    const auto options = sub.help.find("Options:");
    if (options != std::string::npos) {
        out << "\n" << sub.help.substr(options);
        if (sub.help.back() != '\n') out << "\n";
    }
    out << "Run 'talvine " << sub.name << " --help' for details.\n";
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
        std::cerr << "talvine: unknown subcommand '" << words[0] << "'\n";
        printUsage(std::cerr);
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
        std::cerr << "talvine " << sub->name << ": " << e.what() << "\n";
        printSubcommandUsage(std::cerr, *sub);
        return 2;
    } catch (const std::exception& e) {
        std::cerr << batchLineStart() << "talvine: " << e.what() << "\n";
        return 1;
    }
}
