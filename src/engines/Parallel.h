// A small pool of worker threads for the engines' passes.
//
// A pass is split into blocks of destination rows; each block is written by
// exactly one thread and every thread only reads the source, so the bytes do
// not depend on how many threads ran.  Workers never call the host, never
// allocate through the shared allocator and never touch the toolkit: the
// caller's thread waits until every block is done and makes the callback
// itself.
//
// The pool starts on first use with one thread per core (at most 8), or with
// TALVINE_THREADS when that is set (1 runs everything on the caller's
// thread), and is joined when the library is unloaded (on Windows, at the
// end of each pass).
#pragma once

#include <cstdint>
#include <functional>

namespace talvine::engines {

// How the blocks are dealt out.  Dynamic: each thread takes the next block
// when it is free, which evens out blocks of unequal cost.  Contiguous: each
// thread takes one run of neighbouring blocks, in order, so that what one
// block leaves in its core's cache serves the next (the tilt, whose bands
// of rows share source rows with the band below).
enum class Split { Dynamic, Contiguous };

// Calls body(begin, end) over disjoint blocks covering [0, count), at most
// `grain` items a block, and returns when all have run.  `body` must not
// throw.
void parallelFor(int64_t count, int64_t grain, const std::function<void(int64_t, int64_t)>& body,
                 Split split = Split::Dynamic);

// The number of threads a pass uses, the caller's included.
int threadCount();

// Sets the number of threads for later passes (tests compare counts); 0
// goes back to the default.
void setThreadCount(int threads);

} // namespace talvine::engines
