// The manual page against the tool it describes: every subcommand the tool
// lists, and every option a subcommand's help names, is in the manual.
#include "support/RunTool.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>

namespace {

using talvine::test::runTool;
using talvine::test::slurp;

const std::string& manual() {
    static const std::string text = slurp(TALVINE_SOURCE_DIR "/docs/man/talvine.1");
    return text;
}

// The subcommands in the tool's own usage: the lines "  talvine NAME ...".
std::vector<std::string> listedSubcommands() {
    const auto usage = runTool({"--help"});
    EXPECT_EQ(usage.exitCode, 0) << usage.err;
    std::vector<std::string> names;
    std::istringstream lines(usage.out);
    static const std::regex line(R"(^  talvine ([a-z-]+))");
    for (std::string l; std::getline(lines, l);)
        if (std::smatch m; std::regex_search(l, m, line)) names.push_back(m[1]);
    return names;
}

TEST(Manual, DescribesEverySubcommandAndOption) {
    ASSERT_FALSE(manual().empty()) << "docs/man/talvine.1 is missing";
    const auto names = listedSubcommands();
    ASSERT_GE(names.size(), 11u);
    for (const auto& name : names) {
        // roff escapes hyphens in option names; subcommand names are bold words.
        EXPECT_NE(manual().find(name), std::string::npos) << name << " is not in the manual";
        const auto help = runTool({name, "--help"});
        ASSERT_EQ(help.exitCode, 0) << name << ": " << help.err;
        static const std::regex option(R"((^|\s)--([a-z][a-z-]*))");
        std::set<std::string> options;
        for (std::sregex_iterator it(help.out.begin(), help.out.end(), option), end; it != end;
             ++it)
            options.insert((*it)[2]);
        for (const auto& o : options) {
            std::string escaped = "\\-\\-";
            for (char c : o)
                escaped += c == '-' ? std::string("\\-") : std::string(1, c);
            EXPECT_NE(manual().find(escaped), std::string::npos)
                << "--" << o << " (in talvine " << name << " --help) is not in the manual";
        }
    }
}

} // namespace
