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
// and the last pixel of the row alone. Alpha bytes keep the original's. The rows' padding
// (FilterRows) holds the neighbours beyond the border.
template <int Bytes, template <int> class Filter>
void FilterRow(const FilterRows& r) {
  using F = Filter<Bytes>;
  constexpr std::size_t kColours = Bytes == 4 ? 3 : Bytes;
  const Byte* HWY_RESTRICT above = r.above;
  const Byte* HWY_RESTRICT current = r.current;
  const Byte* HWY_RESTRICT below = r.below;
  Byte* HWY_RESTRICT out = r.out;
  const std::size_t count = r.count;
  const typename F::Tag d;
  const std::size_t n = hn::Lanes(d);
  if (count < n) {
    for (std::size_t j = 0; j < count; j += Bytes) {
      for (std::size_t c = j; c < j + kColours; ++c) {
        const int p[9] = {above[c - Bytes],   above[c],   above[c + Bytes],
                          current[c - Bytes], current[c], current[c + Bytes],
                          below[c - Bytes],   below[c],   below[c + Bytes]};
        out[c] = F::Pixel(p);
      }
      if constexpr (Bytes == 4)
        out[j + 3] = current[j + 3];
    }
  } else {
    const auto block = [&](std::size_t j) {
      auto v = F::Block(d, above + j, current + j, below + j);
      if constexpr (Bytes == 4) {
        const auto lane = hn::And(hn::Iota(d, static_cast<Byte>(j & 3)), hn::Set(d, Byte{3}));
        v = hn::IfThenElse(hn::Eq(lane, hn::Set(d, Byte{3})), hn::LoadU(d, current + j), v);
      }
      hn::StoreU(v, d, out + j);
    };
    std::size_t j = 0;
    for (; j + n <= count; j += n)
      block(j);
    // The last block overlaps the one before: the inputs are not the output.
    if (j < count)
      block(count - n);
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

// The nine neighbours of Lanes(d) bytes, `Bytes` bytes a pixel, widened by `load`.
#define CCDLAB_NEIGHBOURS(load)                                        \
  const auto p1 = load(a - Bytes), p2 = load(a), p3 = load(a + Bytes); \
  const auto p4 = load(c - Bytes), p5 = load(c), p6 = load(c + Bytes); \
  const auto p7 = load(b - Bytes), p8 = load(b), p9 = load(b + Bytes)

// A whole vector of bytes for a filter that needs 16-bit lanes, `F::Wide(d16, p1, ..., p9)`
// giving 0 ... 255 in each: once for the even bytes, once for the odd ones, put back together by a
// shift. Byte j + 2k + s of every lane k is the low byte of a 16-bit lane loaded from j + s, or
// the high byte of one loaded from j + s - 1: a mask or a shift widens it, where a widening
// shuffle would be the slow part, and the loads for one pixel a byte are three a row, not six.
template <int Bytes, class F>
hn::VFromD<hn::ScalableTag<Byte>> WideBlock(hn::ScalableTag<Byte> d, const Byte* a, const Byte* c,
                                            const Byte* b) {
#if HWY_TARGET == HWY_SCALAR
  const int p[9] = {a[-Bytes], a[0],      a[Bytes], c[-Bytes], c[0],
                    c[Bytes],  b[-Bytes], b[0],     b[Bytes]};
  return hn::Set(d, F::Pixel(p));
#else
  const hn::Repartition<std::uint16_t, decltype(d)> d16;
  const auto mask = hn::Set(d16, 0xFF);
  const auto at = [&]<int S>(const Byte* row) {
    if constexpr (S % 2 == 0)
      return hn::And(hn::BitCast(d16, hn::LoadU(d, row + S)), mask);
    else
      return hn::ShiftRight<8>(hn::BitCast(d16, hn::LoadU(d, row + S - 1)));
  };
  const auto wide = [&]<int S>() {
    return F::Wide(d16, at.template operator()<S - Bytes>(a), at.template operator()<S>(a),
                   at.template operator()<S + Bytes>(a), at.template operator()<S - Bytes>(c),
                   at.template operator()<S>(c), at.template operator()<S + Bytes>(c),
                   at.template operator()<S - Bytes>(b), at.template operator()<S>(b),
                   at.template operator()<S + Bytes>(b));
  };
  const auto even = wide.template operator()<0>();
  const auto odd = wide.template operator()<1>();
  return hn::BitCast(d, hn::Or(even, hn::ShiftLeft<8>(odd)));
#endif
}

}  // namespace kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // CCDLAB_FILTER3X3_INL_H_
