// Batches through the tool: many inputs, each run as it would run alone, a
// failing file that does not stop the others, and the names of the outputs.
#include "support/RunTool.h"

#include <gtest/gtest.h>

#include <png.h>

#include <filesystem>
#include <fstream>

namespace talvine {
namespace {

using test::runTool;
using test::slurp;

// Three good pictures of different sizes and one that is not a picture.
struct Inputs {
    test::TempDir dir;
    std::vector<std::string> good, all;
    Inputs() {
        for (int n = 0; n < 3; ++n) {
            const std::string path = dir / ("p" + std::to_string(n) + ".png");
            cli::writePicture(path, test::coordinateRgb(7 + n, 4 + 2 * n));
            good.push_back(path);
        }
        std::ofstream(dir / "broken.png") << "not a picture at all";
        all = {good[0], good[1], dir / "broken.png", good[2]};
    }
};

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(CliBatch, EachFileAsAloneAndAFailureCountedNotFatal) {
    Inputs in;
    const std::vector<std::string> command{"tilt", "--from",    "0,0", "--to",
                                           "6,1",  "--quality", "80"};
    // What a run per file writes, to compare byte for byte.
    std::vector<std::string> single;
    for (size_t n = 0; n < in.good.size(); ++n) {
        const std::string out = in.dir / ("single" + std::to_string(n) + ".png");
        const auto r = runTool(concat(command, {in.good[n], out}));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        single.push_back(slurp(out));
        ASSERT_FALSE(single.back().empty());
    }
    for (const char* jobs : {"1", "2"}) {
        SCOPED_TRACE(std::string("-j ") + jobs);
        const std::string outDir = in.dir / (std::string("out") + jobs);
        std::filesystem::create_directory(outDir);
        const auto r = runTool(concat(concat(command, {"-j", jobs, "-o", outDir}), in.all));
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("talvine: 3 of 4 pictures written, 1 failed\n"), std::string::npos)
            << r.err;
        // The broken file's own line, as a single run prints it.
        EXPECT_NE(r.err.find("broken.png"), std::string::npos) << r.err;
        // Not a terminal: no progress line.
        EXPECT_EQ(r.err.find('\r'), std::string::npos);
        for (size_t n = 0; n < in.good.size(); ++n)
            EXPECT_EQ(slurp(outDir + "/p" + std::to_string(n) + ".png"), single[n]) << n;
        EXPECT_FALSE(std::filesystem::exists(outDir + "/broken.png"));
    }
}

TEST(CliBatch, PatternNamesEachOutputAfterItsInput) {
    Inputs in;
    const std::string pattern = (in.dir.path() / "%s-turned.%e").string();
    const auto r = runTool(concat({"rotate-cw", "--output-pattern", pattern}, in.good));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("talvine: 3 of 3 pictures written\n"), std::string::npos) << r.err;
    for (int n = 0; n < 3; ++n) {
        const cli::Picture out =
            cli::readPicture(in.dir / ("p" + std::to_string(n) + "-turned.png"));
        EXPECT_EQ(out.width, 4 + 2 * n);
        EXPECT_EQ(out.height, 7 + n);
    }
    // A literal percent sign, and the extension inside the name.
    const auto lit = runTool(
        {"mirror-v", "--output-pattern", (in.dir.path() / "100%%-%s-%e.png").string(), in.good[0]});
    ASSERT_EQ(lit.exitCode, 0) << lit.err;
    EXPECT_TRUE(std::filesystem::exists(in.dir / "100%-p0-png.png"));
}

TEST(CliBatch, RefusedBeforeAnyFileRuns) {
    Inputs in;
    const std::string outDir = in.dir / "out";
    std::filesystem::create_directory(outDir);
    std::filesystem::create_directory(in.dir / "sub");
    cli::writePicture(in.dir / "sub/p0.png", test::coordinateRgb(2, 2));
    struct Case {
        const char* what;
        std::vector<std::string> args;
        const char* message;
    };
    const std::vector<Case> cases{
        {"missing directory",
         {"mirror-h", "-o", in.dir / "nowhere", in.good[0]},
         "no such directory"},
        {"a file as directory", {"mirror-h", "-o", in.good[1], in.good[0]}, "no such directory"},
        {"two inputs, one output",
         {"mirror-h", "-o", outDir, in.good[0], in.dir / "sub/p0.png"},
         "would both be written to"},
        {"pattern without %s",
         {"mirror-h", "--output-pattern", in.dir / "same.png", in.good[0], in.good[1]},
         "would both be written to"},
        {"output over an input",
         {"mirror-h", "-o", in.dir.path().string(), in.good[0]},
         "would overwrite an input"},
        {"unknown pattern sign",
         {"mirror-h", "--output-pattern", in.dir / "%d.png", in.good[0]},
         "is not %s, %e or %%"},
        {"standard input", {"mirror-h", "-o", outDir, "-"}, "standard input"},
        {"no input", {"mirror-h", "-o", outDir}, "at least one input"},
        {"-j alone", {"mirror-h", "-j", "2", in.good[0], in.dir / "x.png"}, "-j needs"},
        {"-j zero", {"mirror-h", "-j", "0", "-o", outDir, in.good[0]}, "-j must be"},
        {"info", {"info", "-o", outDir, in.good[0]}, "takes no batch"},
        {"demo", {"demo", "-o", outDir, in.good[0]}, "takes no batch"},
        {"bad shared option",
         {"mirror-h", "--quality", "0", "-o", outDir, in.good[0]},
         "--quality"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto r = runTool(c.args);
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("; see talvine " + c.args[0] + " --help\n"), std::string::npos)
            << r.err;
        // No summary: nothing ran.
        EXPECT_EQ(r.err.find("pictures written"), std::string::npos) << r.err;
    }
    EXPECT_TRUE(std::filesystem::is_empty(outDir));
    EXPECT_FALSE(std::filesystem::exists(in.dir / "nowhere"));
}

// A batch says once, in its summary, how its inputs were converted, with
// the files each conversion concerns, instead of a line per file.
TEST(CliBatch, ConversionsAreSaidOnceInTheSummary) {
    test::TempDir dir;
    std::vector<std::string> args{"mirror-h", "-j", "2", "-o", dir.path().string() + "/out"};
    std::filesystem::create_directory(dir / "out");
    for (const char* name : {"g1.png", "rgb.png", "g2.png"}) {
        const std::string path = dir / name;
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        image.width = 8;
        image.height = 4;
        const bool grey = name[0] == 'g';
        image.format = grey ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
        const std::vector<uint8_t> pixels(8 * 4 * (grey ? 1 : 3), 77);
        ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr));
        args.push_back(path);
    }
    const auto r = runTool(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("talvine: 3 of 3 pictures written\n"), std::string::npos) << r.err;
    const std::string g1 = dir / "g1.png", g2 = dir / "g2.png";
    EXPECT_TRUE(r.err.find("talvine: grey picture converted to RGB: " + g1 + ", " + g2 + "\n") !=
                    std::string::npos ||
                r.err.find("talvine: grey picture converted to RGB: " + g2 + ", " + g1 + "\n") !=
                    std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find(g1 + ": grey"), std::string::npos) << r.err;
}

} // namespace
} // namespace talvine