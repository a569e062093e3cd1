// Whether the runtime uses the processor's vector instructions (SSE2 on x86-64). The one switch
// every vector path tests: RECORDIO_SIMD is 1 where the build allows them (CDMG_SIMD, on by
// default) and the target has them, else 0, and then no vector instruction is compiled in at all:
// each fast path then declines or takes its portable form, and the general editors serve.
#pragma once

#if !defined(CDMG_SIMD)
#define CDMG_SIMD 1
#endif

#if CDMG_SIMD && defined(__SSE2__) && defined(__x86_64__)
#define RECORDIO_SIMD 1
#include <emmintrin.h>
#else
#define RECORDIO_SIMD 0
#endif
