// The shared memory manager on the real kernel, between this test program
// (which links the manager, like a host) and the built Talvine.so.  The block
// and the allocator record are process-wide, so every case runs in a child
// process of its own.
#include "core/Allocator.h"
#include "core/ParamCoul.h"
#include "platform/PartageMem.h"
#include "support/TestHost.h"
#include "talvine/talvine.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace talvine {
namespace {

using platform::PartageMem;
using test::Module;
using test::Recorder;

// x86-64 Linux: the top of the 47-bit user space with its low 16 bits
// cleared, then 64 KiB lower each time.
constexpr uintptr_t kFirstCandidate = 0x7FFFFFFF0000;
constexpr uintptr_t kStep = 0x10000;
constexpr int kCandidates = 16;

size_t pageSize() {
    return static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

void* mapAt(uintptr_t address, int prot) {
    void* want = reinterpret_cast<void*>(address);
    void* got =
        mmap(want, pageSize(), prot, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (got != MAP_FAILED && got != want) {
        munmap(got, pageSize());
        return nullptr;
    }
    return got == MAP_FAILED ? nullptr : got;
}

bool isFree(uintptr_t address) {
    void* page = mapAt(address, PROT_NONE);
    if (page) munmap(page, pageSize());
    return page != nullptr;
}

// The candidates that nothing occupies in this process, top down.
std::vector<uintptr_t> freeCandidates() {
    std::vector<uintptr_t> found;
    for (int i = 0; i < kCandidates; ++i)
        if (isFree(kFirstCandidate - i * kStep)) found.push_back(kFirstCandidate - i * kStep);
    return found;
}

const TBlocPartage& blockAt(uintptr_t address) {
    return *reinterpret_cast<const TBlocPartage*>(address);
}

// --- Checks inside a child process -----------------------------------------
// A failed check writes one line to the report pipe; the parent shows them.

int gReport = -1;

void fail(int line, const std::string& what) {
    const std::string text = "line " + std::to_string(line) + ": " + what + "\n";
    if (write(gReport, text.data(), text.size()) < 0) _exit(99);
}

template <typename A, typename B> void checkEq(const A& a, const B& b, const char* what, int line) {
    if (a == b) return;
    std::ostringstream out;
    out << what << " (" << std::hex << std::showbase << +a << " vs " << +b << ")";
    fail(line, out.str());
}

#define CHECK(cond)                                                                                \
    do {                                                                                           \
        if (!(cond)) fail(__LINE__, #cond);                                                        \
    } while (0)
#define CHECK_EQ(a, b) checkEq((a), (b), #a " == " #b, __LINE__)
#define CHECK_ADDR(a, b)                                                                           \
    checkEq(reinterpret_cast<uintptr_t>(a), reinterpret_cast<uintptr_t>(b), #a " == " #b, __LINE__)

struct ChildOutcome {
    bool exited = false;
    int code = -1;
    std::string failures;
    std::string stderrText;
};

std::string drain(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    close(fd);
    return text;
}

// Runs `body` in a forked child whose exit code is the body's result.  The
// child's standard error is captured.
template <typename Body> ChildOutcome inChild(Body body) {
    int report[2], err[2];
    if (pipe(report) != 0 || pipe(err) != 0) return {};
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(report[0]);
        close(err[0]);
        dup2(err[1], 2);
        gReport = report[1];
        const int code = body();
        std::fflush(stderr);
        _exit(code);
    }
    close(report[1]);
    close(err[1]);
    ChildOutcome outcome;
    outcome.failures = drain(report[0]);
    outcome.stderrText = drain(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    outcome.exited = WIFEXITED(status);
    outcome.code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return outcome;
}

#define EXPECT_CHILD_PASSES(outcome, expectedCode)                                                 \
    do {                                                                                           \
        const ChildOutcome& o_ = (outcome);                                                        \
        EXPECT_TRUE(o_.exited) << "signal " << -o_.code << "\n" << o_.stderrText;                  \
        EXPECT_EQ(o_.code, expectedCode) << o_.stderrText;                                         \
        EXPECT_EQ(o_.failures, "");                                                                \
    } while (0)

// --- An allocator that counts what goes through it ----------------------------

struct Tally {
    int allocations = 0;
    int releases = 0;
    std::set<void*> live;
};
Tally gTally;

void* tallyAllocate(intptr_t size) {
    void* block = std::malloc(static_cast<size_t>(size));
    ++gTally.allocations;
    gTally.live.insert(block);
    return block;
}
int tallyRelease(void* block) {
    ++gTally.releases;
    gTally.live.erase(block);
    std::free(block);
    return 0;
}
void* tallyReallocate(void* block, intptr_t size) {
    gTally.live.erase(block);
    void* moved = std::realloc(block, static_cast<size_t>(size));
    gTally.live.insert(moved);
    return moved;
}
constexpr AllocatorRecord kTally{tallyAllocate, tallyRelease, tallyReallocate};

// A block that this process would accept, or one forged in some other way.
TBlocPartage signedBlock(uint32_t pid, const AllocatorRecord& record, int32_t count) {
    TBlocPartage block{};
    block.Compteur = count;
    block.Signature1Bas = pid ^ 0x4567FEEDu;
    block.Signature1Haut = 0xBABE0123u;
    block.Allouer = record.allocate;
    block.Liberer = record.release;
    block.Reallouer = record.reallocate;
    block.Signature2Bas = pid ^ 0x3210B00Bu;
    block.Signature2Haut = 0xF00D7654u;
    return block;
}

uint32_t ownPid() {
    return static_cast<uint32_t>(getpid());
}

// Mirrors a 2x1 picture through the module: ab -> ba.
bool moduleMirrors(Module& module) {
    PtsImg picture(2);
    picture[0] = {{'a', 1, 2}};
    picture[1] = {{'b', 3, 4}};
    Recorder::clear();
    module.AdrRetour(&Recorder::callback, 7);
    module.XchgData(4, 0, 0, 0, 0, 2, 1, 0, 0, picture.handle(), nullptr, 0, 0);
    return picture[0].octets[0] == 'b' && picture[1].octets[0] == 'a' &&
           Recorder::calls().size() == 1 && Recorder::calls()[0].fin == 1;
}

// --- Roles ---------------------------------------------------------------------

TEST(PartageMemRoles, APublisherAloneCountsOneAndReleasesItsPageAtShutDown) {
    EXPECT_CHILD_PASSES(inChild([] {
                            const uintptr_t expected = freeCandidates().at(0);
                            const AllocatorRecord own = currentAllocator();
                            CHECK(platform::startPartageMem());
                            const PartageMem& manager = platform::modulePartageMem();
                            CHECK(manager.role() == PartageMem::Role::Publisher);
                            CHECK_EQ(manager.blockAddress(), expected);
                            const TBlocPartage& block = blockAt(expected);
                            CHECK_EQ(block.Compteur, 1);
                            CHECK_EQ(block.Signature1Bas, ownPid() ^ 0x4567FEEDu);
                            CHECK_EQ(block.Signature1Haut, 0xBABE0123u);
                            CHECK_EQ(block.Signature2Bas, ownPid() ^ 0x3210B00Bu);
                            CHECK_EQ(block.Signature2Haut, 0xF00D7654u);
                            // The process's own allocator, published with the
                            // large-page hint on top: what it hands out, the
                            // process's own release frees, and the publisher
                            // allocates through it too.
                            CHECK_ADDR(block.Liberer, own.release);
                            CHECK_ADDR(currentAllocator().allocate, block.Allouer);
                            CHECK_ADDR(currentAllocator().reallocate, block.Reallouer);
                            for (const intptr_t size : {intptr_t{16}, intptr_t{9} << 20}) {
                                auto* p = static_cast<uint8_t*>(block.Allouer(size));
                                CHECK(p != nullptr);
                                p[0] = 1;
                                p[size - 1] = 2;
                                p = static_cast<uint8_t*>(block.Reallouer(p, 2 * size));
                                CHECK(p != nullptr && p[0] == 1 && p[size - 1] == 2);
                                p[2 * size - 1] = 3;
                                CHECK_EQ(own.release(p), 0);
                            }
                            CHECK(platform::startPartageMem()); // once only
                            CHECK_EQ(block.Compteur, 1);
                            platform::stopPartageMem();
                            CHECK(isFree(expected));
                            CHECK_ADDR(currentAllocator().allocate, own.allocate);
                            return 0;
                        }),
                        0);
}

TEST(PartageMemRoles, TheModuleLoadedAfterTheHostBecomesItsUser) {
    EXPECT_CHILD_PASSES(inChild([] {
                            setCurrentAllocator(kTally);
                            CHECK(platform::startPartageMem());
                            const uintptr_t address = platform::modulePartageMem().blockAddress();
                            {
                                Module module;
                                CHECK_EQ(blockAt(address).Compteur, 2);
                                // The module's temporary copy goes through our allocator.
                                const int before = gTally.allocations;
                                CHECK(moduleMirrors(module));
                                CHECK(gTally.allocations > before);
                            }
                            CHECK_EQ(blockAt(address).Compteur, 1);
                            platform::stopPartageMem();
                            CHECK(isFree(address));
                            return 0;
                        }),
                        0);
}

TEST(PartageMemRoles, TheHostStartedAfterTheModuleBecomesItsUserAndGetsItsOwnAllocatorBack) {
    EXPECT_CHILD_PASSES(inChild([] {
                            const uintptr_t expected = freeCandidates().at(0);
                            const AllocatorRecord own = currentAllocator();
                            Module module;
                            CHECK_EQ(blockAt(expected).Compteur, 1);
                            CHECK(blockAt(expected).Allouer != own.allocate);
                            CHECK(platform::startPartageMem());
                            const PartageMem& manager = platform::modulePartageMem();
                            CHECK(manager.role() == PartageMem::Role::User);
                            CHECK_EQ(manager.blockAddress(), expected);
                            CHECK_EQ(blockAt(expected).Compteur, 2);
                            CHECK_ADDR(currentAllocator().allocate, blockAt(expected).Allouer);
                            CHECK_ADDR(currentAllocator().release, blockAt(expected).Liberer);
                            CHECK_ADDR(currentAllocator().reallocate, blockAt(expected).Reallouer);
                            platform::stopPartageMem();
                            CHECK_EQ(blockAt(expected).Compteur, 1);
                            CHECK_ADDR(currentAllocator().allocate, own.allocate);
                            CHECK_ADDR(currentAllocator().release, own.release);
                            CHECK_ADDR(currentAllocator().reallocate, own.reallocate);
                            return 0;
                        }),
                        0);
}

// --- Which blocks are valid -------------------------------------------------------

struct Forgery {
    const char* name;
    void (*spoil)(TBlocPartage&);
};

TEST(PartageMemValidity, ForgedBlocksAreSkippedAndASoundOneIsUsed) {
    const Forgery forgeries[] = {
        {"second signature, low word", [](TBlocPartage& b) { b.Signature2Bas ^= 1; }},
        {"second signature, high word", [](TBlocPartage& b) { b.Signature2Haut = 0xF00D7655u; }},
        {"first signature, low word", [](TBlocPartage& b) { b.Signature1Bas ^= 0x100; }},
        {"written for another process id",
         [](TBlocPartage& b) { b = signedBlock(ownPid() + 1, kTally, b.Compteur); }},
        {"no free entry", [](TBlocPartage& b) { b.Liberer = nullptr; }},
    };
    for (const Forgery& forgery : forgeries) {
        SCOPED_TRACE(forgery.name);
        static const Forgery* current;
        current = &forgery;
        EXPECT_CHILD_PASSES(inChild([] {
                                const std::vector<uintptr_t> free = freeCandidates();
                                auto* forged = static_cast<TBlocPartage*>(
                                    mapAt(free.at(0), PROT_READ | PROT_WRITE));
                                CHECK(forged != nullptr);
                                *forged = signedBlock(ownPid(), kTally, 5);
                                current->spoil(*forged);
                                CHECK(platform::startPartageMem());
                                const PartageMem& manager = platform::modulePartageMem();
                                CHECK(manager.role() == PartageMem::Role::Publisher);
                                CHECK_EQ(manager.blockAddress(), free.at(1));
                                CHECK_EQ(forged->Compteur, 5);
                                return 0;
                            }),
                            0);
    }
    // The same block unspoilt: we become its user.
    EXPECT_CHILD_PASSES(inChild([] {
                            const uintptr_t first = freeCandidates().at(0);
                            auto* block =
                                static_cast<TBlocPartage*>(mapAt(first, PROT_READ | PROT_WRITE));
                            CHECK(block != nullptr);
                            *block = signedBlock(ownPid(), kTally, 5);
                            CHECK(platform::startPartageMem());
                            CHECK(platform::modulePartageMem().role() == PartageMem::Role::User);
                            CHECK_EQ(block->Compteur, 6);
                            TPtImg* array = newArray(10);
                            CHECK_EQ(gTally.allocations, 1);
                            releaseReference(array);
                            CHECK_EQ(gTally.releases, 1);
                            return 0;
                        }),
                        0);
}

TEST(PartageMemValidity, AnUnreadableCandidateHoldsNoBlock) {
    EXPECT_CHILD_PASSES(inChild([] {
                            const std::vector<uintptr_t> free = freeCandidates();
                            CHECK(mapAt(free.at(0), PROT_NONE) != nullptr);
                            CHECK(platform::startPartageMem());
                            CHECK_EQ(platform::modulePartageMem().blockAddress(), free.at(1));
                            return 0;
                        }),
                        0);
}

// Both orders: the host first, then the module first.
TEST(PartageMemValidity, OccupiedCandidatesAreSkippedAlikeByBothModules) {
    for (const bool hostFirst : {true, false}) {
        SCOPED_TRACE(hostFirst ? "host first" : "module first");
        static bool first;
        first = hostFirst;
        EXPECT_CHILD_PASSES(
            inChild([] {
                const std::vector<uintptr_t> free = freeCandidates();
                CHECK(mapAt(free.at(0), PROT_NONE) != nullptr);
                auto* junk = static_cast<uint8_t*>(mapAt(free.at(1), PROT_READ | PROT_WRITE));
                CHECK(junk != nullptr);
                std::memset(junk, 0xA5, 64);
                const uintptr_t meeting = free.at(2);
                std::unique_ptr<Module> module;
                if (!first) module = std::make_unique<Module>();
                CHECK(platform::startPartageMem());
                if (first) module = std::make_unique<Module>();
                CHECK_EQ(platform::modulePartageMem().blockAddress(), meeting);
                CHECK(platform::modulePartageMem().role() ==
                      (first ? PartageMem::Role::Publisher : PartageMem::Role::User));
                CHECK_EQ(blockAt(meeting).Compteur, 2);
                CHECK(moduleMirrors(*module));
                return 0;
            }),
            0);
    }
}

// --- Set-up failures ---------------------------------------------------------------

void occupyEveryCandidate() {
    for (int i = 0; i < kCandidates; ++i)
        mapAt(kFirstCandidate - i * kStep, PROT_NONE); // already taken is as good
}

std::string gShown;
void recordMessage(const char* text, const char* caption) {
    gShown += std::string(caption) + "|" + text;
}

TEST(PartageMemFailure, NoFreeCandidateShowsAddressAlreadyReserved) {
    EXPECT_CHILD_PASSES(inChild([] {
                            occupyEveryCandidate();
                            platform::setMessageBoxHook(recordMessage);
                            const AllocatorRecord own = currentAllocator();
                            CHECK(!platform::startPartageMem());
                            CHECK(platform::modulePartageMem().role() == PartageMem::Role::Failed);
                            CHECK(gShown == "PartageMem|Shared Memory Allocator setup "
                                            "failed: Address already reserved.");
                            CHECK_ADDR(currentAllocator().allocate, own.allocate);
                            platform::stopPartageMem(); // nothing to undo
                            return 0;
                        }),
                        0);
}

TEST(PartageMemFailure, AModuleThatCannotSetUpSaysSoOnStandardErrorAndStaysInert) {
    const ChildOutcome outcome = inChild([] {
        occupyEveryCandidate();
        Module module;
        int32_t index = 0;
        CHECK(module.AddMenu(&index) == nullptr);
        CHECK_EQ(index, 0);
        int32_t major = -1;
        CHECK(module.PrmDLL(&major, nullptr, nullptr) == nullptr);
        CHECK_EQ(major, -1);
        Recorder::clear();
        module.AdrRetour(&Recorder::callback, 1);
        PtsImg picture(2);
        picture[0] = {{'a', 0, 0}};
        module.XchgData(4, 0, 0, 0, 0, 2, 1, 0, 0, picture.handle(), nullptr, 0, 0);
        CHECK(Recorder::calls().empty());
        CHECK_EQ(picture[0].octets[0], 'a');
        return 0;
    });
    EXPECT_CHILD_PASSES(outcome, 0);
    EXPECT_EQ(outcome.stderrText,
              "PartageMem: Shared Memory Allocator setup failed: Address already reserved.\n");
}

// --- Publisher leaving before its users ---------------------------------------------

TEST(PartageMemLifetime, APublisherStoppingWithAUserLeftLetsItGoOnAllocating) {
    EXPECT_CHILD_PASSES(inChild([] {
                            setCurrentAllocator(kTally);
                            CHECK(platform::startPartageMem());
                            const uintptr_t address = platform::modulePartageMem().blockAddress();
                            Module module;
                            platform::stopPartageMem();
                            // Still here, still valid, one user left.
                            CHECK_EQ(blockAt(address).Compteur, 1);
                            CHECK_EQ(blockAt(address).Signature2Haut, 0xF00D7654u);
                            const int before = gTally.allocations;
                            CHECK(moduleMirrors(module));
                            CHECK(gTally.allocations > before);
                            return 3;
                        }),
                        3);
}

TEST(PartageMemLifetime, AnUnloadedPublisherStaysMappedForItsUserAndTheProcessGoesOn) {
    EXPECT_CHILD_PASSES(inChild([] {
                            auto module = std::make_unique<Module>();
                            CHECK(platform::startPartageMem());
                            CHECK(platform::modulePartageMem().role() == PartageMem::Role::User);
                            module.reset(); // dlclose: the module's code must stay
                            void* still = dlopen(TALVINE_MODULE_PATH, RTLD_LAZY | RTLD_NOLOAD);
                            CHECK(still != nullptr);
                            // Our allocations run the unloaded module's code.
                            TPtImg* array = newArray(100);
                            setArrayLength(array, 100000);
                            CHECK_EQ(arrayLength(array), 100000);
                            releaseReference(array);
                            // exit() runs the module's shut-down as a publisher with
                            // a user left: the process must end as we say, not as 0.
                            std::exit(42);
                            return 0;
                        }),
                        42);
}

// --- Arrays across the boundary ------------------------------------------------------

TPtImg* gHostPicture = nullptr;
void dropHostPicture(const test::Call&) {
    releaseReference(gHostPicture);
}

// The VmFlags line of the mapping that holds `address` (/proc/self/smaps).
std::string vmFlagsAt(const void* address) {
    std::FILE* f = std::fopen("/proc/self/smaps", "r");
    if (!f) return {};
    const auto at = reinterpret_cast<uintptr_t>(address);
    bool inside = false;
    std::string flags;
    char line[512];
    while (std::fgets(line, sizeof line, f)) {
        unsigned long lo = 0, hi = 0;
        if (std::sscanf(line, "%lx-%lx ", &lo, &hi) == 2 &&
            std::strchr(line, '-') < std::strchr(line, ' '))
            inside = lo <= at && at < hi;
        else if (inside && std::strncmp(line, "VmFlags:", 8) == 0)
            flags = line;
    }
    std::fclose(f);
    return flags;
}

// A picture's block from the shared allocator asks for large pages (the
// mapping carries the kernel's "hg" flag); a small block is left alone.
TEST(PartageMemArrays, PictureBlocksAskForLargePages) {
    EXPECT_CHILD_PASSES(inChild([] {
                            CHECK(platform::startPartageMem());
                            PtsImg big((int64_t{24} << 20) / 3);
                            CHECK(vmFlagsAt(big.data() + big.size() / 2).find(" hg") !=
                                  std::string::npos);
                            PtsImg small(100);
                            CHECK(vmFlagsAt(small.data()).find(" hg") == std::string::npos);
                            platform::stopPartageMem();
                            return 0;
                        }),
                        0);
}

// The host gives up its picture during the callback: the library's own
// reference is the last one, and the library frees the host's block.
TEST(PartageMemArrays, AHostArrayIsFreedByTheLibraryThroughTheSharedAllocator) {
    for (const bool hostPublishes : {true, false}) {
        SCOPED_TRACE(hostPublishes ? "host publishes" : "module publishes");
        static bool publishes;
        publishes = hostPublishes;
        EXPECT_CHILD_PASSES(inChild([] {
                                std::unique_ptr<Module> module;
                                if (publishes)
                                    setCurrentAllocator(kTally);
                                else
                                    module = std::make_unique<Module>();
                                CHECK(platform::startPartageMem());
                                if (publishes) module = std::make_unique<Module>();
                                const AllocatorRecord shared = currentAllocator();
                                void* const block = shared.allocate(8 + 6);
                                CHECK(block != nullptr);
                                auto* header = static_cast<int32_t*>(block);
                                header[0] = 1;
                                header[1] = 2;
                                gHostPicture = reinterpret_cast<TPtImg*>(header + 2);
                                TPtImg* const handle = gHostPicture;
                                if (publishes) CHECK_EQ(gTally.live.count(block), 1u);
                                Recorder::setHook(dropHostPicture);
                                module->AdrRetour(&Recorder::callback, 1);
                                module->XchgData(4, 0, 0, 0, 0, 2, 1, 0, 0, handle, nullptr, 0, 0);
                                Recorder::setHook(nullptr);
                                CHECK_EQ(Recorder::calls().size(), 1u);
                                CHECK(gHostPicture == nullptr);
                                if (publishes) {
                                    CHECK_EQ(gTally.live.count(block), 0u);
                                    CHECK(gTally.releases >= 1);
                                }
                                return 0;
                            }),
                            0);
    }
}

} // namespace
} // namespace talvine
