// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <vector>

// The instruction-set targets the pixel kernels are built for, numbered and named as Highway
// numbers and names them (SSSE3, SSE4, AVX2, AVX3, AVX3_DL on x86-64; NEON, SVE, SVE2, SVE_256,
// SVE2_128 on arm64; SCALAR, the plain fallback). A lower number is a wider target. The widest
// target the processor supports is used unless a narrower one is asked for, by UseSimdTarget or
// by the environment variable CCDLAB_SIMD (a target's name) at start-up.
using SimdTarget = std::int64_t;

// The targets built in that this processor runs, widest first.
std::vector<SimdTarget> SimdTargets();

// The target the kernels use now.
SimdTarget ActiveSimdTarget();

// Makes the kernels use `target`, or the widest available one narrower than it when this
// processor lacks it. Returns the target in use. For tests and benchmarks; not meant to be
// changed while a kernel runs on another thread.
SimdTarget UseSimdTarget(SimdTarget target);

const char* SimdTargetName(SimdTarget target);

// Applies CCDLAB_SIMD once; every kernel calls it before it first dispatches.
void PrepareSimdDispatch();
