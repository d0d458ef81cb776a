#pragma once

// Regions of a source file compiled for a wider instruction set than the build's baseline (SSE2).
// Every function defined between CCDLAB_BEGIN_AVX2 (or CCDLAB_BEGIN_AVX512) and
// CCDLAB_END_TARGET, lambdas included, may use that set, and may only be called after the dispatch
// in Simd.h has chosen its level. Headers must be included before the first region, so that no
// inline function of theirs is compiled for the wider set. GCC 12 warns of an uninitialised value
// inside its own AVX-512 intrinsics (its bug 105593); the AVX-512 region silences that warning.
// clang-format off
#if defined(__clang__)
// clang knows no GCC target pragmas; it applies the attribute to every function of the region.
#define CCDLAB_BEGIN_AVX2 \
  _Pragma("clang attribute push(__attribute__((target(\"avx2,bmi,bmi2,popcnt,lzcnt,fma\"))), apply_to = function)")
#define CCDLAB_BEGIN_AVX512 \
  _Pragma("clang attribute push(__attribute__((target(\"avx512f,avx512bw,avx512vl,avx512vbmi,avx2,bmi,bmi2,popcnt,lzcnt,fma\"))), apply_to = function)")
#define CCDLAB_END_TARGET _Pragma("clang attribute pop")
#else
#define CCDLAB_BEGIN_AVX2 \
  _Pragma("GCC diagnostic push") \
  _Pragma("GCC push_options") \
  _Pragma("GCC target(\"avx2,bmi,bmi2,popcnt,lzcnt,fma\")")
#define CCDLAB_BEGIN_AVX512 \
  _Pragma("GCC diagnostic push") \
  _Pragma("GCC diagnostic ignored \"-Wmaybe-uninitialized\"") \
  _Pragma("GCC push_options") \
  _Pragma("GCC target(\"avx512f,avx512bw,avx512vl,avx512vbmi,avx2,bmi,bmi2,popcnt,lzcnt,fma,prefer-vector-width=512\")")
#define CCDLAB_END_TARGET _Pragma("GCC pop_options") _Pragma("GCC diagnostic pop")
#endif
// clang-format on

#define CCDLAB_INLINE inline __attribute__((always_inline))
