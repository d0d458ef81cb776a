#include "Threshold.h"

#include <algorithm>

void Threshold(TBitmap& bitmap, int threshold) {
  ThresholdInto(bitmap, bitmap, threshold);
}

void ThresholdInto(const TBitmap& source, TBitmap& target, int threshold) {
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
