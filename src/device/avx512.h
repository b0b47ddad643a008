// AVX-512 intrinsics for the host backend's vector paths; only their .cpp files include this.
#pragma once

// GCC 12's AVX-512 intrinsics start from deliberately undefined vectors, which its own
// uninitialised-value warnings then report inside the header's inline functions.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <immintrin.h>
