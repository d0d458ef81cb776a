// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>

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
