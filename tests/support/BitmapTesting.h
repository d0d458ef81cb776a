// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "Bitmap.h"

// Bitmaps for tests of every layer, free of any toolkit (the core's tests run on arm64 too).

// Every byte of every row that holds pixels, row after row.
inline std::vector<std::uint8_t> PixelBytes(const TBitmap& bitmap) {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < bitmap.Height(); ++i)
    bytes.insert(bytes.end(), bitmap.ScanLine(i), bitmap.ScanLine(i) + bitmap.RowBytes());
  return bytes;
}

// A bitmap holding `bytes` row after row; 8-bit ones get the grey palette.
inline TBitmap Picture(int width, int height, TPixelFormat format,
                       const std::vector<std::uint8_t>& bytes) {
  TBitmap bitmap(width, height, format);
  for (int i = 0; i < height; ++i)
    std::memcpy(bitmap.ScanLine(i), bytes.data() + i * bitmap.RowBytes(), bitmap.RowBytes());
  if (format == TPixelFormat::pf8bit)
    bitmap.SetPalette(TPalette::Grey());
  return bitmap;
}

// A bitmap whose every pixel byte is `value`.
inline TBitmap Filled(int width, int height, std::uint8_t value,
                      TPixelFormat format = TPixelFormat::pf24bit) {
  TBitmap bitmap(width, height, format);
  for (int y = 0; y < height; ++y)
    std::memset(bitmap.ScanLine(y), value, bitmap.RowBytes());
  return bitmap;
}

// A bitmap whose pixel bytes differ from their neighbours, in rows and columns alike.
inline TBitmap Patterned(int width, int height, TPixelFormat format) {
  TBitmap bitmap(width, height, format);
  for (int y = 0; y < height; ++y)
    for (std::size_t i = 0; i < bitmap.RowBytes(); ++i)
      bitmap.ScanLine(y)[i] = static_cast<std::uint8_t>((i * 31 + y * 17 + 5) % 251);
  return bitmap;
}

// Same size, depth, palette and every byte, row padding included; says where they differ.
inline ::testing::AssertionResult SameBitmaps(const TBitmap& expected, const TBitmap& actual) {
  if (expected.Width() != actual.Width() || expected.Height() != actual.Height() ||
      expected.PixelFormat() != actual.PixelFormat())
    return ::testing::AssertionFailure()
           << "expected " << expected.Width() << "x" << expected.Height() << "x"
           << static_cast<int>(expected.PixelFormat()) << ", got " << actual.Width() << "x"
           << actual.Height() << "x" << static_cast<int>(actual.PixelFormat());
  const bool expectedPalette = expected.Palette() != nullptr;
  const bool actualPalette = actual.Palette() != nullptr;
  if (expectedPalette != actualPalette ||
      (expectedPalette && !(*expected.Palette() == *actual.Palette())))
    return ::testing::AssertionFailure() << "palettes differ";
  for (int i = 0; i < expected.Height(); ++i)
    for (std::size_t j = 0; j < expected.Stride(); ++j)
      if (expected.ScanLine(i)[j] != actual.ScanLine(i)[j])
        return ::testing::AssertionFailure()
               << "row " << i << " byte " << j << ": expected " << int{expected.ScanLine(i)[j]}
               << ", got " << int{actual.ScanLine(i)[j]};
  return ::testing::AssertionSuccess();
}
