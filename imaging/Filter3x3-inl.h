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
// them) by Pixel. Over whole vectors it works in two steps: Across keeps kKept vectors' bytes
// worked out from Lanes(Tag) bytes of one row and their neighbours in it, and Down gives the
// bytes of the output from what was kept for the three rows and the bytes of the current row.
// `kEdges` false leaves the first and the last pixel of the row alone. Alpha bytes keep the
// original's.
template <int Bytes, template <int> class Filter>
void FilterRow(const FilterRows& r) {
  using F = Filter<Bytes>;
  constexpr std::size_t kColours = Bytes == 4 ? 3 : Bytes;
  const Byte* HWY_RESTRICT current = r.current;
  Byte* HWY_RESTRICT out = r.out;
  const std::size_t count = r.count;
  const typename F::Tag d;
  const std::size_t n = hn::Lanes(d);
  if (HWY_TARGET == HWY_SCALAR || count < n) {
    if (out == nullptr)
      return;
    for (std::size_t j = 0; j < count; j += Bytes) {
      for (std::size_t c = j; c < j + kColours; ++c) {
        // Signed: the left neighbour of the first pixel is the padding before the row.
        const auto i = static_cast<std::ptrdiff_t>(c);
        const int p[9] = {r.above[i - Bytes], r.above[i], r.above[i + Bytes],
                          current[i - Bytes], current[i], current[i + Bytes],
                          r.below[i - Bytes], r.below[i], r.below[i + Bytes]};
        out[c] = F::Pixel(p);
      }
      if constexpr (Bytes == 4)
        out[j + 3] = current[j + 3];
    }
  } else {
#if HWY_TARGET != HWY_SCALAR
    // Whole vectors from byte 0 on, the last overlapping the one before (the inputs are not the
    // output), each with its own kept block.
    const auto blocks = [&](auto block) {
      std::size_t j = 0;
      for (std::size_t k = 0; j + n <= count; j += n, k += F::kKept * n)
        block(j, k);
      if (j < count)
        block(count - n, (j / n) * F::kKept * n);
    };
    if (r.fresh & 1)
      blocks([&](std::size_t j, std::size_t k) { F::Across(d, current + j, r.keptCurrent + k); });
    if (r.fresh & 2)
      blocks([&](std::size_t j, std::size_t k) { F::Across(d, r.below + j, r.keptBelow + k); });
    if (out == nullptr)
      return;
    blocks([&](std::size_t j, std::size_t k) {
      auto v = F::Down(d, r.keptAbove + k, r.keptCurrent + k, r.keptBelow + k, current + j);
      if constexpr (Bytes == 4) {
        const auto lane = hn::And(hn::Iota(d, static_cast<Byte>(j & 3)), hn::Set(d, Byte{3}));
        v = hn::IfThenElse(hn::Eq(lane, hn::Set(d, Byte{3})), hn::LoadU(d, current + j), v);
      }
      hn::StoreU(v, d, out + j);
    });
#endif
  }
  if constexpr (!F::kEdges) {
    for (std::size_t c = 0; c < Bytes; ++c) {
      out[c] = current[c];
      out[count - Bytes + c] = current[count - Bytes + c];
    }
  }
}

// The same for every pixel format: one of the three instantiations by bytes per pixel.
template <template <int> class Filter>
void FilterRowOf(const FilterRows& r, int bytes) {
  if (bytes == 1)
    FilterRow<1, Filter>(r);
  else if (bytes == 3)
    FilterRow<3, Filter>(r);
  else
    FilterRow<4, Filter>(r);
}

// Byte j + 2k + S of a row for every 16-bit lane k from byte j on: the low byte of a lane loaded
// from j + S or the high byte of one loaded from j + S - 1. A mask or a shift widens it, where a
// widening shuffle would be the slow part.
template <int S, class D>
hn::VFromD<hn::Repartition<std::uint16_t, D>> Widened(D d, const Byte* row) {
  const hn::Repartition<std::uint16_t, D> d16;
  if constexpr (S % 2 == 0)
    return hn::And(hn::BitCast(d16, hn::LoadU(d, row + S)), hn::Set(d16, 0xFF));
  else
    return hn::ShiftRight<8>(hn::BitCast(d16, hn::LoadU(d, row + S - 1)));
}

// Vector `i` of a kept block, in lanes of type TFromD<D>.
template <class D>
hn::VFromD<D> LoadKept(D d, const Byte* kept, std::size_t i) {
  return hn::LoadU(d, reinterpret_cast<const hn::TFromD<D>*>(kept) + i * hn::Lanes(d));
}
template <class D>
void StoreKept(hn::VFromD<D> v, D d, Byte* kept, std::size_t i) {
  hn::StoreU(v, d, reinterpret_cast<hn::TFromD<D>*>(kept) + i * hn::Lanes(d));
}

// The bytes of `even` and `odd`, 0 ... 255 in 16-bit lanes, interleaved again.
template <class D, class V>
hn::VFromD<D> Interleaved(D d, V even, V odd) {
  return hn::BitCast(d, hn::Or(even, hn::ShiftLeft<8>(odd)));
}

// Kept for smoothing and sharpening: the sums of each byte and its neighbours across, for even
// and odd bytes.
template <int Bytes, class D>
void KeepSumsAcross(D d, const Byte* row, Byte* kept) {
  const hn::Repartition<std::uint16_t, D> d16;
  StoreKept(hn::Add(hn::Add(Widened<-Bytes>(d, row), Widened<0>(d, row)), Widened<Bytes>(d, row)),
            d16, kept, 0);
  StoreKept(
      hn::Add(hn::Add(Widened<1 - Bytes>(d, row), Widened<1>(d, row)), Widened<1 + Bytes>(d, row)),
      d16, kept, 1);
}

}  // namespace kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // CCDLAB_FILTER3X3_INL_H_
