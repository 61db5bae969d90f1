// The boundary as a hostile host sees it.  The host part is written from the
// public header alone: it publishes the shared allocator block before the
// library starts (and counts every block through it), registers a callback
// that checks every argument, and feeds sequences of AdrRetour, PrmDLL,
// AddMenu and XchgData calls with arbitrary commands, sub-modes, sizes, points
// and arrays (null, short, shared, or a resize result it kept), checking
// reference counts after each call.  The library's load and unload hooks
// (startLibrary and stopLibrary) stand for loading and unloading the module;
// an input may unload and load it again, and one input in eight ends with an
// unload, after which the library must hold no reference and no block at all.
//
// Nobody answers the dialogs here: the modal ones (7, 8) must close as a
// cancel would, the modeless ones stay open until the next opening or the
// unload.
#include "HostStreams.h"
#include "dialogs/Scripts.h"
#include "plugin/Library.h"
#include "talvine/talvine.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace {

[[noreturn]] void fail(const char* what, long long a = 0, long long b = 0);
#define CHECK(cond, ...)                                                                           \
    do {                                                                                           \
        if (!(cond)) fail(#cond __VA_OPT__(, ) __VA_ARGS__);                                       \
    } while (0)

namespace scripts = talvine::dialogs::scripts;

// The commands the header numbers; calls go a little beyond them both ways.
constexpr int32_t kFirstCommand = TALVINE_CMD_ROTATION_ANTI_HORAIRE;
constexpr int32_t kLastCommand = TALVINE_CMD_PERSPECTIVE;

talvine::fuzz::HostStreams gStreams;
// Entry point calls and loads made, told when the process ends.
unsigned long long gCalls = 0, gLoads = 0;

void fail(const char* what, long long a, long long b) {
    dprintf(gStreams.errorFd(), "boundary check failed: %s (%lld, %lld)\n", what, a, b);
    std::abort();
}

// The host's allocator: every live block and its size.
std::unordered_map<void*, intptr_t>& liveBlocks() {
    static auto* blocks = new std::unordered_map<void*, intptr_t>();
    return *blocks;
}

void* hostAllouer(intptr_t size) {
    if (size <= 0) return nullptr;
    void* block = std::malloc(static_cast<size_t>(size));
    if (block) liveBlocks()[block] = size;
    return block;
}
std::vector<void*> gReleased; // host pictures the host let go of, perhaps still held

int hostLiberer(void* block) {
    if (liveBlocks().erase(block) != 1) fail("a block freed that the allocator never gave");
    std::erase(gReleased, block);
    std::free(block);
    return 0;
}
void* hostReallouer(void* block, intptr_t size) {
    if (size <= 0 || liveBlocks().count(block) != 1) fail("a bad reallocation", size);
    void* moved = std::realloc(block, static_cast<size_t>(size));
    if (!moved) return nullptr;
    liveBlocks().erase(block);
    liveBlocks()[moved] = size;
    return moved;
}

void publish() {
    const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t first = uintptr_t{0x7FFFFFFFFFFF} & ~uintptr_t{0xFFFF};
    const auto pid = static_cast<uint32_t>(getpid());
    for (uintptr_t i = 0; i < TALVINE_PARTAGE_ESSAIS; ++i) {
        const uintptr_t candidate = (first - i * TALVINE_PARTAGE_PAS) / page * page;
        void* p = mmap(reinterpret_cast<void*>(candidate), page, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (p == MAP_FAILED) continue;
        if (p != reinterpret_cast<void*>(candidate)) {
            munmap(p, page);
            continue;
        }
        auto* b = static_cast<TBlocPartage*>(p);
        b->Allouer = hostAllouer;
        b->Liberer = hostLiberer;
        b->Reallouer = hostReallouer;
        b->Signature1Bas = pid ^ TALVINE_PARTAGE_SIGNATURE1_BAS_XOR;
        b->Signature1Haut = TALVINE_PARTAGE_SIGNATURE1_HAUT;
        b->Signature2Bas = pid ^ TALVINE_PARTAGE_SIGNATURE2_BAS_XOR;
        b->Signature2Haut = TALVINE_PARTAGE_SIGNATURE2_HAUT;
        b->Compteur = 1;
        return;
    }
    fail("no candidate address for the shared block");
}

int32_t* header(TPtsImg p) {
    return reinterpret_cast<int32_t*>(p) - 2;
}
int32_t refs(TPtsImg p) {
    return __atomic_load_n(header(p), __ATOMIC_SEQ_CST);
}
int32_t length(TPtsImg p) {
    return p ? header(p)[1] : 0;
}
bool live(TPtsImg p) {
    return liveBlocks().count(header(p)) == 1;
}

// A picture the host made, and the references the host itself holds on it.
struct Picture {
    TPtsImg handle;
    int32_t hostRefs;
};
std::vector<Picture> gPictures;

TPtsImg newPicture(int32_t len, uint8_t fill) {
    auto* h = static_cast<int32_t*>(hostAllouer(8 + intptr_t{len} * 3));
    if (!h) fail("host out of memory");
    h[0] = 1;
    h[1] = len;
    std::memset(h + 2, fill, static_cast<size_t>(len) * 3);
    return reinterpret_cast<TPtsImg>(h + 2);
}
// The host drops its references; a picture the library still holds is
// watched until it is freed.
void releaseHost(Picture& p) {
    int32_t left = 1;
    for (; p.hostRefs > 0; --p.hostRefs)
        left = __atomic_sub_fetch(header(p.handle), 1, __ATOMIC_SEQ_CST);
    if (left == 0)
        hostLiberer(header(p.handle));
    else
        gReleased.push_back(header(p.handle));
}

// What the current call may call back, and what it did.
struct Expect {
    bool inCall = false;
    int32_t context = 0;
    bool registered = false;
    int32_t cmd = 0;
    int32_t w = 0, h = 0;
    int calls = 0;
    int finals = 0;
    int32_t lastFinalX = -1, lastFinalY = -1, lastModifiee = -1;
    intptr_t lastParam = 0;
} gExpect;

// The size each modeless dialog opened on, for its later callbacks.
struct Opened {
    bool open = false;
    int32_t w = 0, h = 0;
};
Opened gOpened[kLastCommand + 1];

void TALVINE_CALL callback(int32_t ctx, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                           int32_t nature, intptr_t param, int32_t modifiee, int32_t fin) {
    Expect& e = gExpect;
    CHECK(e.inCall, nature);
    CHECK(e.registered);
    CHECK(ctx == e.context, ctx, e.context);
    CHECK((modifiee & 0xFF) == 0 || (modifiee & 0xFF) == 1, modifiee);
    CHECK(fin == 0 || fin == 1, fin);
    ++e.calls;
    switch (nature) {
    case rtImage:
        CHECK(x2 == 0 && y2 == 0, x2, y2);
        CHECK(x1 >= 0 && y1 >= 0, x1, y1);
        if (param != 0) {
            // Only the end of an applied resize hands over an array.
            CHECK(e.cmd == TALVINE_CMD_REDIMENSIONNER && fin == 1 && modifiee == 1, e.cmd, fin);
            const auto p = reinterpret_cast<TPtsImg>(param);
            CHECK(live(p));
            CHECK(refs(p) >= 1, refs(p));
            CHECK(int64_t{length(p)} == int64_t{x1} * y1, length(p), int64_t{x1} * y1);
        }
        if (fin == 1) {
            ++e.finals;
            e.lastFinalX = x1;
            e.lastFinalY = y1;
            e.lastModifiee = modifiee;
            e.lastParam = param;
            if (scripts::takesReports(e.cmd)) {
                // Never larger than the picture the dialog opened on.
                const Opened& o = gOpened[e.cmd];
                CHECK(x1 <= o.w && y1 <= o.h, x1, y1);
            }
        }
        break;
    case rtSaisie:
        CHECK(x2 == 0 && y2 == 0 && modifiee == 0 && fin == 0);
        CHECK(param == (e.cmd == TALVINE_CMD_ROGNER ? 1 : 0), param, e.cmd);
        CHECK(x1 == e.w && y1 == e.h, x1, y1);
        break;
    case rtCadre:
        CHECK(e.cmd == TALVINE_CMD_ROGNER && param == 1 && fin == 0, e.cmd, param);
        break;
    case rtFormat:
        CHECK(e.cmd == TALVINE_CMD_ROGNER && x1 == 0 && y1 == 0 && x2 == 0 && y2 == 0 &&
              modifiee == 0 && fin == 0);
        CHECK(param >= 1 && param <= 1025 && param % 256 == 1, param);
        break;
    default:
        fail("unknown kind of callback", nature);
    }
}

// Sizes: mostly small, sometimes extreme.
int32_t side(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 9)) {
    case 0:
        return 0;
    case 1:
        return INT32_MAX;
    case 2:
        return in.ConsumeIntegral<int32_t>();
    case 3:
        return -in.ConsumeIntegralInRange(1, 3);
    default:
        return in.ConsumeIntegralInRange(1, 24);
    }
}

TPtsImg pick(FuzzedDataProvider& in) {
    const size_t n = gPictures.size();
    const size_t i = in.ConsumeIntegralInRange<size_t>(0, n + 1);
    return i < n ? gPictures[i].handle : nullptr;
}

void checkReferences() {
    for (void* block : gReleased) {
        const int32_t n = __atomic_load_n(static_cast<int32_t*>(block), __ATOMIC_SEQ_CST);
        CHECK(n >= 1 && n <= 5, n);
    }
    for (const Picture& p : gPictures) {
        CHECK(live(p.handle));
        // Each of the five dialogs keeps at most one reference between calls.
        CHECK(refs(p.handle) >= p.hostRefs && refs(p.handle) <= p.hostRefs + 5, refs(p.handle),
              p.hostRefs);
    }
}

bool validPicture(TPtsImg img, int32_t w, int32_t h) {
    return w >= 0 && h >= 0 && int64_t{w} * h <= INT32_MAX && length(img) >= int64_t{w} * h;
}

void xchgData(FuzzedDataProvider& in) {
    const int32_t cmd = in.ConsumeBool()
                            ? in.ConsumeIntegralInRange(kFirstCommand, kLastCommand)
                            : in.ConsumeIntegralInRange(kFirstCommand - 2, kLastCommand + 2);
    const int32_t sousMode = in.ConsumeIntegralInRange(0, 5) < 4 ? in.ConsumeIntegralInRange(0, 1)
                                                                 : in.ConsumeIntegral<int32_t>();
    const int32_t w = side(in), h = side(in);
    const int32_t x1 = in.ConsumeIntegralInRange(-4, 30), y1 = in.ConsumeIntegralInRange(-4, 30);
    const int32_t x2 = in.ConsumeIntegralInRange(-4, 30), y2 = in.ConsumeIntegralInRange(-4, 30);
    const int32_t codeSel = in.ConsumeBool() ? 4 : in.ConsumeIntegral<int32_t>();
    const TPtsImg img = pick(in), imgHote = pick(in);

    Expect& e = gExpect;
    e.cmd = cmd;
    e.w = w;
    e.h = h;
    e.calls = e.finals = 0;
    e.inCall = true;
    ++gCalls;
    gStreams.watch("XchgData", [&] {
        XchgData(cmd, x1, y1, x2, y2, w, h, sousMode, codeSel, img, imgHote, 0, 0);
    });
    e.inCall = false;

    const bool starts = sousMode == 0 || !scripts::takesReports(cmd);
    const bool valid = validPicture(img, w, h);
    const bool turn =
        cmd == TALVINE_CMD_ROTATION_ANTI_HORAIRE || cmd == TALVINE_CMD_ROTATION_HORAIRE;
    if (cmd < kFirstCommand || cmd > kLastCommand || (starts && !valid)) {
        CHECK(e.calls == 0, e.calls, cmd);
    } else if (e.registered &&
               (turn || cmd == TALVINE_CMD_MIROIR_HORZ || cmd == TALVINE_CMD_MIROIR_VERT)) {
        CHECK(e.calls == 1 && e.finals == 1, e.calls, cmd);
        CHECK(e.lastFinalX == (turn ? h : w) && e.lastFinalY == (turn ? w : h), e.lastFinalX,
              e.lastFinalY);
        CHECK(e.lastModifiee == 1);
    } else if (cmd == TALVINE_CMD_REDIMENSIONNER) {
        // Nobody applies: the cancelled resize says nothing.
        CHECK(e.calls == 0, e.calls);
    } else if (cmd == TALVINE_CMD_DISTORSION && e.registered) {
        CHECK(e.calls == 1 && e.finals == 1, e.calls, e.finals);
        CHECK(e.lastModifiee == 0 && e.lastFinalX == w && e.lastFinalY == h);
    } else if (starts && e.registered) {
        // A modeless dialog opening: asks for picks first.
        CHECK(e.calls >= 1 && e.finals == 0, e.calls, e.finals);
        gOpened[cmd] = {true, w, h};
    } else if (!starts) {
        // A report: previews at most, never an end.
        CHECK(e.finals == 0, e.finals, cmd);
    }
    checkReferences();
}

void unload() {
    gStreams.watch("unload", [] { talvine::stopLibrary(); });
    for (Opened& o : gOpened)
        o = {};
    gExpect.registered = false;
    // The library holds nothing any more: every count is the host's own, and
    // the only blocks alive are the host's pictures.
    for (const Picture& p : gPictures)
        CHECK(refs(p.handle) == p.hostRefs, refs(p.handle), p.hostRefs);
    CHECK(gReleased.empty(), gReleased.size());
    CHECK(liveBlocks().size() == gPictures.size(), liveBlocks().size(), gPictures.size());
}

void load() {
    ++gLoads;
    bool started = false;
    gStreams.watch("load", [&] { started = talvine::startLibrary(); });
    CHECK(started);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    gStreams.start();
    std::atexit([] {
        dprintf(gStreams.errorFd(), "boundary: %llu XchgData calls, %llu loads of the library\n",
                gCalls, gLoads);
    });
    publish();
    load();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    // One input in eight ends with an unload and its checks; the others leave
    // the library as they found it running, dialogs open and all.
    const bool unloadAtEnd = in.ConsumeIntegralInRange(0, 7) == 0;
    // The host's pictures for this input: 0 to 4 of them, some shared.
    const int count = in.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < count; ++i) {
        const int32_t len = in.ConsumeIntegralInRange(0, 5) == 0
                                ? in.ConsumeIntegralInRange(0, 4)
                                : in.ConsumeIntegralInRange(1, 600);
        Picture p{newPicture(len, in.ConsumeIntegral<uint8_t>()), 1};
        if (in.ConsumeIntegralInRange(0, 3) == 0) {
            __atomic_add_fetch(header(p.handle), 1, __ATOMIC_SEQ_CST);
            p.hostRefs = 2;
        }
        gPictures.push_back(p);
    }
    if (in.ConsumeBool()) {
        gExpect.context = in.ConsumeIntegral<int32_t>();
        gExpect.registered = true;
        gStreams.watch("AdrRetour", [] { AdrRetour(&callback, gExpect.context); });
    }

    bool reloaded = false;
    for (int steps = 0; steps < 64 && in.remaining_bytes() > 0; ++steps) {
        // Mostly XchgData; an unload and load now and then.
        // (Bytes run out as zeros, and mutations favour 0 and 255: the reload
        // is an odd value, once per input at most.)
        int op = in.ConsumeIntegralInRange(0, 255);
        op = op == 0x5A && !reloaded ? 4
             : op < 16               ? 0
             : op < 28               ? 1
             : op < 40               ? 2
             : op < 48               ? 3
                                     : 5;
        switch (op) {
        case 0: {
            const bool withCallback = in.ConsumeBool();
            gExpect.context = in.ConsumeIntegral<int32_t>();
            gExpect.registered = withCallback;
            gStreams.watch("AdrRetour",
                           [&] { AdrRetour(withCallback ? &callback : nullptr, gExpect.context); });
            break;
        }
        case 1: {
            int32_t major = -1, minor = -1;
            const char* title = nullptr;
            const char* description = nullptr;
            const int nulls = in.ConsumeIntegralInRange(0, 7);
            gStreams.watch("PrmDLL", [&] {
                description = PrmDLL(nulls & 1 ? nullptr : &major, nulls & 2 ? nullptr : &minor,
                                     nulls & 4 ? nullptr : &title);
            });
            CHECK(description && std::strcmp(description, "Quilmar (Orvante)") == 0);
            if (!(nulls & 1)) CHECK(major == 4, major);
            if (!(nulls & 2)) CHECK(minor == 0, minor);
            if (!(nulls & 4)) CHECK(title && std::strcmp(title, "G\xE9om\xE9trie") == 0);
            break;
        }
        case 2: {
            int32_t index = in.ConsumeBool() ? in.ConsumeIntegralInRange(-1, 10)
                                             : in.ConsumeIntegral<int32_t>();
            const int32_t asked = index;
            const char* text = nullptr;
            gStreams.watch("AddMenu", [&] { text = AddMenu(&index); });
            if (asked == 0) {
                CHECK(index == 9 && text && std::strcmp(text, "G\xE9om\xE9trie") == 0, index);
            } else {
                CHECK(index == asked, index, asked);
                CHECK((asked >= 1 && asked <= 9) == (text != nullptr), asked);
            }
            if (in.ConsumeBool()) gStreams.watch("AddMenu", [] { (void)AddMenu(nullptr); });
            break;
        }
        case 3:
            // The host drops one of its references.
            if (!gPictures.empty()) {
                const size_t i = in.ConsumeIntegralInRange<size_t>(0, gPictures.size() - 1);
                if (gPictures[i].hostRefs == 2) {
                    __atomic_sub_fetch(header(gPictures[i].handle), 1, __ATOMIC_SEQ_CST);
                    gPictures[i].hostRefs = 1;
                }
            }
            break;
        case 4:
            unload();
            load();
            reloaded = true;
            break;
        default:
            xchgData(in);
            break;
        }
    }

    for (Picture& p : gPictures)
        releaseHost(p);
    gPictures.clear();
    checkReferences();
    if (unloadAtEnd) {
        unload();
        CHECK(liveBlocks().empty(), liveBlocks().size());
        load();
    }
    return 0;
}
