// SPDX-License-Identifier: GPL-3.0-or-later
// The walk along one row of a 3 x 3 filter, for every instruction-set target: a kernel file
// includes it after KernelTarget.h. The guard toggles with each target, as Highway's own do.
#if defined(CCDLAB_FILTER3X3_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef CCDLAB_FILTER3X3_INL_H_
#undef CCDLAB_FILTER3X3_INL_H_
#else
#define CCDLAB_FILTER3X3_INL_H_
#endif

#include <cstddef>

#include "Filter3x3.h"

HWY_BEFORE_NAMESPACE();
namespace kernels::HWY_NAMESPACE {

// `Filter<Bytes>` gives one byte from its nine neighbours p1 ... p9 (row by row, as ImageJ names
// them) by Pixel, and Lanes(Tag) bytes from byte j on by Block; `kEdges` false leaves the first
// and the last pixel of the row alone. Alpha bytes keep the original's.
template <int Bytes, template <int> class Filter>
void FilterRow(const FilterRows& r) {
  using F = Filter<Bytes>;
  constexpr std::size_t kColours = Bytes == 4 ? 3 : Bytes;
  const Byte* HWY_RESTRICT above = r.above;
  const Byte* HWY_RESTRICT current = r.current;
  const Byte* HWY_RESTRICT below = r.below;
  Byte* HWY_RESTRICT out = r.out;
  const std::size_t last = r.count - Bytes;
  const auto pixel = [&](std::size_t centre, std::size_t left, std::size_t right) {
    for (std::size_t c = 0; c < kColours; ++c) {
      const int p[9] = {above[left + c],   above[centre + c],   above[right + c],
                        current[left + c], current[centre + c], current[right + c],
                        below[left + c],   below[centre + c],   below[right + c]};
      out[centre + c] = F::Pixel(p);
    }
    if constexpr (Bytes == 4)
      out[centre + 3] = current[centre + 3];
  };
  if constexpr (F::kEdges) {
    if (last == 0) {
      pixel(0, 0, 0);
      return;
    }
    pixel(0, 0, Bytes);
    pixel(last, last - Bytes, last);
  }
  if (last <= Bytes)
    return;
  // Bytes [Bytes, last): every neighbour inside the row.
  const typename F::Tag d;
  const std::size_t n = hn::Lanes(d);
  if (last - Bytes < n) {
    for (std::size_t j = Bytes; j < last; j += Bytes)
      pixel(j, j - Bytes, j + Bytes);
    return;
  }
  const auto block = [&](std::size_t j) {
    auto v = F::Block(d, above + j, current + j, below + j);
    if constexpr (Bytes == 4) {
      const auto lane = hn::And(hn::Iota(d, static_cast<Byte>(j & 3)), hn::Set(d, Byte{3}));
      v = hn::IfThenElse(hn::Eq(lane, hn::Set(d, Byte{3})), hn::LoadU(d, current + j), v);
    }
    hn::StoreU(v, d, out + j);
  };
  std::size_t j = Bytes;
  for (; j + n <= last; j += n)
    block(j);
  // The last block overlaps the one before: the inputs are not the output.
  if (j < last)
    block(last - n);
}

// The nine neighbours of Lanes(d) bytes, `Bytes` bytes a pixel, widened by `load`.
#define CCDLAB_NEIGHBOURS(load)                                        \
  const auto p1 = load(a - Bytes), p2 = load(a), p3 = load(a + Bytes); \
  const auto p4 = load(c - Bytes), p5 = load(c), p6 = load(c + Bytes); \
  const auto p7 = load(b - Bytes), p8 = load(b), p9 = load(b + Bytes)

}  // namespace kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // CCDLAB_FILTER3X3_INL_H_
