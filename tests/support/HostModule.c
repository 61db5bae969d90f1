/* See HostModule.h.  Nothing here comes from the library's own code. */
#define _GNU_SOURCE
#include "HostModule.h"

#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

enum { kMaxLive = 64 };
static void* live[kMaxLive];
static int releases;

static void remember(void* block) {
    for (int i = 0; i < kMaxLive; ++i)
        if (!live[i]) {
            live[i] = block;
            return;
        }
    abort(); /* the tests keep far fewer blocks */
}

static int forget(void* block) {
    for (int i = 0; i < kMaxLive; ++i)
        if (live[i] == block) {
            live[i] = NULL;
            return 1;
        }
    return 0;
}

static void* hostAllouer(intptr_t size) {
    void* block = size > 0 ? malloc((size_t)size) : NULL;
    if (block) remember(block);
    return block;
}

static int hostLiberer(void* block) {
    if (!forget(block)) return 1; /* not ours: refuse rather than corrupt */
    free(block);
    ++releases;
    return 0;
}

static void* hostReallouer(void* block, intptr_t size) {
    if (size <= 0 || !forget(block)) return NULL;
    void* moved = realloc(block, (size_t)size);
    remember(moved ? moved : block);
    return moved;
}

static TBlocPartage* published;
static size_t pageSize;

int hostPublish(void) {
    pageSize = (size_t)sysconf(_SC_PAGESIZE);
    const uintptr_t first = (uintptr_t)0x7FFFFFFFFFFF & ~(uintptr_t)0xFFFF;
    const uint32_t pid = (uint32_t)getpid();
    for (uintptr_t i = 0; i < TALVINE_PARTAGE_ESSAIS; ++i) {
        uintptr_t candidate = first - i * TALVINE_PARTAGE_PAS;
        candidate = candidate / pageSize * pageSize;
        void* page = mmap((void*)candidate, pageSize, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (page == MAP_FAILED) continue;
        if (page != (void*)candidate) continue;
        published = page;
        published->Allouer = hostAllouer;
        published->Liberer = hostLiberer;
        published->Reallouer = hostReallouer;
        published->Signature1Bas = pid ^ TALVINE_PARTAGE_SIGNATURE1_BAS_XOR;
        published->Signature1Haut = TALVINE_PARTAGE_SIGNATURE1_HAUT;
        published->Signature2Bas = pid ^ TALVINE_PARTAGE_SIGNATURE2_BAS_XOR;
        published->Signature2Haut = TALVINE_PARTAGE_SIGNATURE2_HAUT;
        published->Compteur = 1;
        return 1;
    }
    return 0;
}

void hostUnpublish(void) {
    if (published && --published->Compteur == 0) munmap(published, pageSize);
    published = NULL;
}

const TBlocPartage* hostBlock(void) {
    return published;
}

static int32_t* headerOf(TPtsImg picture) {
    return (int32_t*)picture - 2;
}

TPtsImg hostNewPicture(int32_t length) {
    int32_t* header = hostAllouer(8 + (intptr_t)length * 3);
    if (!header) return NULL;
    header[0] = 1;
    header[1] = length;
    memset(header + 2, 0, (size_t)length * 3);
    return (TPtsImg)(header + 2);
}

void hostTakeReference(TPtsImg picture) {
    if (picture) __atomic_add_fetch(headerOf(picture), 1, __ATOMIC_SEQ_CST);
}

void hostReleaseReference(TPtsImg picture) {
    if (picture && __atomic_sub_fetch(headerOf(picture), 1, __ATOMIC_SEQ_CST) == 0)
        hostLiberer(headerOf(picture));
}

int hostOwns(TPtsImg picture) {
    for (int i = 0; i < kMaxLive; ++i)
        if (picture && live[i] == headerOf(picture)) return 1;
    return 0;
}

int hostReleases(void) {
    return releases;
}
