#include "platform/PartageMem.h"

#include "platform/LargePages.h"
#include "talvine/talvine.h"

#include <atomic>
#include <cstddef>

namespace talvine::platform {
namespace {

static_assert(offsetof(TBlocPartage, Allouer) == 16);
static_assert(offsetof(TBlocPartage, Liberer) == 16 + sizeof(void*));
static_assert(offsetof(TBlocPartage, Reallouer) == 16 + 2 * sizeof(void*));
static_assert(offsetof(TBlocPartage, Signature2Bas) == 16 + 4 * sizeof(void*));
static_assert(offsetof(TBlocPartage, Signature2Haut) == 20 + 4 * sizeof(void*));

constinit PartageMem gModule{&kSystemServices};

// The count is only changed while the system loads or unloads a module, one
// at a time; atomic anyway, since it costs nothing there.
std::atomic_ref<int32_t> countAt(uintptr_t address) {
    return std::atomic_ref<int32_t>(reinterpret_cast<TBlocPartage*>(address)->Compteur);
}

// The published allocator: the process's own, with the large-page hint on
// every block it hands out (platform/LargePages.h).  Plain storage, set
// once by the publisher before the block is signed.
AllocatorRecord gPublished{};

void* publishedAllocate(intptr_t size) {
    void* block = gPublished.allocate(size);
    if (block) adviseLargePages(block, static_cast<size_t>(size));
    return block;
}

void* publishedReallocate(void* block, intptr_t size) {
    void* moved = gPublished.reallocate(block, size);
    if (moved) adviseLargePages(moved, static_cast<size_t>(size));
    return moved;
}

} // namespace

PartageMem& modulePartageMem() {
    return gModule;
}

bool PartageMem::holdsValidBlock(uintptr_t address, TBlocPartage& copy) const {
    // The candidate belongs to someone else and may not be readable: copy it
    // through the safe read, then look at the copy only.
    if (!services_->readMemory(address, &copy, sizeof copy)) return false;
    const uint32_t pid = services_->processId();
    const bool matches = copy.Signature1Haut == TALVINE_PARTAGE_SIGNATURE1_HAUT &&
                         copy.Signature1Bas == (pid ^ TALVINE_PARTAGE_SIGNATURE1_BAS_XOR) &&
                         copy.Signature2Haut == TALVINE_PARTAGE_SIGNATURE2_HAUT &&
                         copy.Signature2Bas == (pid ^ TALVINE_PARTAGE_SIGNATURE2_BAS_XOR);
    // A block without all three entries could only make us call address 0.
    return matches && copy.Allouer && copy.Liberer && copy.Reallouer;
}

// Once stopped, a manager may start again (the library started afresh), and
// looks for its place as it did the first time.
bool PartageMem::start() {
    if (role_ == Role::Publisher || role_ == Role::User) return true;
    if (role_ == Role::Failed) return false;

    const SystemInfo info = services_->systemInfo();
    pageSize_ = info.pageSize;
    highestAddress_ = info.highestAddress;
    if (pageSize_ == 0) {
        role_ = Role::Failed;
        return false;
    }

    const uintptr_t first = highestAddress_ & ~uintptr_t{0xFFFF};
    PageGrant last{PageGrant::Refused, nullptr};
    TBlocPartage found{};
    bool valid = false;
    for (uintptr_t i = 0; i < TALVINE_PARTAGE_ESSAIS; ++i) {
        uintptr_t candidate = first - i * TALVINE_PARTAGE_PAS;
        candidate = candidate / pageSize_ * pageSize_;
        blockAddress_ = candidate;
        last = services_->reservePage(candidate, pageSize_);
        if (last.outcome == PageGrant::Granted) break;
        // A page granted elsewhere is kept: asking again for the next
        // candidate must not be handed the same place.
        if (last.outcome == PageGrant::Refused && holdsValidBlock(candidate, found)) {
            valid = true;
            break;
        }
    }

    if (last.outcome == PageGrant::Granted) {
        publish(blockAddress_);
        return true;
    }
    if (valid) {
        use(blockAddress_, found);
        return true;
    }
    role_ = Role::Failed;
    services_->showMessage(last.outcome == PageGrant::GrantedElsewhere
                               ? "Shared Memory Allocator setup failed: Address was relocated."
                               : "Shared Memory Allocator setup failed: Address already reserved.",
                           "PartageMem");
    return false;
}

void PartageMem::publish(uintptr_t address) {
    ownPage_ = reinterpret_cast<void*>(address);
    auto* block = static_cast<TBlocPartage*>(ownPage_);
    const AllocatorRecord own = currentAllocator();
    const uint32_t pid = services_->processId();
    gPublished = own;
    block->Allouer = publishedAllocate;
    block->Liberer = own.release;
    block->Reallouer = publishedReallocate;
    block->Signature1Bas = pid ^ TALVINE_PARTAGE_SIGNATURE1_BAS_XOR;
    block->Signature1Haut = TALVINE_PARTAGE_SIGNATURE1_HAUT;
    block->Signature2Bas = pid ^ TALVINE_PARTAGE_SIGNATURE2_BAS_XOR;
    block->Signature2Haut = TALVINE_PARTAGE_SIGNATURE2_HAUT;
    countAt(address).store(1);
    // The publisher allocates through the published record too.
    saved_ = own;
    setCurrentAllocator(AllocatorRecord{publishedAllocate, own.release, publishedReallocate});
    role_ = Role::Publisher;
}

void PartageMem::use(uintptr_t address, const TBlocPartage& block) {
    // The publisher may be a module that is unloaded before we are done with
    // its allocator: keep its code mapped for the rest of the process.  The
    // main program needs nothing; code found in no module cannot be pinned,
    // and we use it all the same, as every module of the process must.
    services_->pinModuleOf(reinterpret_cast<const void*>(block.Allouer));
    saved_ = currentAllocator();
    setCurrentAllocator(AllocatorRecord{block.Allouer, block.Liberer, block.Reallouer});
    countAt(address).fetch_add(1);
    role_ = Role::User;
}

void PartageMem::stop() {
    if (role_ != Role::Publisher && role_ != Role::User) return;
    const int32_t left = countAt(blockAddress_).fetch_sub(1) - 1;
    setCurrentAllocator(saved_);
    if (role_ == Role::Publisher && left <= 0) {
        services_->releasePage(ownPage_, pageSize_);
        ownPage_ = nullptr;
    }
    // A publisher with users left leaves the block and its record in place:
    // they keep allocating through it, and its code stays loaded (they pinned
    // it when they started).
    role_ = Role::Stopped;
}

} // namespace talvine::platform
