// Internal to the labeling engine: whether the engine's vector code is built.
// Each vector path has a scalar twin of the same result; a build with
// RUNLABEL_NO_SIMD defined compiles the twins alone, so that they are built
// and tested too (and the engine builds where SSE2 is missing).
#pragma once

#if defined(__SSE2__) && !defined(RUNLABEL_NO_SIMD)
#define RUNLABEL_SSE2 1
#include <emmintrin.h>
#else
#define RUNLABEL_SSE2 0
#endif

// The processor picks between a build of a hot loop with the population
// count instruction and one without: x86-64's baseline lacks it, nearly
// every x86-64 processor has it.
#if defined(__x86_64__) && !defined(__POPCNT__) && !defined(RUNLABEL_NO_SIMD)
#define RUNLABEL_POPCNT_DISPATCH 1
#else
#define RUNLABEL_POPCNT_DISPATCH 0
#endif
