/* A host of its own, in its own shared object, written from the public header
 * alone: it publishes the shared allocator block as a host must before it
 * loads the library, and makes and releases pictures with its own allocator,
 * which counts what passes through it. */
#ifndef TALVINE_TEST_HOSTMODULE_H
#define TALVINE_TEST_HOSTMODULE_H

#include "talvine/talvine.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Publishes the block at the first free candidate; 0 when none was free. */
int hostPublish(void);
/* Leaves the block; the page goes when nobody else uses it. */
void hostUnpublish(void);
/* The published block, or null. */
const TBlocPartage* hostBlock(void);

/* A picture of `length` zeroed pixels with one reference, and the release of
 * one reference (the last one frees the block through the host's allocator). */
TPtsImg hostNewPicture(int32_t length);
void hostTakeReference(TPtsImg picture);
void hostReleaseReference(TPtsImg picture);

/* Whether `picture`'s block is live in the host's allocator, and how many
 * blocks that allocator has freed so far (whoever asked). */
int hostOwns(TPtsImg picture);
int hostReleases(void);

#ifdef __cplusplus
}
#endif

#endif
