// talvine: a command-line host for the Talvine plug-in.  Every subcommand
// runs the plug-in's commands through its four entry points, in process.
#include "Cli.h"
#include "ImageIO.h"

#include <algorithm>
#include <iostream>
#include <iterator>

using namespace talvine::cli;

namespace {

// Subcommands register from their own files in no set order: list them in
// the menu's order.
int rank(const std::string& name) {
    static const char* const kOrder[] = {"info",       "rotate-ccw",  "rotate-cw", "tilt",
                                         "mirror-h",   "mirror-v",    "crop",      "resize",
                                         "distortion", "perspective", "demo"};
    for (size_t i = 0; i < std::size(kOrder); ++i)
        if (name == kOrder[i]) return static_cast<int>(i);
    return static_cast<int>(std::size(kOrder));
}

void printUsage(std::ostream& out) {
    std::vector<const Subcommand*> listed;
    for (const auto& s : subcommands())
        listed.push_back(&s);
    std::stable_sort(listed.begin(), listed.end(), [](const Subcommand* a, const Subcommand* b) {
        return rank(a->name) < rank(b->name);
    });
    out << "usage: talvine SUBCOMMAND [OPTIONS] ...\n\nSubcommands:\n";
    for (const auto* s : listed)
        out << "  talvine " << s->name << " " << s->synopsis << "\n";
    out << "\nRun 'talvine SUBCOMMAND --help' for details.\n";
}

const Subcommand* find(const std::string& name) {
    for (const auto& s : subcommands())
        if (s.name == name) return &s;
    return nullptr;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> words(argv + 1, argv + argc);
    if (words.empty() || words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
        printUsage(words.empty() ? std::cerr : std::cout);
        return words.empty() ? 2 : 0;
    }
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
        return sub->run(args);
    } catch (const UsageError& e) {
        std::cerr << "talvine " << sub->name << ": " << e.what() << "\n"
                  << "usage: talvine " << sub->name << " " << sub->synopsis << "\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "talvine: " << e.what() << "\n";
        return 1;
    }
}
