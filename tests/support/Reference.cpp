// SPDX-License-Identifier: GPL-3.0-or-later
#include "Reference.h"

#include <algorithm>

#include "Grayscale.h"

void ReferenceConvertToGrey(const TBitmap& source, TBitmap& result) {
  result.SetWidth(source.Width());
  result.SetHeight(source.Height());
  result.SetPixelFormat(TPixelFormat::pf8bit);
  result.SetPalette(TPalette::Grey());

  const int width = source.Width();
  const int bytes = source.BytesPerPixel();
  // The working entry starts as the last entry the grey palette was built with.
  TPaletteEntry working{255, 255, 255, 0};
  const bool indexed = bytes == 1 && source.Palette() != nullptr;
  for (int j = 0; j < source.Height(); ++j) {
    const std::uint8_t* in = source.ScanLine(j);
    std::uint8_t* out = result.ScanLine(j);
    for (int k = 0; k < width; ++k) {
      if (indexed) {
        source.GetPaletteEntry(in[k], working);
        out[k] = GreyLevel(working.peRed, working.peGreen, working.peBlue);
      } else if (bytes == 1) {
        out[k] = in[k];
      } else {
        const std::uint8_t* p = in + k * bytes;
        out[k] = GreyLevel(p[2], p[1], p[0]);
      }
    }
  }
}

void ReferenceThresholdInto(const TBitmap& source, TBitmap& target, int threshold) {
  if (source.PixelFormat() != target.PixelFormat())
    return;
  const int height = std::min(source.Height(), target.Height());
  const int width = std::min(source.Width(), target.Width());
  const int bytes = source.BytesPerPixel();
  const int colours = bytes == 4 ? 3 : bytes;
  for (int i = 0; i < height; ++i) {
    const std::uint8_t* in = source.ScanLine(i);
    std::uint8_t* out = target.ScanLine(i);
    for (int j = 0; j < width; ++j)
      for (int c = 0; c < colours; ++c)
        out[j * bytes + c] = in[j * bytes + c] < threshold ? 0 : 255;
  }
}

void ReferenceLaplacian(TBitmap& bitmap) {
  TBitmap snapshot;
  snapshot.Assign(bitmap);
  const int height = bitmap.Height();
  const int width = bitmap.Width();
  const int bytes = bitmap.BytesPerPixel();
  const int colours = bytes == 4 ? 3 : bytes;
  for (int i = 0; i < height; ++i) {
    const int up = i == 0 ? height - 1 : i - 1;
    const int down = i + 1 == height ? 0 : i + 1;
    const std::uint8_t* above = snapshot.ScanLine(up);
    const std::uint8_t* current = snapshot.ScanLine(i);
    const std::uint8_t* below = snapshot.ScanLine(down);
    std::uint8_t* out = bitmap.ScanLine(i);
    for (int j = 0; j < width; ++j) {
      const int left = (j == 0 ? width - 1 : j - 1) * bytes;
      const int right = (j + 1 == width ? 0 : j + 1) * bytes;
      const int centre = j * bytes;
      for (int c = 0; c < colours; ++c) {
        const int v = 8 * current[centre + c] - above[left + c] - above[centre + c] -
                      above[right + c] - current[left + c] - current[right + c] - below[left + c] -
                      below[centre + c] - below[right + c];
        out[centre + c] = static_cast<std::uint8_t>(std::clamp(v, 0, 255));
      }
    }
  }
}
