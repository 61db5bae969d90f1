// Where the tool's outputs go and what is left when a write is cut short:
// devices and FIFOs written in place, links kept, temporaries named after
// the output and gone after SIGINT, SIGTERM or a closed pipe, errors naming
// the file the user gave, an interrupted batch that says what it wrote.
#include "SafeWrite.h"
#include "support/RunTool.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace talvine {
namespace {

namespace fs = std::filesystem;
using test::runTool;
using test::slurp;

// The entries of `dir` whose names hold ".talvine-": temporaries.
std::vector<std::string> temporariesIn(const fs::path& dir) {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().find(".talvine-") != std::string::npos)
            found.push_back(e.path().filename().string());
    return found;
}

// The tool started with `args`, stdout and stderr to files in `dir`, and an
// environment whose TMPDIR is `tmp`.
pid_t startTool(const std::vector<std::string>& args, const test::TempDir& dir,
                const std::string& tmp, int stdoutFd = -1) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, (dir / "stdout").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (dir / "stderr").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string tmpdir = "TMPDIR=" + tmp;
    std::vector<char*> env{tmpdir.data(), nullptr};
    const pid_t pid = test::spawnTool(args, &actions, env.data());
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Waits until `ready` holds, at most `seconds`.
template <class F> bool within(double seconds, F ready) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (ready()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

// A picture slow enough to write (zlib's level 9 on noise) for a signal to
// arrive while its temporary exists.
std::string slowInput(const test::TempDir& dir) {
    const std::string in = dir / "noise.png";
    cli::writePicture(in, test::noisePicture(3000, 2000, 7));
    return in;
}

TEST(Outputs, FifoAndDeviceAreWrittenInPlaceNeverReplaced) {
    test::TempDir dir;
    const std::string in = dir / "in.png";
    const cli::Picture picture = test::coordinateRgb(40, 30);
    cli::writePicture(in, picture);

    const std::string fifo = dir / "pipe.png";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Our own writer end keeps the reader waiting until the tool is done,
    // and ends its wait even if the tool never opens the FIFO.
    const int rfd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    const int wfd = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(rfd, 0);
    ASSERT_GE(wfd, 0);
    fcntl(rfd, F_SETFL, fcntl(rfd, F_GETFL) & ~O_NONBLOCK);
    std::string received;
    std::thread reader([&] {
        char block[4096];
        for (ssize_t n; (n = read(rfd, block, sizeof block)) > 0;)
            received.append(block, size_t(n));
    });
    const auto r = runTool({"mirror-h", in, fifo});
    close(wfd);
    reader.join();
    close(rfd);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::is_fifo(fifo));
    std::ofstream(dir / "received.png", std::ios::binary) << received;
    EXPECT_EQ(cli::readPicture(dir / "received.png").rgb, test::mirroredLeftRight(picture).rgb);

    // A null device of our own (making one needs root).
    const std::string null = dir / "null";
    if (mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "no device node can be made here";
    const auto d = runTool({"mirror-h", in, null, "--format", "png"});
    EXPECT_EQ(d.exitCode, 0) << d.err;
    struct stat st {};
    ASSERT_EQ(stat(null.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode)) << "the device was replaced by a file";
    EXPECT_TRUE(temporariesIn(dir.path()).empty());
}

TEST(Outputs, LinkStaysAndTheFileItNamesIsReplaced) {
    test::TempDir dir;
    const std::string in = dir / "in.png";
    cli::writePicture(in, test::coordinateRgb(6, 4));
    fs::create_directory(dir / "real");
    cli::writePicture(dir / "real/target.png", test::coordinateRgb(2, 2));
    fs::create_symlink(dir / "real/target.png", dir / "link.png");
    const auto r = runTool({"rotate-cw", in, dir / "link.png"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(dir / "link.png"));
    const cli::Picture written = cli::readPicture(dir / "real/target.png");
    EXPECT_EQ(written.width, 4);
    EXPECT_EQ(written.height, 6);
    EXPECT_TRUE(temporariesIn(dir / "real").empty());
}

TEST(Outputs, TemporaryNamesFitWhereverTheOutputNameFits) {
    // Shortened between characters, never inside one.
    EXPECT_EQ(cli::temporaryPrefix("out.png"), "out.png.talvine-");
    const std::string e = "\xC3\xA9"; // é, two bytes
    std::string name;
    for (int i = 0; i < 120; ++i)
        name += e;
    const std::string prefix = cli::temporaryPrefix(name, 255);
    EXPECT_LE(prefix.size() + 6, 255u);
    EXPECT_EQ(prefix.substr(0, prefix.size() - 9).size() % 2, 0u) << "cut inside a character";
    EXPECT_EQ(prefix.compare(prefix.size() - 9, 9, ".talvine-"), 0);
}

TEST(Outputs, FailedWritesNameTheOutputAndLeaveNothing) {
    test::TempDir dir;
    // A photo with EXIF and a profile, large enough to fail the write below.
    const std::string in = dir / "in.jpg";
    const auto made =
        runTool({"resize", std::string(TALVINE_SOURCE_DIR) + "/fuzz/corpus/metadata/exif-icc.jpg",
                 in, "--percent", "800%", "--quality", "100"});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    ASSERT_NE(slurp(in).find("Exif"), std::string::npos) << "the input has no EXIF";
    // A file size limit makes the write fail as a full disk would.
    const std::string out = dir / "o.png";
    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &old); // inherited: the write fails with EFBIG instead
    rlimit keep{};
    getrlimit(RLIMIT_FSIZE, &keep);
    rlimit small = keep;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    const auto r = runTool({"mirror-v", in, out, "--compression", "0"});
    setrlimit(RLIMIT_FSIZE, &keep);
    sigaction(SIGXFSZ, &old, nullptr);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind("talvine: " + out + ": cannot write", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find(".talvine-"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out));
    EXPECT_TRUE(temporariesIn(dir.path()).empty());

    // A name of 244 bytes is legal, and so is its temporary.
    const std::string longName = dir / (std::string(240, 'n') + ".png");
    const auto l = runTool({"mirror-v", in, longName});
    EXPECT_EQ(l.exitCode, 0) << l.err;
    EXPECT_TRUE(fs::exists(longName));
}

TEST(Outputs, SignalsRemoveTheTemporary) {
    test::TempDir dir, tmp;
    const std::string in = slowInput(dir);
    for (int signal : {SIGTERM, SIGINT}) {
        const std::string out = dir / "out.png";
        const pid_t pid =
            startTool({"mirror-h", in, out, "--compression", "9"}, dir, tmp.path().string());
        ASSERT_GT(pid, 0);
        const bool seen = within(60, [&] { return !temporariesIn(dir.path()).empty(); });
        kill(pid, signal);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(seen) << "no temporary appeared";
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_TRUE(temporariesIn(dir.path()).empty()) << temporariesIn(dir.path())[0];
        EXPECT_FALSE(fs::exists(out));
    }
}

TEST(Outputs, ClosedPipeIsAnErrorAndLeavesNothing) {
    test::TempDir dir, tmp;
    const std::string in = dir / "in.png";
    cli::writePicture(in, test::noisePicture(600, 400, 5));
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]); // the reader is gone before the first byte
    const pid_t pid =
        startTool({"mirror-h", in, "-", "--format", "tiff"}, dir, tmp.path().string(), fds[1]);
    close(fds[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_NE(slurp(dir / "stderr").find("standard output: cannot write (Broken pipe)"),
              std::string::npos)
        << slurp(dir / "stderr");
    EXPECT_TRUE(fs::is_empty(tmp.path()));
}

TEST(Outputs, InterruptedBatchSaysWhatItWroteAndLeavesNoTemporary) {
    test::TempDir dir, outDir, tmp;
    const std::string noise = slowInput(dir);
    std::vector<std::string> args{"mirror-h", "-o", outDir.path().string(), "--compression", "9"};
    for (int n = 0; n < 4; ++n) {
        const std::string in = dir / ("p" + std::to_string(n) + ".png");
        fs::copy_file(noise, in);
        args.push_back(in);
    }
    const pid_t pid = startTool(args, dir, tmp.path().string());
    // Stopped while the second file is being written.
    const bool seen = within(120, [&] {
        return fs::exists(outDir / "p0.png") && !temporariesIn(outDir.path()).empty();
    });
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(seen);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    const std::string err = slurp(dir / "stderr");
    EXPECT_NE(err.find("talvine: interrupted: 1 of 4 pictures written, 1 stopped, 2 not started"),
              std::string::npos)
        << err;
    EXPECT_TRUE(temporariesIn(outDir.path()).empty());
    EXPECT_EQ(cli::readPicture(outDir / "p0.png").width, 3000);
    EXPECT_FALSE(fs::exists(outDir / "p1.png"));
}

} // namespace
} // namespace talvine
