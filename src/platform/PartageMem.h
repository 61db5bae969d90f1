// PartageMem: one allocator for every module of the process.
//
// Pixel arrays cross the host boundary in both directions (the library
// releases arrays that the host made; the host keeps and frees the array that
// a resize made), so every module must allocate through the same allocator.
// The first module to start publishes its allocator record in a one-page
// block (TBlocPartage, laid out in talvine/talvine.h) at the first free
// candidate address; every module that starts later is refused that page,
// finds the valid block there, and makes the block's record its current
// allocator until it shuts down.
//
// A module that becomes a user keeps the publisher's code loaded for the rest
// of the process, and a publisher that shuts down while users remain leaves
// the block in place: the published entries stay callable as long as anyone
// may call them, and the process goes on.
//
// Every module that links this code has its own manager (its own state and
// its own allocator record).  Talvine.so starts its manager as the second
// step of its start-up.  A host starts its own before it loads the module, so
// that it is the publisher and the module its user:
//
//     if (!talvine::platform::startPartageMem()) return failure; // message shown
//     void* module = dlopen("Talvine.so", RTLD_NOW | RTLD_LOCAL);
//     ... run commands ...
//     dlclose(module);
//     talvine::platform::stopPartageMem(); // last
#pragma once

#include "core/Allocator.h"
#include "platform/SystemServices.h"
#include "talvine/talvine.h"

#include <cstddef>
#include <cstdint>

namespace talvine::platform {

class PartageMem {
  public:
    enum class Role {
        NotStarted,
        Publisher, // this module's allocator is the one in the block
        User,      // this module allocates through another module's allocator
        Failed,    // no block could be published or found (message shown)
        Stopped,
    };

    constexpr explicit PartageMem(const SystemServices* services) : services_(services) {}

    // Publishes this module's current allocator record or starts using a
    // published one.  Runs once; later calls only tell whether the manager
    // is running (publisher or user).  False
    // (with one of the two set-up failure messages shown) when no candidate
    // address could be published or used.
    bool start();
    // Runs once, after a successful start: leaves the block (a user returns to
    // its saved allocator record; a publisher that nobody else uses any more
    // releases the page).
    void stop();

    Role role() const { return role_; }
    // The candidate the last start-up attempt ended on: the block's address
    // once started (0 before).
    uintptr_t blockAddress() const { return blockAddress_; }

  private:
    bool holdsValidBlock(uintptr_t address, TBlocPartage& copy) const;
    void publish(uintptr_t address);
    void use(uintptr_t address, const TBlocPartage& block);

    const SystemServices* services_;
    Role role_ = Role::NotStarted;
    size_t pageSize_ = 0;
    uintptr_t highestAddress_ = 0;
    uintptr_t blockAddress_ = 0;
    void* ownPage_ = nullptr;
    AllocatorRecord saved_{};
};

// The manager of this module (plain data: usable from load and unload hooks).
PartageMem& modulePartageMem();

// Start-up and shut-down of this module's manager on this system's services.
inline bool startPartageMem() {
    return modulePartageMem().start();
}
inline void stopPartageMem() {
    modulePartageMem().stop();
}

} // namespace talvine::platform
