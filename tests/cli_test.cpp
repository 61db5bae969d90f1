// The command-line tool as a user runs it: identity, the instant commands on
// picture files, the demo, and one clear line for every kind of failure.
#include "support/RunTool.h"

#include <gtest/gtest.h>

#include <png.h>
#include <sys/stat.h>

namespace talvine {
namespace {

using test::runTool;

TEST(CliInfo, PrintsIdentityAndCaptionsInUtf8) {
    const auto r = runTool({"info"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Quilmar (Orvante)"), std::string::npos);
    EXPECT_NE(r.out.find("version:     4.0"), std::string::npos);
    EXPECT_NE(r.out.find("G\xC3\xA9om\xC3\xA9trie"), std::string::npos);
    EXPECT_NE(r.out.find("1  Rotation de 90\xC2\xB0 anti horaire"), std::string::npos);
    EXPECT_NE(r.out.find("9  Perspective"), std::string::npos);
}

TEST(CliInstant, QuarterTurnOfAPngNamesEverySourcePixel) {
    test::TempDir dir;
    cli::writePicture(dir / "in.png", test::coordinateRgb(5, 3));
    const auto r = runTool({"rotate-ccw", dir / "in.png", dir / "out.png"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const cli::Picture out = cli::readPicture(dir / "out.png");
    ASSERT_EQ(out.width, 3);
    ASSERT_EQ(out.height, 5);
    // Result row r is source column W - 1 - r, read from top to bottom.
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 3; ++x) {
            const uint8_t* px = &out.rgb[size_t(y * 3 + x) * 3];
            EXPECT_EQ(px[0], 4 - y);
            EXPECT_EQ(px[1], x);
        }
}

TEST(CliInstant, JpegInAndOutKeepsTheGeometry) {
    test::TempDir dir;
    cli::writePicture(dir / "in.jpg", test::coordinateRgb(40, 24), 95);
    const auto r = runTool({"mirror-v", "--quality", "80", dir / "in.jpg", dir / "out.jpeg"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const cli::Picture out = cli::readPicture(dir / "out.jpeg");
    EXPECT_EQ(out.width, 40);
    EXPECT_EQ(out.height, 24);
    // Green holds y: the top row now carries the bottom row's value (23), within JPEG's error.
    EXPECT_NEAR(out.rgb[size_t(20) * 3 + 1], 23, 6);
}

TEST(CliErrors, EachFailureIsOneLineAndWritesNothing) {
    test::TempDir dir;
    cli::writePicture(dir / "in.png", test::coordinateRgb(4, 4));
    {
        std::ofstream bad(dir / "corrupt.png");
        bad << "\x89PNG\r\n\x1a\n not really";
    }
    struct Case {
        const char* what;
        std::vector<std::string> args;
        int exitCode;
        const char* message;
        std::string output;
    } cases[] = {
        {"missing input",
         {"mirror-h", dir / "none.png", dir / "o1.png"},
         1,
         "No such file",
         dir / "o1.png"},
        {"unknown format",
         {"mirror-h", dir / "in.png", dir / "o2.bmp"},
         1,
         "unknown picture format",
         dir / "o2.bmp"},
        {"corrupt input",
         {"mirror-h", dir / "corrupt.png", dir / "o3.png"},
         1,
         "not a readable PNG",
         dir / "o3.png"},
        {"unwritable output",
         {"mirror-h", dir / "in.png", dir / "nodir/o4.png"},
         1,
         "cannot write",
         dir / "nodir/o4.png"},
        {"bad quality",
         {"mirror-h", "--quality", "0", dir / "in.png", dir / "o5.jpg"},
         2,
         "--quality",
         dir / "o5.jpg"},
        {"missing argument", {"mirror-h", dir / "in.png"}, 2, "expected 2", dir / "o6.png"},
        {"unknown option",
         {"mirror-h", "--fast", dir / "in.png", dir / "o7.png"},
         2,
         "unknown option",
         dir / "o7.png"},
    };
    for (const auto& c : cases) {
        const auto r = runTool(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.what;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << ": " << r.err;
        EXPECT_FALSE(std::filesystem::exists(c.output)) << c.what;
    }
    // A misspelt kernel is refused by name, not quietly replaced by another.
    setenv("TALVINE_KERNEL", "avx-512", 1);
    const auto kernel = runTool({"tilt", dir / "in.png", dir / "o8.png", "--angle", "3"});
    const auto kernelResize = runTool({"resize", dir / "in.png", dir / "o9.png", "--size", "8x8"});
    unsetenv("TALVINE_KERNEL");
    EXPECT_EQ(kernel.exitCode, 1);
    EXPECT_NE(kernel.err.find("TALVINE_KERNEL=avx-512 names no kernel: baseline, avx2 or avx512"),
              std::string::npos)
        << kernel.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "o8.png"));
    EXPECT_EQ(kernelResize.err, kernel.err);
    EXPECT_FALSE(std::filesystem::exists(dir / "o9.png"));
    // Nothing half-written is left beside the outputs either.
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().string().find(".tmp-"), std::string::npos) << entry.path();
}

TEST(CliConventions, VersionHelpAndUsageErrors) {
    const auto version = runTool({"--version"});
    EXPECT_EQ(version.exitCode, 0) << version.err;
    EXPECT_NE(version.out.find("talvine 4.0.0\n"), std::string::npos) << version.out;
    // The plug-in's own, as its entry point gives it (info shows the same).
    EXPECT_NE(version.out.find("plug-in 4.0\n"), std::string::npos) << version.out;

    for (const char* help : {"-h", "--help"}) {
        const auto top = runTool({help});
        EXPECT_EQ(top.exitCode, 0) << help;
        EXPECT_NE(top.out.find("  talvine tilt "), std::string::npos) << help;
        EXPECT_NE(top.out.find("--output-pattern"), std::string::npos) << help;
        const auto sub = runTool({"resize", help});
        EXPECT_EQ(sub.exitCode, 0) << help;
        EXPECT_NE(sub.out.find("--percent"), std::string::npos) << help;
    }

    test::TempDir dir;
    cli::writePicture(dir / "in.png", test::coordinateRgb(4, 4));
    for (const char* option : {"-q", "--fast", "-x1"}) {
        const auto r = runTool({"mirror-h", option, dir / "in.png", dir / "out.png"});
        EXPECT_EQ(r.exitCode, 2) << option;
        // One line, the option named first, and where to read more.
        EXPECT_EQ(r.err, "talvine mirror-h: unknown option " + std::string(option) +
                             "; see talvine mirror-h --help\n");
        EXPECT_FALSE(std::filesystem::exists(dir / "out.png"));
    }
    const auto tilt = runTool({"tilt", dir / "in.png"});
    EXPECT_EQ(tilt.exitCode, 2);
    EXPECT_EQ(tilt.err, "talvine tilt: --from and --to are both needed, or --angle, or --auto; "
                        "see talvine tilt --help\n");
}

TEST(CliInputs, GreyAndAlphaInputsAreConvertedAndSaid) {
    test::TempDir dir;
    // A grey + alpha PNG, written with libpng directly.
    {
        FILE* f = std::fopen((dir / "ga.png").c_str(), "wb");
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_init_io(png, f);
        png_set_IHDR(png, info, 2, 1, 8, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        png_byte row[] = {100, 255, 0, 0}; // opaque grey 100, then fully transparent
        png_write_row(png, row);
        png_write_end(png, nullptr);
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
    }
    const auto r = runTool({"mirror-h", dir / "ga.png", dir / "out.png"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("grey picture converted to RGB"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("transparency flattened onto white"), std::string::npos) << r.err;
    const cli::Picture out = cli::readPicture(dir / "out.png");
    ASSERT_EQ(out.rgb.size(), 6u);
    EXPECT_EQ(out.rgb, (std::vector<uint8_t>{255, 255, 255, 100, 100, 100}));
}

TEST(CliDemo, WritesEveryResultAndTheContactSheet) {
    test::TempDir dir;
    const auto r = runTool({"demo", dir.path().string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* name :
         {"00-original.png", "01-rotate-ccw.png", "05-mirror-v.png", "contact-sheet.png"})
        EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;
    const cli::Picture turned = cli::readPicture(dir / "01-rotate-ccw.png");
    const cli::Picture original = cli::readPicture(dir / "00-original.png");
    EXPECT_EQ(turned.width, original.height);
    EXPECT_EQ(turned.height, original.width);
}

// A misspelt option is the error, whatever else is missing, with the
// option meant; so is a misspelt subcommand.
TEST(CliConventions, MisspellingsAreNamedWithWhatWasMeant) {
    auto r = runTool({"tilt", "in.png", "out.png", "--angel", "2"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "talvine tilt: unknown option --angel (did you mean --angle?); see talvine "
                     "tilt --help\n");
    r = runTool({"perspectve", "in.png", "out.png"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "talvine: unknown subcommand 'perspectve' (did you mean perspective?); see "
                     "talvine --help\n");
    // A negative number is a value, not an option.
    r = runTool({"tilt", "no-such.png", "out.png", "--angle", "-3"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
}

// Values as the dialogs show them, the crop's proportions as photographers
// name them, and -j alone for as many files at once as there are cores.
TEST(CliConventions, DialogUnitsProportionsAndJobs) {
    test::TempDir dir;
    cli::writePicture(dir / "in.png", test::coordinateRgb(64, 48));
    auto same = [&](std::vector<std::string> a, std::vector<std::string> b) {
        a.insert(a.begin() + 1, {dir / "in.png", dir / "a.png"});
        b.insert(b.begin() + 1, {dir / "in.png", dir / "b.png"});
        const auto ra = runTool(a), rb = runTool(b);
        EXPECT_EQ(ra.exitCode, 0) << ra.err;
        EXPECT_EQ(rb.exitCode, 0) << rb.err;
        EXPECT_EQ(test::slurp(dir / "a.png"), test::slurp(dir / "b.png"));
    };
    same({"distortion", "--rate", "1.9%"}, {"distortion", "--rate", "19"});
    same({"distortion", "--rate", "-10%"}, {"distortion", "--rate", "-100"});
    same({"perspective", "--corners", "4,0", "60,0", "64,48", "0,48", "--vertical", "50%"},
         {"perspective", "--corners", "4,0", "60,0", "64,48", "0,48"});
    auto r = runTool({"distortion", dir / "in.png", dir / "c.png", "--rate", "1.95%"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("in steps of 0.1%"), std::string::npos) << r.err;

    std::filesystem::create_directory(dir / "out");
    r = runTool({"mirror-h", "-j", "-o", dir / "out", dir / "in.png"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(std::filesystem::exists(dir / "out/in.png"));
}

// Notes name the file they are about; --quiet silences them, not errors.
TEST(CliConventions, NotesNameTheirFileAndQuietSilencesThem) {
    test::TempDir dir;
    cli::writePicture(dir / "in.png", test::coordinateRgb(64, 48));
    auto r = runTool({"tilt", dir / "in.png", dir / "a.png", "--angle", "3"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.rfind("talvine: " + dir / "in.png" + ": --angle 3: the line from ", 0), 0u)
        << r.err;
    r = runTool({"tilt", dir / "in.png", dir / "a.png", "--angle", "3", "--quiet"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    r = runTool({"tilt", dir / "missing.png", dir / "a.png", "--angle", "3", "--quiet"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("missing.png"), std::string::npos);
}

} // namespace
} // namespace talvine