// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cstddef>
#include <cstdint>
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

// out[j] = pick of row[j - 1], row[j] and row[j + 1], white beyond the row's ends.
template <bool kLargest>
void AcrossRow(const Byte* row, Byte* out, std::size_t n) {
  const auto at = [&](std::size_t j) {
    const Byte left = j > 0 ? row[j - 1] : Byte{255};
    const Byte right = j + 1 < n ? row[j + 1] : Byte{255};
    out[j] = Pick<kLargest>(Pick<kLargest>(left, row[j]), right);
  };
  const hn::ScalableTag<Byte> d;
  const std::size_t lanes = hn::Lanes(d);
  if (n < lanes + 2) {
    for (std::size_t j = 0; j < n; ++j)
      at(j);
    return;
  }
  // Blocks between the first and the last byte, which have neighbours on both sides; the last
  // block overlaps the one before.
  const auto block = [&](std::size_t j) {
    const auto v = Pick<kLargest>(hn::LoadU(d, row + j - 1), hn::LoadU(d, row + j));
    hn::StoreU(Pick<kLargest>(v, hn::LoadU(d, row + j + 1)), d, out + j);
  };
  at(0);
  std::size_t j = 1;
  for (; j + lanes < n; j += lanes)
    block(j);
  if (j < n - 1)
    block(n - 1 - lanes);
  at(n - 1);
}

// out[j] = pick of a[j], b[j] and c[j], rows already picked across: the 3 x 3 neighbourhood of
// the row between them. For the outline, `centre` is that row, and may be `out`: a block written
// twice gives the same bytes again.
template <bool kLargest, bool kOutline>
void DownRows(const Byte* a, const Byte* b, const Byte* c, const Byte* centre, Byte* out,
              std::size_t n) {
  const hn::ScalableTag<Byte> d;
  const std::size_t lanes = hn::Lanes(d);
  if (n < lanes) {
    for (std::size_t j = 0; j < n; ++j) {
      const Byte v = Pick<kLargest>(Pick<kLargest>(a[j], b[j]), c[j]);
      out[j] = kOutline ? static_cast<Byte>(centre[j] | static_cast<Byte>(~v)) : v;
    }
    return;
  }
  const auto block = [&](std::size_t j) {
    auto v = Pick<kLargest>(Pick<kLargest>(hn::LoadU(d, a + j), hn::LoadU(d, b + j)),
                            hn::LoadU(d, c + j));
    if constexpr (kOutline)
      v = hn::Or(hn::LoadU(d, centre + j), hn::Not(v));
    hn::StoreU(v, d, out + j);
  };
  std::size_t j = 0;
  for (; j + lanes <= n; j += lanes)
    block(j);
  if (j < n)
    block(n - lanes);
}

// One 3 x 3 pass over rows fed one after another, each output row coming out when the row below
// its input has come in. Each input row is picked across once, into a ring of three rows, while
// it is in the cache; it is not read again but for the outline's centre.
class Pass {
 public:
  // `memory`: room for three rows of `stride` bytes; `white`: a row of 255s.
  Pass(TPass pass, std::size_t n, const Byte* white, Byte* memory, std::size_t stride)
      : pass_(pass), n_(n), white_(white) {
    for (Byte*& row : ring_) {
      row = memory;
      memory += stride;
    }
  }

  // Takes the next input row, nullptr past the last; returns whether `out` received an output.
  bool Feed(const Byte* row, Byte* out) {
    const Byte* across = white_;
    if (row != nullptr) {
      Byte* next = ring_[fed_ % 3];
      if (pass_ == TPass::Smallest)
        AcrossRow<false>(row, next, n_);
      else
        AcrossRow<true>(row, next, n_);
      across = next;
    }
    const bool first = fed_++ == 0;
    if (!first) {
      switch (pass_) {
        case TPass::Largest:
          DownRows<true, false>(above_, current_, across, centre_, out, n_);
          break;
        case TPass::Smallest:
          DownRows<false, false>(above_, current_, across, centre_, out, n_);
          break;
        case TPass::Outline:
          DownRows<true, true>(above_, current_, across, centre_, out, n_);
          break;
      }
    }
    above_ = first ? white_ : current_;
    current_ = across;
    centre_ = row;
    return !first;
  }

 private:
  TPass pass_;
  std::size_t n_;
  const Byte* white_;
  Byte* ring_[3];
  std::size_t fed_ = 0;
  const Byte* above_ = nullptr;
  const Byte* current_ = nullptr;
  const Byte* centre_ = nullptr;
};

// In place. Output row i is written once no pass needs input row i any longer: a single pass
// writes it after picking across row i + 1; two passes write the second's row i - 1 after the
// first has picked across row i + 1, its own rows kept aside.
void Morphology(const MorphologyJob& job) {
  const std::size_t n = job.width;
  const int height = job.height;
  // Rows of whole cache lines, aligned: the downward picks load them on line boundaries.
  constexpr std::size_t kLine = 64;
  const std::size_t stride = (n + kLine - 1) / kLine * kLine;
  std::vector<Byte> memory(9 * stride + kLine);
  Byte* const base =
      memory.data() + (kLine - reinterpret_cast<std::uintptr_t>(memory.data()) % kLine) % kLine;
  Byte* const white = base;
  std::fill(white, white + n, Byte{255});
  Byte* const between[2] = {base + stride, base + 2 * stride};
  Pass first(job.passes[0], n, white, base + 3 * stride, stride);
  Pass second(job.passes[1], n, white, base + 6 * stride, stride);
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
