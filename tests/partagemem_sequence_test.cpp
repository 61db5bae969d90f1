// The shared memory manager's search for its block, on a simulated address
// space: the candidates it asks for, what decides the outcome, and the cases
// a real kernel will not produce on demand (a page granted elsewhere, page
// sizes that do not divide 64 KiB).
#include "core/Allocator.h"
#include "platform/PartageMem.h"
#include "talvine/talvine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace talvine {
namespace {

using platform::PageGrant;
using platform::PartageMem;

constexpr uintptr_t k64K = 0x10000;
constexpr uint32_t kPid = 4242;

// Seventeen 64 KiB slots of real memory stand for the top of the address
// space, so that a granted page can be written and a block read back.
struct Simulation {
    unsigned char* space = nullptr;
    size_t pageSize = 4096;
    uintptr_t highest = 0;
    std::map<uintptr_t, PageGrant::Outcome> answers; // Granted unless listed
    std::vector<uintptr_t> asked;
    std::vector<uintptr_t> released;
    std::string shown;
};
Simulation* gSim = nullptr;
unsigned char gElsewhere[4096];

platform::SystemInfo simInfo() {
    return {gSim->pageSize, gSim->highest};
}
uint32_t simPid() {
    return kPid;
}
PageGrant simReserve(uintptr_t address, size_t size) {
    gSim->asked.push_back(address);
    const auto answer = gSim->answers.find(address);
    const auto outcome = answer == gSim->answers.end() ? PageGrant::Granted : answer->second;
    if (outcome == PageGrant::Granted) {
        std::memset(reinterpret_cast<void*>(address), 0, size);
        return {PageGrant::Granted, reinterpret_cast<void*>(address)};
    }
    if (outcome == PageGrant::GrantedElsewhere) return {PageGrant::GrantedElsewhere, gElsewhere};
    return {PageGrant::Refused, nullptr};
}
void simRelease(void* page, size_t) {
    gSim->released.push_back(reinterpret_cast<uintptr_t>(page));
}
bool simRead(uintptr_t address, void* out, size_t size) {
    std::memcpy(out, reinterpret_cast<const void*>(address), size);
    return true;
}
bool simPin(const void*) {
    return true;
}
void simShow(const char* text, const char* caption) {
    gSim->shown += std::string(caption) + "|" + text;
}
constexpr platform::SystemServices kSim{simInfo, simPid, simReserve, simRelease,
                                        simRead, simPin, simShow};

const std::string kRelocated = "PartageMem|Shared Memory Allocator setup failed: Address was "
                               "relocated.";
const std::string kReserved = "PartageMem|Shared Memory Allocator setup failed: Address already "
                              "reserved.";

class PartageMemSearch : public ::testing::Test {
  protected:
    Simulation sim;
    AllocatorRecord own = currentAllocator();

    void SetUp() override {
        sim.space = static_cast<unsigned char*>(std::aligned_alloc(k64K, 17 * k64K));
        std::memset(sim.space, 0, 17 * k64K);
        // The top lies inside the last slot, away from its end, so that
        // clearing the low 16 bits matters.
        sim.highest = reinterpret_cast<uintptr_t>(sim.space) + 16 * k64K + 0x1234;
        gSim = &sim;
    }
    void TearDown() override {
        setCurrentAllocator(own);
        gSim = nullptr;
        std::free(sim.space);
    }
    uintptr_t top() const { return reinterpret_cast<uintptr_t>(sim.space) + 16 * k64K; }
    void refuseAll() {
        for (uintptr_t i = 0; i < 16; ++i)
            sim.answers[top() - i * k64K] = PageGrant::Refused;
    }
};

TEST_F(PartageMemSearch, AsksSixteenCandidates64KiBApartFromTheTop) {
    refuseAll();
    PartageMem manager(&kSim);
    EXPECT_FALSE(manager.start());
    std::vector<uintptr_t> expected;
    for (uintptr_t i = 0; i < 16; ++i)
        expected.push_back(top() - i * k64K);
    EXPECT_EQ(sim.asked, expected);
    EXPECT_EQ(sim.shown, kReserved);
    EXPECT_EQ(manager.role(), PartageMem::Role::Failed);
}

TEST_F(PartageMemSearch, RoundsEachCandidateDownToAPageThatDoesNotDivide64KiB) {
    sim.pageSize = 12288; // three 4 KiB pages
    for (uintptr_t i = 0; i < 16; ++i) {
        const uintptr_t c = top() - i * k64K;
        sim.answers[c - c % 12288] = PageGrant::Refused;
    }
    PartageMem manager(&kSim);
    EXPECT_FALSE(manager.start());
    ASSERT_EQ(sim.asked.size(), 16u);
    for (uintptr_t i = 0; i < 16; ++i) {
        EXPECT_EQ(sim.asked[i] % 12288, 0u);
        EXPECT_LE(sim.asked[i], top() - i * k64K);
        EXPECT_GT(sim.asked[i] + 12288, top() - i * k64K);
    }
}

TEST_F(PartageMemSearch, APageGrantedElsewhereOnTheLastAttemptMeansRelocated) {
    refuseAll();
    sim.answers[top() - 15 * k64K] = PageGrant::GrantedElsewhere;
    PartageMem manager(&kSim);
    EXPECT_FALSE(manager.start());
    EXPECT_EQ(sim.shown, kRelocated);
    EXPECT_EQ(currentAllocator().allocate, own.allocate);
    manager.stop();
    EXPECT_TRUE(sim.released.empty());
}

TEST_F(PartageMemSearch, OnlyTheLastAttemptDecidesWhichFailureIsShown) {
    refuseAll();
    sim.answers[top()] = PageGrant::GrantedElsewhere;
    PartageMem manager(&kSim);
    EXPECT_FALSE(manager.start());
    EXPECT_EQ(sim.shown, kReserved);
}

TEST_F(PartageMemSearch, AfterARelocationTheNextFreeCandidateIsPublished) {
    sim.answers[top()] = PageGrant::GrantedElsewhere;
    sim.answers[top() - k64K] = PageGrant::Refused;
    PartageMem manager(&kSim);
    ASSERT_TRUE(manager.start());
    EXPECT_EQ(manager.role(), PartageMem::Role::Publisher);
    EXPECT_EQ(manager.blockAddress(), top() - 2 * k64K);
    EXPECT_EQ(sim.shown, "");
    EXPECT_TRUE(sim.released.empty()); // the page granted elsewhere is kept
}

// A publisher, then a second module meeting it at the same address, in one
// process, leaving in either order.  The page goes only with a publisher that
// leaves last; one that leaves first leaves the block to its user.
TEST_F(PartageMemSearch, TwoModulesMeetAtOneBlockAndLeaveInEitherOrder) {
    const AllocatorRecord second{[](intptr_t) -> void* { return nullptr; }, [](void*) { return 0; },
                                 [](void*, intptr_t) -> void* { return nullptr; }};
    for (const bool userLeavesFirst : {true, false}) {
        SCOPED_TRACE(userLeavesFirst ? "user leaves first" : "publisher leaves first");
        sim.answers.clear();
        sim.released.clear();
        setCurrentAllocator(own);
        PartageMem publisher(&kSim);
        ASSERT_TRUE(publisher.start());
        const uintptr_t at = publisher.blockAddress();
        const auto& block = *reinterpret_cast<const TBlocPartage*>(at);
        EXPECT_EQ(block.Signature1Bas, kPid ^ 0x4567FEEDu);
        EXPECT_EQ(block.Signature2Bas, kPid ^ 0x3210B00Bu);

        sim.answers[at] = PageGrant::Refused; // now taken
        setCurrentAllocator(second);
        PartageMem user(&kSim);
        ASSERT_TRUE(user.start());
        EXPECT_EQ(user.role(), PartageMem::Role::User);
        EXPECT_EQ(user.blockAddress(), at);
        EXPECT_EQ(block.Compteur, 2);
        EXPECT_EQ(currentAllocator().allocate, block.Allouer);
        EXPECT_EQ(currentAllocator().release, own.release);

        if (userLeavesFirst) {
            user.stop();
            EXPECT_EQ(block.Compteur, 1);
            EXPECT_EQ(currentAllocator().allocate, second.allocate);
            publisher.stop();
            EXPECT_EQ(sim.released, std::vector<uintptr_t>{at});
        } else {
            publisher.stop();
            EXPECT_EQ(block.Compteur, 1);
            EXPECT_EQ(block.Signature2Haut, 0xF00D7654u);
            EXPECT_TRUE(sim.released.empty());
            user.stop();
            EXPECT_EQ(block.Compteur, 0);
            EXPECT_EQ(currentAllocator().allocate, second.allocate);
            EXPECT_TRUE(sim.released.empty());
        }
    }
}

} // namespace
} // namespace talvine
