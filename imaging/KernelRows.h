// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "Bitmap.h"

// A target this large does not stay in the caches anyway: writing it around them saves reading
// every line of it before it is overwritten, a third of the memory traffic.
inline constexpr std::size_t kStreamBytes = std::size_t{8} << 20;

// The rows a pixel kernel reads and writes: `height` rows of `length` units (bytes or pixels, as
// the kernel counts), `inStride` and `outStride` bytes apart.
struct KernelRows {
  const std::uint8_t* in;
  std::size_t inStride;
  std::uint8_t* out;
  std::size_t outStride;
  std::size_t length;
  int height;

  // Rows without padding in both pictures are one long row: fewer ends for the kernel to mind.
  void JoinIfUnpadded(std::size_t inUnitBytes, std::size_t outUnitBytes) {
    if (inStride == length * inUnitBytes && outStride == length * outUnitBytes) {
      length *= static_cast<std::size_t>(height);
      height = 1;
    }
  }
};

// Rows [first, last) of `source` and `target`, a bitmap of its pixel format, as bytes, joined
// where neither is padded; none where the formats differ or no byte is left.
inline std::optional<KernelRows> ByteRows(const TBitmap& source, TBitmap& target, int first,
                                          int last) {
  if (source.PixelFormat() != target.PixelFormat())
    return std::nullopt;
  last = std::min({last, source.Height(), target.Height()});
  const int width = std::min(source.Width(), target.Width());
  if (first >= last || width <= 0)
    return std::nullopt;
  KernelRows rows{source.ScanLine(first),
                  source.Stride(),
                  target.ScanLine(first),
                  target.Stride(),
                  static_cast<std::size_t>(width) * source.BytesPerPixel(),
                  last - first};
  rows.JoinIfUnpadded(1, 1);
  return rows;
}
