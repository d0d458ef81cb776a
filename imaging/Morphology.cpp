// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "Binary.h"
#include "Simd.h"

#ifndef CCDLAB_MORPHOLOGY_SCALAR
#define CCDLAB_MORPHOLOGY_SCALAR
namespace {

// On bytes 0 and 255, eroding the black objects is the largest byte of the 3 x 3 neighbourhood
// and dilating them the smallest; outside the picture lies white, which the smallest ignores.
// The outline keeps a black pixel only where the neighbourhood's largest byte is white.
enum class TPass { Largest, Smallest, Outline };

struct MorphologyJob {
  std::uint8_t* pixels;
  std::size_t stride;
  std::size_t width;
  int height;
  TPass passes[2];
  int count;  // 1 or 2 passes, run in one sweep
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

// out[j] = pick(a[j], b[j]): two rows of the picture folded into one.
template <bool kLargest>
void FoldRows(const Byte* a, const Byte* b, Byte* out, std::size_t n) {
  const hn::ScalableTag<Byte> d;
  const std::size_t lanes = hn::Lanes(d);
  std::size_t j = 0;
  for (; j + lanes <= n; j += lanes)
    hn::StoreU(Pick<kLargest>(hn::LoadU(d, a + j), hn::LoadU(d, b + j)), d, out + j);
  for (; j < n; ++j)
    out[j] = Pick<kLargest>(a[j], b[j]);
}

// out[j] = pick of two folded rows a and b at j - 1, j and j + 1, which hold white at -1 and n:
// the 3 x 3 neighbourhood of the row between them. For the outline, `centre` is that row, and
// may be `out`: a block written twice gives the same bytes again.
template <bool kLargest, bool kOutline>
void SpreadRow(const Byte* a, const Byte* b, const Byte* centre, Byte* out, std::size_t n) {
  const hn::ScalableTag<Byte> d;
  const std::size_t lanes = hn::Lanes(d);
  const auto block = [&](std::size_t j) {
    const auto left = Pick<kLargest>(hn::LoadU(d, a + j - 1), hn::LoadU(d, b + j - 1));
    const auto middle = Pick<kLargest>(hn::LoadU(d, a + j), hn::LoadU(d, b + j));
    const auto right = Pick<kLargest>(hn::LoadU(d, a + j + 1), hn::LoadU(d, b + j + 1));
    auto v = Pick<kLargest>(Pick<kLargest>(left, middle), right);
    if constexpr (kOutline)
      v = hn::Or(hn::LoadU(d, centre + j), hn::Not(v));
    hn::StoreU(v, d, out + j);
  };
  if (n < lanes) {
    for (std::size_t j = 0; j < n; ++j) {
      Byte v = Pick<kLargest>(Pick<kLargest>(a[j - 1], b[j - 1]), Pick<kLargest>(a[j], b[j]));
      v = Pick<kLargest>(v, Pick<kLargest>(a[j + 1], b[j + 1]));
      out[j] = kOutline ? static_cast<Byte>(centre[j] | static_cast<Byte>(~v)) : v;
    }
    return;
  }
  std::size_t j = 0;
  for (; j + lanes <= n; j += lanes)
    block(j);
  if (j < n)
    block(n - lanes);
}

// One 3 x 3 pass over rows fed one after another, each output row coming out when the row below
// its input has come in. Rows are folded in pairs (r[i - 1], r[i]) and (r[i], r[i + 1]), so each
// input row is read twice while it is in the cache, never again.
class Pass {
 public:
  Pass(TPass pass, std::size_t n, const Byte* white, std::vector<Byte>& memory, std::size_t at)
      : pass_(pass), n_(n), white_(white) {
    for (Byte*& folded : folded_) {
      folded = memory.data() + at + 1;
      folded[-1] = folded[n] = 255;
      at += n + 2;
    }
  }

  // Takes the next input row, nullptr past the last; returns whether `out` received an output.
  bool Feed(const Byte* row, Byte* out) {
    const Byte* next = row != nullptr ? row : white_;
    if (last_ == nullptr) {
      Fold(white_, next, folded_[0]);
      last_ = next;
      return false;
    }
    Fold(last_, next, folded_[1]);
    switch (pass_) {
      case TPass::Largest:
        SpreadRow<true, false>(folded_[0], folded_[1], last_, out, n_);
        break;
      case TPass::Smallest:
        SpreadRow<false, false>(folded_[0], folded_[1], last_, out, n_);
        break;
      case TPass::Outline:
        SpreadRow<true, true>(folded_[0], folded_[1], last_, out, n_);
        break;
    }
    std::swap(folded_[0], folded_[1]);
    last_ = next;
    return true;
  }

 private:
  void Fold(const Byte* a, const Byte* b, Byte* out) const {
    if (pass_ == TPass::Smallest)
      FoldRows<false>(a, b, out, n_);
    else
      FoldRows<true>(a, b, out, n_);
  }

  TPass pass_;
  std::size_t n_;
  const Byte* white_;
  Byte* folded_[2];
  const Byte* last_ = nullptr;
};

// In place. Output row i is written once no pass needs input row i any longer: a single pass
// writes it after folding rows i and i + 1; two passes write the second's row i - 1 after the
// first has folded rows i and i + 1, its own rows kept aside in two buffers.
void Morphology(const MorphologyJob& job) {
  const std::size_t n = job.width;
  const int height = job.height;
  std::vector<Byte> memory(n + 4 * (n + 2) + 2 * n);
  Byte* const white = memory.data();
  std::fill(white, white + n, Byte{255});
  Byte* const between[2] = {memory.data() + n + 4 * (n + 2), memory.data() + 2 * n + 4 * (n + 2)};
  Pass first(job.passes[0], n, white, memory, n);
  Pass second(job.passes[1], n, white, memory, n + 2 * (n + 2));
  const auto row = [&](int i) { return job.pixels + static_cast<std::size_t>(i) * job.stride; };
  for (int i = 0; i <= height; ++i) {
    const Byte* in = i < height ? row(i) : nullptr;
    if (job.count == 1) {
      first.Feed(in, i > 0 ? row(i - 1) : nullptr);
      continue;
    }
    Byte* middle = between[i & 1];
    if (first.Feed(in, middle))
      second.Feed(middle, i > 1 ? row(i - 2) : nullptr);
  }
  if (job.count == 2)
    second.Feed(nullptr, row(height - 1));
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
  kernels::Morphology({bitmap.ScanLine(0),
                       bitmap.Stride(),
                       bitmap.RowBytes(),
                       bitmap.Height(),
                       {first, second},
                       count});
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
