// talvine detect, straighten --auto, perspective --auto and upright, run as a
// user runs them on photo-like scenes whose answers are known.
#include "UprightScenes.h"
#include "support/RunTool.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

namespace talvine::test {
namespace {

namespace sc = talvine::analysis::scenes;

std::string writeScene(const TempDir& dir, const std::string& name, const sc::Shot& shot) {
    const hosts::Picture p = sc::render(shot);
    cli::writePicture(dir / name, cli::Picture{p.width, p.height, p.rgb});
    return dir / name;
}

// The number after `"key": ` in a JSON line, or NaN for null.
double jsonNumber(const std::string& json, const std::string& key) {
    const auto at = json.find("\"" + key + "\": ");
    if (at == std::string::npos) return std::nan("");
    const std::string rest = json.substr(at + key.size() + 4);
    if (rest.rfind("null", 0) == 0) return std::nan("");
    return std::strtod(rest.c_str(), nullptr);
}

TEST(CliUpright, DetectTellsTheLevelTheVanishingPointAndTheCornersPerFile) {
    TempDir dir;
    const std::string facade =
        writeScene(dir, "facade.png", {sc::Kind::Facade, 1500, 1000, 2.0, 10});
    const std::string organic = writeScene(dir, "organic.png", {sc::Kind::NoLines, 1500, 1000});
    const ToolResult json = runTool({"detect", "--json", facade, organic});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    std::istringstream lines(json.out);
    std::string first, second;
    std::getline(lines, first);
    std::getline(lines, second);
    EXPECT_NE(first.find("\"file\": \"" + facade + "\""), std::string::npos) << first;
    EXPECT_NEAR(jsonNumber(first, "level_deg"), 2.0, 0.02);
    EXPECT_GT(jsonNumber(first, "lines_horizontal") + jsonNumber(first, "lines_vertical"), 10);
    EXPECT_NE(first.find("\"corners\": [["), std::string::npos) << first;
    EXPECT_NE(first.find("\"vanishing_point\": ["), std::string::npos) << first;
    EXPECT_NE(first.find("\"refusal\": null"), std::string::npos) << first;
    EXPECT_TRUE(std::isnan(jsonNumber(second, "level_deg"))) << second;
    EXPECT_NE(second.find("\"corners\": null"), std::string::npos) << second;
    // Refused, not guessed: "too few straight lines" or "lines disagree".
    EXPECT_NE(second.find("\"refusal\": {\"level\": \""), std::string::npos) << second;

    const ToolResult text = runTool({"detect", facade});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    ASSERT_EQ(text.out.rfind(facade + ": level ", 0), 0u) << text.out;
    EXPECT_NEAR(std::strtod(text.out.c_str() + facade.size() + 8, nullptr), 2.0, 0.02);
    EXPECT_NE(text.out.find(" 1500,1000 0,1000\n"), std::string::npos) << text.out;
}

TEST(CliUpright, StraightenAutoLevelsAndPerspectiveAutoMakesTheVerticalsVertical) {
    TempDir dir;
    const std::string tilted =
        writeScene(dir, "tilted.png", {sc::Kind::Facade, 1500, 1000, -3.0, 0});
    const ToolResult s = runTool({"straighten", "--auto", tilted, dir / "level.png"});
    ASSERT_EQ(s.exitCode, 0) << s.err;
    const auto found = s.err.find("the level found, ");
    ASSERT_NE(found, std::string::npos) << s.err;
    EXPECT_NEAR(std::strtod(s.err.c_str() + found + 17, nullptr), -3.0, 0.02) << s.err;
    const ToolResult after = runTool({"detect", "--json", dir / "level.png"});
    EXPECT_NEAR(jsonNumber(after.out, "level_deg"), 0.0, 0.03) << after.out;

    const std::string pitched =
        writeScene(dir, "pitched.png", {sc::Kind::Facade, 1500, 1000, 0, 12});
    const ToolResult p = runTool({"perspective", "--auto", pitched, dir / "upright.png"});
    ASSERT_EQ(p.exitCode, 0) << p.err;
    const ToolResult check = runTool({"detect", "--json", dir / "upright.png"});
    // Made vertical: they no longer meet anywhere near (null), or far off.
    const auto at = check.out.find("\"vanishing_point\": ");
    ASSERT_NE(at, std::string::npos);
    if (check.out.compare(at + 19, 4, "null") != 0) {
        const double y =
            std::strtod(check.out.c_str() + check.out.find(", ", at + 20) + 2, nullptr);
        EXPECT_LT(y, -100000) << check.out;
    }

    // The usual refusals, and the options that cannot go together.
    const std::string organic = writeScene(dir, "organic.png", {sc::Kind::NoLines, 1500, 1000});
    const ToolResult none = runTool({"straighten", "--auto", organic, dir / "none.png"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_NE(none.err.find("no level found"), std::string::npos) << none.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "none.png"));
    EXPECT_EQ(runTool({"tilt", "--auto", "--angle", "2", tilted, dir / "x.png"}).exitCode, 2);
    EXPECT_EQ(runTool({"perspective", "--auto", "--corners", "0,0", "1,0", "1,1", "0,1", tilted,
                       dir / "x.png"})
                  .exitCode,
              2);
    const ToolResult parallel = runTool({"perspective", "--auto", tilted, dir / "x.png"});
    EXPECT_EQ(parallel.exitCode, 1);
    EXPECT_NE(parallel.err.find("parallel"), std::string::npos) << parallel.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "x.png"));
}

TEST(CliUpright, UprightBatchesWriteTheStraightenedPicturesAndRefuseThoseWithoutLines) {
    TempDir dir;
    std::filesystem::create_directory(dir / "out");
    const std::string a = writeScene(dir, "a.png", {sc::Kind::Facade, 1500, 1000, 1.5, 10});
    const std::string b = writeScene(dir, "b.png", {sc::Kind::NoLines, 1500, 1000});
    const std::string c = writeScene(dir, "c.png", {sc::Kind::Street, 1500, 1000, -2.0, 6});
    const ToolResult r = runTool({"upright", "-o", dir / "out", a, b, c});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    // The refusal names its file, whatever the order of the workers' lines.
    EXPECT_NE(r.err.find("talvine: " + b + ": no level found: "), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out/b.png"));
    for (const std::string name : {"a.png", "c.png"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(std::filesystem::exists(dir / ("out/" + name)));
        const ToolResult d = runTool({"detect", "--json", dir / ("out/" + name)});
        EXPECT_NEAR(jsonNumber(d.out, "level_deg"), 0.0, 0.05) << d.out;
        // Cropped clean: the scenes hold no white, the tilt's corners are
        // white.
        const cli::Picture out = cli::readPicture(dir / ("out/" + name));
        EXPECT_LT(out.width, 1500);
        EXPECT_GT(int64_t{out.width} * out.height, 1500 * 1000 / 2);
        int white = 0;
        for (size_t i = 0; i + 2 < out.rgb.size(); i += 3)
            white += out.rgb[i] == 255 && out.rgb[i + 1] == 255 && out.rgb[i + 2] == 255;
        EXPECT_EQ(white, 0);
    }
}

TEST(CliUpright, TheSameFileGivesTheSameBytesWhateverKernelAndThreads) {
    TempDir dir;
    const std::string in = writeScene(dir, "in.png", {sc::Kind::Facade, 1200, 800, 2.4, 9});
    ASSERT_EQ(runTool({"upright", in, dir / "one.png"}).exitCode, 0);
    setenv("TALVINE_KERNEL", "baseline", 1);
    setenv("TALVINE_THREADS", "1", 1);
    const ToolResult other = runTool({"upright", in, dir / "two.png"});
    unsetenv("TALVINE_KERNEL");
    setenv("TALVINE_THREADS", "3", 1);
    const ToolResult third = runTool({"upright", in, dir / "three.png"});
    unsetenv("TALVINE_THREADS");
    ASSERT_EQ(other.exitCode, 0) << other.err;
    ASSERT_EQ(third.exitCode, 0) << third.err;
    EXPECT_EQ(slurp(dir / "one.png"), slurp(dir / "two.png"));
    EXPECT_EQ(slurp(dir / "one.png"), slurp(dir / "three.png"));
}

} // namespace
} // namespace talvine::test
