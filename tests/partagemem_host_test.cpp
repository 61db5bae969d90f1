// Pictures crossing between a host in a shared object of its own (written
// from the public header alone, see support/HostModule.c) and the library,
// in both directions.  The host publishes its allocator first; the library,
// started in this program, becomes its user.  Process-wide state: the case
// runs in a child process.
#include "HostModule.h"
#include "core/ParamCoul.h"
#include "platform/PartageMem.h"
#include "plugin/Library.h"
#include "toolkit/Automation.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace talvine {
namespace {

using platform::PartageMem;

std::string gFailures;
#define CHECK(cond)                                                                                \
    do {                                                                                           \
        if (!(cond)) gFailures += "line " + std::to_string(__LINE__) + ": " #cond "\n";            \
    } while (0)

TPtsImg gOriginal = nullptr;
TPtsImg gResult = nullptr;
int gCallbacks = 0;

// The host keeps the resize result and gives up its original picture.
void TALVINE_CALL onCallback(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, intptr_t param,
                             int32_t, int32_t fin) {
    ++gCallbacks;
    if (fin != 1 || !param) return;
    gResult = reinterpret_cast<TPtsImg>(param);
    hostTakeReference(gResult);
    hostReleaseReference(gOriginal);
}

int resizeAcrossTheBoundary() {
    CHECK(hostPublish());
    CHECK(startLibrary());
    CHECK(platform::modulePartageMem().role() == PartageMem::Role::User);
    CHECK(hostBlock()->Compteur == 2);

    gOriginal = hostNewPicture(4 * 2);
    TPtsImg const original = gOriginal;
    for (int i = 0; i < 8; ++i)
        gOriginal[i] = TPtImg{{static_cast<uint8_t>(i), 0, 0}};
    AdrRetour(&onCallback, 1);
    tk::Automation ui(talvine::application());
    ui.queue([&] { ui.replaceText("ChangeDim.DimHorz", "2"); });
    ui.queue([&] { ui.click("ChangeDim.Appliquer"); });
    XchgData(7, 0, 0, 0, 0, 4, 2, 0, 0, original, nullptr, 0, 0);

    CHECK(gCallbacks == 1);
    // Made by the host, freed by the library (its reference was the last)
    // through the host's allocator, which alone forgets the block.
    CHECK(!hostOwns(original));
    // Made by the library through the host's allocator.
    CHECK(gResult != nullptr);
    CHECK(hostOwns(gResult));
    CHECK(arrayLength(gResult) == 2);

    // The library lets go of its reference when it stops; the host's is the last.
    stopLibrary();
    CHECK(hostBlock()->Compteur == 1);
    CHECK(hostOwns(gResult));
    const int releasesBefore = hostReleases();
    hostReleaseReference(gResult);
    CHECK(!hostOwns(gResult));
    CHECK(hostReleases() == releasesBefore + 1);
    hostUnpublish();
    return 0;
}

TEST(PartageMemHost, PicturesMadeOnEitherSideAreFreedOnTheOther) {
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        close(report[0]);
        const int code = resizeAcrossTheBoundary();
        if (write(report[1], gFailures.data(), gFailures.size()) < 0) _exit(99);
        _exit(code);
    }
    close(report[1]);
    std::string failures;
    char buffer[1024];
    ssize_t n;
    while ((n = read(report[0], buffer, sizeof buffer)) > 0)
        failures.append(buffer, static_cast<size_t>(n));
    close(report[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(failures, "");
}

} // namespace
} // namespace talvine
