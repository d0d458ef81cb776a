// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "Binary.h"
#include "Simd.h"
#include "TwoHalves.h"

#ifndef CCDLAB_MORPHOLOGY_SCALAR
#define CCDLAB_MORPHOLOGY_SCALAR
namespace {

// On bytes 0 and 255, eroding the black objects is the largest byte of the 3 x 3 neighbourhood
// and dilating them the smallest; outside the picture lies white, which the smallest ignores.
// The outline keeps a black pixel only where the neighbourhood's largest byte is white.
enum class TPass { Largest, Smallest, Outline };

// The output rows [first, last) of a picture of `height` rows. A band reads `count` rows beyond
// its own on either side, which another band may be overwriting: those come from copies of them
// as they were, `before` from row max(0, first - count) on and `after` from row `last` on, `width`
// bytes each, which the band writes over.
struct MorphologyJob {
  std::uint8_t* pixels;
  std::size_t stride;
  std::size_t width;
  int height;
  TPass passes[2];
  int count;  // 1 or 2 passes, run in one sweep
  int first;
  int last;
  std::uint8_t* before;
  std::uint8_t* after;
};

}  // namespace
#endif

#define HWY_TARGET_INCLUDE "Morphology.cpp"
#include "KernelTarget.h"  // IWYU pragma: keep

HWY_BEFORE_NAMESPACE();
namespace kernels::HWY_NAMESPACE {

template <bool kLargest, class V>
HWY_INLINE V Pick(V a, V b) {
  if constexpr (kLargest)
    return hn::Max(a, b);
  else
    return hn::Min(a, b);
}

template <bool kLargest>
HWY_INLINE Byte Pick(Byte a, Byte b) {
  return kLargest ? std::max(a, b) : std::min(a, b);
}

// One output row of a 3 x 3 pass, picked from the row `row` below it as it comes in. A pass keeps
// the picks across the two rows above the new one: `older` and `last`. The output is the pick of
// the three; across(row) then takes older's place, which the caller swaps with last. White lies
// beyond the row's ends. For the outline `centre` is the input row of the output, which may be
// `out`. Without kStore only the rows kept change.
template <bool kLargest, bool kOutline, bool kStore>
void Step(const Byte* row, Byte* older, const Byte* last, const Byte* centre, Byte* out,
          std::size_t n) {
  const auto at = [&](std::size_t j) {
    const Byte left = j > 0 ? row[j - 1] : Byte{255};
    const Byte right = j + 1 < n ? row[j + 1] : Byte{255};
    const Byte across = Pick<kLargest>(Pick<kLargest>(left, row[j]), right);
    const Byte v = Pick<kLargest>(Pick<kLargest>(older[j], last[j]), across);
    older[j] = across;
    if constexpr (kStore)
      out[j] = kOutline ? static_cast<Byte>(centre[j] | static_cast<Byte>(~v)) : v;
  };
  // Three of the five loads are at any byte: a vector wider than half a cache line would straddle
  // two lines every time, and measures slower.
  const hn::CappedTag<Byte, 32> d;
  const std::size_t lanes = hn::Lanes(d);
  if (n < lanes + 2) {
    for (std::size_t j = 0; j < n; ++j)
      at(j);
    return;
  }
  // Blocks between the first and the last byte, which have neighbours on both sides, stored
  // where `to` says: the output and the pick across.
  const auto block = [&](std::size_t j, Byte* to[2]) {
    const auto across =
        Pick<kLargest>(Pick<kLargest>(hn::LoadU(d, row + j - 1), hn::LoadU(d, row + j)),
                       hn::LoadU(d, row + j + 1));
    auto v =
        Pick<kLargest>(Pick<kLargest>(hn::LoadU(d, older + j), hn::LoadU(d, last + j)), across);
    if constexpr (kOutline && kStore)
      v = hn::Or(hn::LoadU(d, centre + j), hn::Not(v));
    if constexpr (kStore)
      hn::StoreU(v, d, to[0]);
    hn::StoreU(across, d, to[1]);
  };
  // The rows kept start on vector boundaries, and so do the blocks but the first and the last,
  // which overlap their neighbours: computed aside from the rows as they are now and put in place
  // at the end, they give the bytes they share the same values again.
  const std::size_t end = n - 1 - lanes;
  Byte aside[2][2][HWY_MAX_BYTES];
  const std::size_t ends[2] = {1, end};
  for (int k = 0; k < 2; ++k) {
    Byte* to[2] = {aside[k][0], aside[k][1]};
    block(ends[k], to);
  }
  at(0);
  for (std::size_t j = lanes; j < end; j += lanes) {
    // No output row where the pass only keeps its picks.
    Byte* to[2] = {kStore ? out + j : nullptr, older + j};
    block(j, to);
  }
  for (int k = 0; k < 2; ++k) {
    const std::size_t j = ends[k];
    if constexpr (kStore)
      std::copy_n(aside[k][0], lanes, out + j);
    std::copy_n(aside[k][1], lanes, older + j);
  }
  at(n - 1);
}

// One 3 x 3 pass over rows fed one after another, each output row coming out when the row below
// its input has come in. Each input row is picked across once and read again only as the
// outline's centre.
class Pass {
 public:
  // `memory`: room for two rows of `stride` bytes; `white`: a row of 255s.
  Pass(TPass pass, std::size_t n, const Byte* white, Byte* memory, std::size_t stride)
      : pass_(pass), n_(n), white_(white), older_(memory), last_(memory + stride) {
    // Above the first row lies white; older is only read before the first output.
    std::copy_n(white, n, last_);
    std::copy_n(white, n, older_);
  }

  // Takes the next input row, nullptr past the last; returns whether `out` received an output.
  bool Feed(const Byte* row, Byte* out) {
    const Byte* in = row != nullptr ? row : white_;
    const bool first = fed_++ == 0;
    switch (pass_) {
      case TPass::Largest:
        Run<true, false>(first, in, out);
        break;
      case TPass::Smallest:
        Run<false, false>(first, in, out);
        break;
      case TPass::Outline:
        Run<true, true>(first, in, out);
        break;
    }
    centre_ = row;
    return !first;
  }

 private:
  template <bool kLargest, bool kOutline>
  void Run(bool first, const Byte* in, Byte* out) {
    if (first)
      Step<kLargest, kOutline, false>(in, older_, last_, centre_, out, n_);
    else
      Step<kLargest, kOutline, true>(in, older_, last_, centre_, out, n_);
    std::swap(older_, last_);
  }

  TPass pass_;
  std::size_t n_;
  const Byte* white_;
  Byte* older_;
  Byte* last_;
  std::size_t fed_ = 0;
  const Byte* centre_ = nullptr;
};

// In place. A pass needs an input row no longer once it has picked across the row below: the
// first pass writes its output row i - 1 over input row i - 1 then, and the second takes that
// row as its input, writing its own output row i - 2 over the first's.
void Morphology(const MorphologyJob& job) {
  const std::size_t n = job.width;
  const int height = job.height;
  // Rows of whole cache lines, aligned; few enough of them for the caches' first level.
  constexpr std::size_t kLine = 64;
  const std::size_t stride = (n + kLine - 1) / kLine * kLine;
  std::vector<Byte> memory(5 * stride + kLine);
  Byte* const base =
      memory.data() + (kLine - reinterpret_cast<std::uintptr_t>(memory.data()) % kLine) % kLine;
  Byte* const white = base;
  std::fill(white, white + n, Byte{255});
  Pass first(job.passes[0], n, white, base + stride, stride);
  Pass second(job.passes[1], n, white, base + 3 * stride, stride);
  // Rows beyond the band are worked on too, so that the passes reach the band's first row with
  // what they keep worked out; their outputs, wrong where the passes took white for the rows
  // further out, go only to the copies.
  const int lo = std::max(0, job.first - job.count);
  const int hi = std::min(height, job.last + job.count);
  const auto row = [&](int i) {
    if (i < job.first)
      return job.before + static_cast<std::size_t>(i - lo) * n;
    if (i >= job.last)
      return job.after + static_cast<std::size_t>(i - job.last) * n;
    return job.pixels + static_cast<std::size_t>(i) * job.stride;
  };
  for (int i = lo; i <= hi; ++i) {
    const Byte* in = i < hi ? row(i) : nullptr;
    if (first.Feed(in, i > lo ? row(i - 1) : nullptr) && job.count == 2)
      second.Feed(row(i - 1), i > lo + 1 ? row(i - 2) : nullptr);
  }
  if (job.count == 2)
    second.Feed(nullptr, row(hi - 1));
}

}  // namespace kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE

namespace kernels {

HWY_EXPORT(Morphology);

void Morphology(const MorphologyJob& job) {
  PrepareSimdDispatch();
  HWY_DYNAMIC_DISPATCH(Morphology)(job);
}

}  // namespace kernels

namespace {

void Run(TBitmap& bitmap, TPass first, TPass second, int count) {
  if (bitmap.Empty() || bitmap.PixelFormat() != TPixelFormat::pf8bit)
    return;
  const int height = bitmap.Height();
  const std::size_t n = bitmap.RowBytes();
  // The rows within `count` of where the two bands meet: each band overwrites some that the other
  // reads.
  const int middle = height / 2;
  const int lo = std::max(0, middle - count);
  std::vector<std::uint8_t> meeting = RowsAsTheyWere(bitmap, lo, middle + count);
  InTwoHalves(height, PixelBytes(bitmap), [&](int from, int to) {
    kernels::Morphology(
        {bitmap.ScanLine(0),
         bitmap.Stride(),
         n,
         height,
         {first, second},
         count,
         from,
         to,
         from > 0 ? meeting.data() : nullptr,
         to < height ? meeting.data() + static_cast<std::size_t>(middle - lo) * n : nullptr});
  });
}

}  // namespace

void Erode(TBitmap& bitmap) {
  Run(bitmap, TPass::Largest, TPass::Largest, 1);
}

void Dilate(TBitmap& bitmap) {
  Run(bitmap, TPass::Smallest, TPass::Smallest, 1);
}

void Open(TBitmap& bitmap) {
  Run(bitmap, TPass::Largest, TPass::Smallest, 2);
}

void Close(TBitmap& bitmap) {
  Run(bitmap, TPass::Smallest, TPass::Largest, 2);
}

void Outline(TBitmap& bitmap) {
  Run(bitmap, TPass::Outline, TPass::Outline, 1);
}

#endif  // HWY_ONCE
