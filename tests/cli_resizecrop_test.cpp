// talvine resize and crop run as programs on picture files: sizes and pixels
// of the results, and one clear line for every refusal.
#include "support/RunTool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace talvine {
namespace {

using test::runTool;

// The source (x, y) that a coordinate picture's pixel names.
std::pair<int, int> source(const cli::Picture& p, int x, int y) {
    const uint8_t* px = &p.rgb[(size_t(y) * size_t(p.width) + size_t(x)) * 3];
    return {px[0], px[1]};
}

class CliResizeCrop : public ::testing::Test {
  protected:
    void SetUp() override { cli::writePicture(in, test::coordinateRgb(200, 150)); }
    cli::Picture run(std::vector<std::string> args) {
        const auto r = runTool(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return cli::readPicture(out);
    }
    test::TempDir dir;
    const std::string in = dir / "in.png", out = dir / "out.png";
};

TEST_F(CliResizeCrop, WidthKeepsTheLinkThroughTheWholePercentage) {
    // 333 / 200 is 166.5 %, shown as 166 %, so the height is 150 * 1.66 = 249.
    const cli::Picture p = run({"resize", in, out, "--width", "333"});
    EXPECT_EQ(p.width, 333);
    EXPECT_EQ(p.height, 249);
    EXPECT_EQ(source(p, 0, 0), std::make_pair(0, 0));
    EXPECT_EQ(source(p, 1, 1), std::make_pair(1, 1));         // 0.60 and 0.60
    EXPECT_EQ(source(p, 332, 248), std::make_pair(199, 149)); // 199.40 and 149.40
}

TEST_F(CliResizeCrop, HeightAndPercentScaleBothSides) {
    const cli::Picture byHeight = run({"resize", in, out, "--height", "75"});
    EXPECT_EQ(byHeight.width, 100);
    EXPECT_EQ(byHeight.height, 75);
    EXPECT_EQ(source(byHeight, 3, 5), std::make_pair(6, 10));
    const cli::Picture byPercent = run({"resize", in, out, "--percent", "25"});
    EXPECT_EQ(byPercent.width, 50);
    EXPECT_EQ(byPercent.height, 38); // 37.5 rounds to the even 38
}

TEST_F(CliResizeCrop, SizeSetsBothSidesUnlinked) {
    const cli::Picture p = run({"resize", in, out, "--size", "30x40"});
    EXPECT_EQ(p.width, 30);
    EXPECT_EQ(p.height, 40);
    EXPECT_EQ(source(p, 1, 1), std::make_pair(7, 4)); // 6.67 and 3.75
}

TEST_F(CliResizeCrop, SmoothBlendsNeighboursWithTiesToEven) {
    cli::writePicture(in, test::coordinateRgb(4, 2));
    const cli::Picture p = run({"resize", in, out, "--percent", "200", "--smooth"});
    ASSERT_EQ(p.width, 8);
    ASSERT_EQ(p.height, 4);
    // Byte 0 is the source column: half-way blends of 0|1, 1|2 and 2|3.
    EXPECT_EQ(source(p, 1, 0).first, 0); // 0.5
    EXPECT_EQ(source(p, 3, 0).first, 2); // 1.5
    EXPECT_EQ(source(p, 5, 0).first, 2); // 2.5
    EXPECT_EQ(source(p, 6, 3).first, 3);
}

TEST_F(CliResizeCrop, CropKeepsTheTypedRectangle) {
    cli::writePicture(in, test::coordinateRgb(640, 80));
    // The proportions as photographers name them, and the dialog's own names.
    for (const char* format : {"free", "3:4", "FREE", "3/4V"}) {
        const cli::Picture p =
            run({"crop", in, out, "--rect", "10,20,100,50",
                 std::string(format).find(':') != std::string::npos || std::string(format) == "free"
                     ? "--aspect"
                     : "--format",
                 format});
        EXPECT_EQ(p.width, 100) << format;
        EXPECT_EQ(p.height, 50) << format;
        EXPECT_EQ(source(p, 0, 0), std::make_pair(10, 20));
        EXPECT_EQ(source(p, 0, 1), std::make_pair(10, 21));
        EXPECT_EQ(source(p, 99, 49), std::make_pair(109, 69));
    }
}

TEST_F(CliResizeCrop, CropPastTheEdgesKeepsThePartInside) {
    const cli::Picture p = run({"crop", in, out, "--rect", "180,140,100,100"});
    EXPECT_EQ(p.width, 20);
    EXPECT_EQ(p.height, 10);
    EXPECT_EQ(source(p, 19, 9), std::make_pair(199, 149));
    // Wider and taller than the whole picture: the part inside is all of it.
    const cli::Picture all = run({"crop", in, out, "--rect", "0,0,300,151"});
    EXPECT_EQ(all.width, 200);
    EXPECT_EQ(all.height, 150);
    EXPECT_EQ(source(all, 199, 149), std::make_pair(199, 149));
}

TEST_F(CliResizeCrop, OtherSpellingsGiveTheSameBytes) {
    struct Case {
        const char* what;
        std::vector<std::string> given, same;
        const char* note; // on stderr for the given form, or nullptr
    } cases[] = {
        {"a percent sign", {"resize", "--percent", "50%"}, {"resize", "--percent", "50"}, nullptr},
        {"a fraction rounded down",
         {"resize", "--percent", "33.3"},
         {"resize", "--percent", "33"},
         "--percent 33.3 entered as 33%"},
        {"a half rounded to even",
         {"resize", "--percent", "12.5%"},
         {"resize", "--percent", "12"},
         "--percent 12.5% entered as 12%"},
        {"--bilinear for --smooth",
         {"resize", "--width", "90", "--bilinear"},
         {"resize", "--width", "90", "--smooth"},
         nullptr},
        {"an ImageMagick geometry",
         {"crop", "--geometry", "50x40+10+20"},
         {"crop", "--rect", "10,20,50,40"},
         nullptr},
    };
    const std::string other = dir / "other.png";
    for (const Case& c : cases) {
        std::vector<std::string> a{c.given[0], in, out}, b{c.same[0], in, other};
        a.insert(a.end(), c.given.begin() + 1, c.given.end());
        b.insert(b.end(), c.same.begin() + 1, c.same.end());
        const auto r = runTool(a);
        ASSERT_EQ(r.exitCode, 0) << c.what << ": " << r.err;
        ASSERT_EQ(runTool(b).exitCode, 0) << c.what;
        EXPECT_EQ(test::slurp(out), test::slurp(other)) << c.what;
        if (c.note) {
            EXPECT_NE(r.err.find(c.note), std::string::npos) << c.what << ": " << r.err;
        } else {
            EXPECT_EQ(r.err, "") << c.what;
        }
    }
    // Independently of the other spellings: the sizes and the origin.
    EXPECT_EQ(run({"resize", in, out, "--percent", "33.3"}).width, 66); // 200 * 0.33
    const cli::Picture cropped = run({"crop", in, out, "--geometry", "50x40+10+20"});
    EXPECT_EQ(cropped.width, 50);
    EXPECT_EQ(cropped.height, 40);
    EXPECT_EQ(source(cropped, 0, 0), std::make_pair(10, 20));
}

TEST_F(CliResizeCrop, RefusalsAreOneLineAndWriteNothing) {
    struct Case {
        const char* what;
        std::vector<std::string> args;
        int exitCode;
        const char* message;
    } cases[] = {
        // Every refusal names the option and what it allows, in English, before the dialog runs.
        {"a zero side",
         {"resize", in, out, "--size", "100x0"},
         2,
         "--size height must be a whole number from 1"},
        {"a zero percentage",
         {"resize", in, out, "--percent", "0"},
         2,
         "--percent must be a percentage from 1 to 800"},
        {"a fraction that rounds to no percentage",
         {"resize", in, out, "--percent", "0.4"},
         2,
         "--percent must be a percentage from 1 to 800"},
        {"a fraction that rounds past 800",
         {"resize", in, out, "--percent", "800.6"},
         2,
         "'800.6'"},
        {"two percent signs", {"resize", in, out, "--percent", "50%%"}, 2, "'50%%'"},
        {"a geometry from the right edge",
         {"crop", in, out, "--geometry", "10x10-5+0"},
         2,
         "--geometry must be WxH+X+Y"},
        {"a geometry without offsets", {"crop", in, out, "--geometry", "10x10"}, 2, "--geometry"},
        {"a geometry and a rectangle",
         {"crop", in, out, "--geometry", "10x10+0+0", "--rect", "0,0,10,10"},
         2,
         "not both"},
        {"a zero width",
         {"resize", in, out, "--width", "0"},
         2,
         "--width must be a whole number from 1"},
        {"a width whose linked height rounds to 0",
         {"resize", in, out, "--width", "1"},
         1,
         "--width 1 makes the 200 x 150 picture 1 x 0 pixels"},
        {"a width beyond 8 times",
         {"resize", in, out, "--width", "1601"},
         1,
         "--width must be from 1 to 8 times the picture's width (1600), not 1601"},
        {"a size beyond 8 times",
         {"resize", in, out, "--size", "10x1201"},
         1,
         "--size height must be from 1 to 8 times the picture's height (1200), not 1201"},
        {"a margin beyond the picture",
         {"crop", in, out, "--rect", "201,0,10,10"},
         1,
         "--rect 201,0,10,10 lies outside the 200 x 150 picture: X must be from 0 to 199 and Y "
         "from 0 to 149"},
        {"a rectangle starting at the bottom edge",
         {"crop", in, out, "--rect", "0,150,10,10"},
         1,
         "lies outside the 200 x 150 picture"},
        {"an empty rectangle",
         {"crop", in, out, "--rect", "0,0,0,10"},
         2,
         "--rect width must be a whole number from 1"},
        {"no size", {"resize", in, out}, 2, "exactly one of"},
        {"two sizes", {"resize", in, out, "--width", "5", "--height", "5"}, 2, "exactly one of"},
        {"a percentage beyond 800", {"resize", in, out, "--percent", "801"}, 2, "--percent"},
        {"a malformed size", {"resize", in, out, "--size", "100,50"}, 2, "--size"},
        {"a negative width", {"resize", in, out, "--width", "-3"}, 2, "--width"},
        {"no rectangle", {"crop", in, out}, 2, "--rect"},
        {"three numbers", {"crop", in, out, "--rect", "1,2,3"}, 2, "--rect"},
        {"five numbers", {"crop", in, out, "--rect", "1,2,3,4,5"}, 2, "--rect"},
        {"an unknown format",
         {"crop", in, out, "--rect", "1,2,3,4", "--aspect", "1:1"},
         2,
         "--aspect must be free, 3:2, 2:3, 4:3 or 3:4, not '1:1'"},
    };
    for (const Case& c : cases) {
        const auto r = runTool(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.what << ": " << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << ": " << r.err;
        if (c.exitCode == 1) {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.what << ": " << r.err;
        }
        EXPECT_FALSE(std::filesystem::exists(out)) << c.what;
    }
}

TEST_F(CliResizeCrop, DemoCropsAndHalvesTheSample) {
    const auto r = runTool({"demo", dir.path().string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const cli::Picture cropped = cli::readPicture(dir / "06-crop.png");
    EXPECT_EQ(cropped.width, 480);
    EXPECT_EQ(cropped.height, 360);
    const cli::Picture halved = cli::readPicture(dir / "07-resize.png");
    EXPECT_EQ(halved.width, 320);
    EXPECT_EQ(halved.height, 240);
}

} // namespace
} // namespace talvine
