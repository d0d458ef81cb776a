#include "Simd.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

SimdLevel Detect() {
  __builtin_cpu_init();
  // __builtin_cpu_supports also checks that the operating system saves the wide registers.
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi"))
    return SimdLevel::Avx512;
  if (__builtin_cpu_supports("avx2"))
    return SimdLevel::Avx2;
  return SimdLevel::Baseline;
}

SimdLevel FromEnvironment(SimdLevel supported) {
  const char* wanted = std::getenv("CCDLAB_SIMD");
  if (wanted == nullptr)
    return supported;
  for (SimdLevel level : {SimdLevel::Baseline, SimdLevel::Avx2, SimdLevel::Avx512})
    if (std::strcmp(wanted, SimdLevelName(level)) == 0)
      return std::min(level, supported);
  return supported;
}

std::atomic<SimdLevel>& Active() {
  static std::atomic<SimdLevel> active{FromEnvironment(SupportedSimdLevel())};
  return active;
}

}  // namespace

SimdLevel SupportedSimdLevel() {
  static const SimdLevel supported = Detect();
  return supported;
}

SimdLevel ActiveSimdLevel() {
  return Active().load(std::memory_order_relaxed);
}

SimdLevel SetSimdLevel(SimdLevel level) {
  const SimdLevel used = std::min(level, SupportedSimdLevel());
  Active().store(used, std::memory_order_relaxed);
  return used;
}

const char* SimdLevelName(SimdLevel level) {
  switch (level) {
    case SimdLevel::Baseline:
      return "baseline";
    case SimdLevel::Avx2:
      return "avx2";
    case SimdLevel::Avx512:
      return "avx512";
  }
  return "?";
}
