#pragma once

// Instruction-set levels the pixel kernels are built for. Every kernel has a version for each
// level; the widest one the processor supports is used unless a narrower one is asked for.
enum class SimdLevel {
  Baseline = 0,  // SSE2, present on every x86-64 processor
  Avx2 = 1,      // AVX2
  Avx512 = 2,    // AVX-512 F, BW, VL and VBMI
};

// The widest level this processor (and its operating system) supports.
SimdLevel SupportedSimdLevel();

// The level the kernels use now: the supported one, or the one the environment variable
// CCDLAB_SIMD (baseline, avx2, avx512) asks for if that is narrower.
SimdLevel ActiveSimdLevel();

// Makes the kernels use `level`, or the supported level if `level` is wider. Returns the level in
// use. For tests and benchmarks; not meant to be changed while a kernel runs on another thread.
SimdLevel SetSimdLevel(SimdLevel level);

const char* SimdLevelName(SimdLevel level);
