// SPDX-License-Identifier: GPL-3.0-or-later
// A kernel file names itself in HWY_TARGET_INCLUDE and then includes this header, which has
// Highway compile the file once for each instruction-set target (Simd.h). No include guard: the
// part below foreach_target.h must come in again for every target.
#include <hwy/foreach_target.h>  // IWYU pragma: keep
// After foreach_target.h:
#include <hwy/cache_control.h>
#include <hwy/highway.h>

#include <cstdint>

HWY_BEFORE_NAMESPACE();
namespace kernels::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
using Byte = std::uint8_t;
}  // namespace kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();
