// SPDX-License-Identifier: GPL-3.0-or-later
// Bytes as a bitmap of any depth, size (0 … 64 a side), palette (none, or 0 … 256 entries) and
// pixels, through grey levels, the threshold and the edge image at every instruction-set target
// the processor has. Each result must be the very bytes the plain reference loops give.
//
// The input: depth, width, height, palette length (two bytes; 257 means none), threshold (two
// bytes), the threshold target's depth, width and height, then the palette's entries (four bytes
// each) and the pixel bytes row by row. Bytes past the end of the input read as zero.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Bitmap.h"
#include "FuzzSupport.h"
#include "Grayscale.h"
#include "Laplacian.h"
#include "Reference.h"
#include "Simd.h"
#include "Threshold.h"

namespace {

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), left_(size) {}
  std::uint8_t Byte() {
    if (left_ == 0)
      return 0;
    --left_;
    return *data_++;
  }

 private:
  const std::uint8_t* data_;
  std::size_t left_;
};

TPixelFormat Depth(std::uint8_t byte) {
  switch (byte % 3) {
    case 0:
      return TPixelFormat::pf8bit;
    case 1:
      return TPixelFormat::pf24bit;
    default:
      return TPixelFormat::pf32bit;
  }
}

bool Same(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat())
    return false;
  if ((a.Palette() == nullptr) != (b.Palette() == nullptr) ||
      (a.Palette() != nullptr && !(*a.Palette() == *b.Palette())))
    return false;
  for (int i = 0; i < a.Height() && a.RowBytes() > 0; ++i)
    if (std::memcmp(a.ScanLine(i), b.ScanLine(i), a.RowBytes()) != 0)
      return false;
  return true;
}

void Expect(bool same, const char* operation, SimdTarget target) {
  if (same)
    return;
  std::fprintf(stderr, "%s at the %s target differs from the reference\n", operation,
               SimdTargetName(target));
  std::abort();
}

TBitmap Copy(const TBitmap& bitmap) {
  TBitmap copy;
  copy.Assign(bitmap);
  return copy;
}

void CheckAtTarget(const TBitmap& source, const TBitmap& target, int threshold, SimdTarget simd) {
  TBitmap expected;
  ReferenceConvertToGrey(source, expected);
  TBitmap grey = Copy(target);  // a result that held another picture before
  ConvertToGrey(source, grey);
  Touch(grey);
  Expect(Same(grey, expected), "grey levels", simd);
  TBitmap inPlace = Copy(source);
  ConvertToGrey(inPlace, inPlace);
  Expect(Same(inPlace, expected), "grey levels in place", simd);

  TBitmap into = Copy(target);
  TBitmap intoExpected = Copy(target);
  ThresholdInto(source, into, threshold);
  ReferenceThresholdInto(source, intoExpected, threshold);
  Touch(into);
  Expect(Same(into, intoExpected), "threshold into another picture", simd);

  TBitmap binary = Copy(source);
  TBitmap binaryExpected = Copy(source);
  Threshold(binary, threshold);
  ReferenceThresholdInto(binaryExpected, binaryExpected, threshold);
  Touch(binary);
  Expect(Same(binary, binaryExpected), "threshold", simd);

  TBitmap edges = Copy(source);
  TBitmap edgesExpected = Copy(source);
  Laplacian(edges);
  ReferenceLaplacian(edgesExpected);
  Touch(edges);
  Expect(Same(edges, edgesExpected), "edges", simd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const TPixelFormat depth = Depth(in.Byte());
  const int width = in.Byte() % 65;
  const int height = in.Byte() % 65;
  const int paletteLength = (in.Byte() | in.Byte() << 8) % 258;
  const std::uint8_t low = in.Byte(), high = in.Byte();
  // Mostly 0 … 256; a set top bit gives any value, far outside the range too.
  const int threshold = high & 0x80 ? static_cast<std::int16_t>(low | high << 8) : low + (high & 1);
  const TPixelFormat targetDepth = Depth(in.Byte());
  const int targetWidth = in.Byte() % 65;
  const int targetHeight = in.Byte() % 65;

  TBitmap source(width, height, depth);
  if (paletteLength <= TPalette::MaxEntries) {
    std::vector<TPaletteEntry> entries(paletteLength);
    for (TPaletteEntry& e : entries)
      e = TPaletteEntry{in.Byte(), in.Byte(), in.Byte(), in.Byte()};
    source.SetPalette(TPalette(std::move(entries)));
  }
  for (int i = 0; i < height; ++i) {
    std::uint8_t* row = source.ScanLine(i);
    for (std::size_t j = 0; j < source.RowBytes(); ++j)
      row[j] = in.Byte();
  }
  // The target of the preview's threshold: other bytes, alpha bytes that must stay.
  TBitmap target(targetWidth, targetHeight, targetDepth);
  for (int i = 0; i < targetHeight; ++i) {
    std::uint8_t* row = target.ScanLine(i);
    for (std::size_t j = 0; j < target.RowBytes(); ++j)
      row[j] = static_cast<std::uint8_t>(i * 7 + j * 13 + 1);
  }

  const SimdTarget before = ActiveSimdTarget();
  for (SimdTarget simd : SimdTargets()) {
    UseSimdTarget(simd);
    CheckAtTarget(source, target, threshold, simd);
  }
  UseSimdTarget(before);
  return 0;
}
