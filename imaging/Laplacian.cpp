#include "Laplacian.h"

#include <algorithm>

void Laplacian(TBitmap& bitmap) {
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
