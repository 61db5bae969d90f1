// The 64-bit lane moves between vector and general registers exist in 64-bit
// mode only.  The 32-bit build includes this before every source (see
// cmake/Windows.cmake) so that the engines' vector kernels compile there too,
// reading the lanes through memory.  It includes its neighbour by a path
// relative to itself, so that every target finds it, googletest included.
#pragma once

#if defined(__i386__)
#include "Intrinsics.h"

inline long long talvineLane64(__m128i v, int lane) {
    alignas(16) long long lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), v);
    return lanes[lane & 1];
}

#ifndef _mm_cvtsi128_si64
#define _mm_cvtsi128_si64(v) talvineLane64((v), 0)
#endif
#ifndef _mm_extract_epi64
#define _mm_extract_epi64(v, lane) talvineLane64((v), (lane))
#endif
#endif
