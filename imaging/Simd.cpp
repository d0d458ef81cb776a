// SPDX-License-Identifier: GPL-3.0-or-later
#include "Simd.h"

#include <hwy/highway.h>
#include <hwy/targets.h>

#include <strings.h>
#include <cstdlib>

namespace {

SimdTarget Widest(std::int64_t targets) {
  // Without any target of its own (an arm64 processor without AES, which Highway asks of NEON),
  // the dispatch falls back to the build's baseline.
  return targets == 0 ? HWY_STATIC_TARGET : targets & -targets;
}

struct State {
  std::int64_t available;  // built in and supported, as a bit set
  SimdTarget active;
};

#if HWY_TARGETS == HWY_STATIC_TARGET
// Built for one target alone: nothing to choose, and nothing of Highway's run-time library.
void Choose(SimdTarget) {}
std::int64_t Supported() {
  return HWY_STATIC_TARGET;
}
#else
// Every target wider than `widest` is switched off; Highway's dispatch picks the widest one left,
// chosen now rather than by the first dispatch, which would ask the processor again.
void Choose(SimdTarget widest) {
  hwy::DisableTargets(widest > 0 ? widest - 1 : 0);
  hwy::GetChosenTarget().Update(hwy::SupportedTargets());
}
std::int64_t Supported() {
  return hwy::SupportedTargets();
}
#endif

State& Current() {
  static State state = [] {
    Choose(0);
    const std::int64_t available = Supported() & HWY_TARGETS;
    return State{available ? available : HWY_STATIC_TARGET, Widest(available)};
  }();
  return state;
}

}  // namespace

std::vector<SimdTarget> SimdTargets() {
  std::vector<SimdTarget> targets;
  for (std::int64_t left = Current().available; left != 0; left &= left - 1)
    targets.push_back(left & -left);
  return targets;
}

SimdTarget ActiveSimdTarget() {
  PrepareSimdDispatch();
  return Current().active;
}

SimdTarget UseSimdTarget(SimdTarget target) {
  State& state = Current();
  Choose(target);
  state.active = Widest(state.available & ~(target > 0 ? target - 1 : 0));
  return state.active;
}

const char* SimdTargetName(SimdTarget target) {
  return hwy::TargetName(target);
}

void PrepareSimdDispatch() {
  static const bool prepared = [] {
    Current();
    if (const char* wanted = std::getenv("CCDLAB_SIMD"))
      for (std::int64_t bit = 1; bit > 0; bit <<= 1)
        if (strcasecmp(wanted, hwy::TargetName(bit)) == 0 && (HWY_TARGETS & bit) != 0) {
          UseSimdTarget(bit);
          break;
        }
    return true;
  }();
  (void)prepared;
}
