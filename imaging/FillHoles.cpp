// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "Binary.h"

namespace {

// White reached from the border so far; neither black nor white, so a pixel is marked once.
constexpr std::uint8_t kReached = 127;

// Spreads from white pixel (x, y) over every white pixel 4-connected to it, a run of a row at a
// time: each run filled leaves one seed for each white run touching it above and below.
class BorderFill {
 public:
  explicit BorderFill(TBitmap& bitmap) : bitmap_(bitmap), width_(bitmap.Width()) {}

  void From(int x, int y) {
    if (bitmap_.ScanLine(y)[x] != 255)
      return;
    seeds_.emplace_back(x, y);
    while (!seeds_.empty()) {
      const auto [seedX, seedY] = seeds_.back();
      seeds_.pop_back();
      std::uint8_t* row = bitmap_.ScanLine(seedY);
      if (row[seedX] != 255)
        continue;
      int left = seedX;
      while (left > 0 && row[left - 1] == 255)
        --left;
      int right = seedX;
      while (right + 1 < width_ && row[right + 1] == 255)
        ++right;
      std::memset(row + left, kReached, static_cast<std::size_t>(right - left + 1));
      if (seedY > 0)
        Seed(seedY - 1, left, right);
      if (seedY + 1 < bitmap_.Height())
        Seed(seedY + 1, left, right);
    }
  }

 private:
  void Seed(int y, int left, int right) {
    const std::uint8_t* row = bitmap_.ScanLine(y);
    for (int x = left; x <= right; ++x) {
      if (row[x] != 255)
        continue;
      seeds_.emplace_back(x, y);
      while (x <= right && row[x] == 255)
        ++x;
    }
  }

  TBitmap& bitmap_;
  int width_;
  std::vector<std::pair<int, int>> seeds_;
};

}  // namespace

void FillHoles(TBitmap& bitmap) {
  if (bitmap.Empty() || bitmap.PixelFormat() != TPixelFormat::pf8bit)
    return;
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  BorderFill fill(bitmap);
  for (int y = 0; y < height; ++y) {
    fill.From(0, y);
    fill.From(width - 1, y);
  }
  for (int x = 0; x < width; ++x) {
    fill.From(x, 0);
    fill.From(x, height - 1);
  }
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < width; ++x)
      row[x] = row[x] == kReached ? 255 : 0;
  }
}
