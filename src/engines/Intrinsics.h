// The x86 intrinsics for the vector kernels.  GCC's intrinsics fill unused
// operands with deliberately uninitialised placeholders, which
// -Wuninitialized and -Wmaybe-uninitialized report once they are inlined;
// the reports point into the header, so they are silenced for it alone.
// Clang has no -Wmaybe-uninitialized and needs no silencing.
#pragma once

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#else
#include <immintrin.h>
#endif
