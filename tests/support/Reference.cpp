// SPDX-License-Identifier: GPL-3.0-or-later
#include "Reference.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

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

namespace {

// p[0 ... 8]: the neighbours of pixel (x, y), channel c, row by row; beyond the border the nearest
// edge pixel's.
using Neighbours = std::function<int(const int p[9])>;

// Without `borders` the border pixels stay as they are; with `narrow` a picture one pixel wide is
// filtered too, where ImageJ's 3 x 3 commands leave it alone.
void Reference3x3(TBitmap& bitmap, const Neighbours& filter, bool borders, bool narrow = false) {
  TBitmap snapshot;
  snapshot.Assign(bitmap);
  const int height = bitmap.Height();
  const int width = bitmap.Width();
  const int bytes = bitmap.BytesPerPixel();
  const int colours = bytes == 4 ? 3 : bytes;
  if (width == 1 && !narrow)
    return;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      if (!borders && (x == 0 || y == 0 || x == width - 1 || y == height - 1))
        continue;
      for (int c = 0; c < colours; ++c) {
        int p[9];
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            const int yy = std::clamp(y + dy, 0, height - 1);
            const int xx = std::clamp(x + dx, 0, width - 1);
            p[(dy + 1) * 3 + dx + 1] = snapshot.ScanLine(yy)[xx * bytes + c];
          }
        bitmap.ScanLine(y)[x * bytes + c] = static_cast<std::uint8_t>(filter(p));
      }
    }
}

// The bytes of the picture, width × height, with white beyond its edges.
struct Snapshot {
  int width;
  int height;
  std::vector<std::uint8_t> bytes;

  explicit Snapshot(const TBitmap& bitmap) : width(bitmap.Width()), height(bitmap.Height()) {
    for (int i = 0; i < height; ++i)
      bytes.insert(bytes.end(), bitmap.ScanLine(i), bitmap.ScanLine(i) + width);
  }
  int At(int x, int y) const {
    return x < 0 || y < 0 || x >= width || y >= height ? 255 : bytes[y * width + x];
  }
  // How many of the 8 neighbours of (x, y) hold `value`.
  int Neighbours(int x, int y, int value) const {
    int count = 0;
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx)
        count += (dx != 0 || dy != 0) && At(x + dx, y + dy) == value;
    return count;
  }
};

// A pixel of `colour` with a neighbour of the other colour takes the other colour.
void Spread(TBitmap& bitmap, int colour) {
  const Snapshot before(bitmap);
  for (int y = 0; y < before.height; ++y)
    for (int x = 0; x < before.width; ++x)
      if (before.At(x, y) == colour && before.Neighbours(x, y, 255 - colour) > 0)
        bitmap.ScanLine(y)[x] = static_cast<std::uint8_t>(255 - colour);
}

}  // namespace

void ReferenceInvert(TBitmap& bitmap) {
  const int bytes = bitmap.BytesPerPixel();
  for (int i = 0; i < bitmap.Height(); ++i)
    for (int j = 0; j < bitmap.Width(); ++j)
      for (int c = 0; c < (bytes == 4 ? 3 : bytes); ++c) {
        std::uint8_t& v = bitmap.ScanLine(i)[j * bytes + c];
        v = static_cast<std::uint8_t>(255 - v);
      }
}

void ReferenceSmooth(TBitmap& bitmap) {
  Reference3x3(
      bitmap,
      [](const int p[9]) {
        int sum = 0;
        for (int k = 0; k < 9; ++k)
          sum += p[k];
        return (sum + 4) / 9;
      },
      true);
}

void ReferenceSharpen(TBitmap& bitmap) {
  // 8-bit: rounded, every pixel; colour: truncated as Java divides, the border left alone.
  const bool grey = bitmap.BytesPerPixel() == 1;
  Reference3x3(
      bitmap,
      [grey](const int p[9]) {
        int sum = 12 * p[4];
        for (int k = 0; k < 9; ++k)
          sum -= k == 4 ? 0 : p[k];
        return std::clamp(grey ? (sum + 2) / 4 : sum / 4, 0, 255);
      },
      grey);
}

void ReferenceFindEdges(TBitmap& bitmap) {
  Reference3x3(
      bitmap,
      [](const int p[9]) {
        const int s1 = p[0] + 2 * p[1] + p[2] - p[6] - 2 * p[7] - p[8];
        const int s2 = p[0] + 2 * p[3] + p[6] - p[2] - 2 * p[5] - p[8];
        return std::min(static_cast<int>(std::sqrt(static_cast<double>(s1 * s1 + s2 * s2))), 255);
      },
      true);
}

void ReferenceMedian(TBitmap& bitmap) {
  Reference3x3(
      bitmap,
      [](const int p[9]) {
        int sorted[9];
        std::copy(p, p + 9, sorted);
        std::sort(sorted, sorted + 9);
        return sorted[4];
      },
      true, true);
}

void ReferenceErode(TBitmap& bitmap) {
  Spread(bitmap, 0);
}

void ReferenceDilate(TBitmap& bitmap) {
  // Outside white counts for nothing here: a white pixel turns black by a black neighbour alone.
  Spread(bitmap, 255);
}

void ReferenceOutline(TBitmap& bitmap) {
  const Snapshot before(bitmap);
  for (int y = 0; y < before.height; ++y)
    for (int x = 0; x < before.width; ++x)
      if (before.At(x, y) == 0 && before.Neighbours(x, y, 255) == 0)
        bitmap.ScanLine(y)[x] = 255;
}

void ReferenceFillHoles(TBitmap& bitmap) {
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  std::vector<char> reached(static_cast<std::size_t>(width) * height, 0);
  std::vector<std::pair<int, int>> queue;
  const auto visit = [&](int x, int y) {
    if (x < 0 || y < 0 || x >= width || y >= height || bitmap.ScanLine(y)[x] != 255 ||
        reached[y * width + x])
      return;
    reached[y * width + x] = 1;
    queue.emplace_back(x, y);
  };
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      if (x == 0 || y == 0 || x == width - 1 || y == height - 1)
        visit(x, y);
  while (!queue.empty()) {
    const auto [x, y] = queue.back();
    queue.pop_back();
    visit(x - 1, y);
    visit(x + 1, y);
    visit(x, y - 1);
    visit(x, y + 1);
  }
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      bitmap.ScanLine(y)[x] = reached[y * width + x] ? 255 : 0;
}

void ReferenceSkeletonize(TBitmap& bitmap) {
  // ImageJ's table: 1 removes on even passes, 2 on odd ones, 3 on both; the second table frees
  // what the first leaves stuck.
  static const int kFirst[256] = {
      0, 0, 0, 0, 0, 0, 1, 3, 0, 0, 3, 1, 1, 0, 1, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 3,
      0, 3, 3, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0,
      0, 0, 3, 0, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0,
      0, 0, 0, 0, 3, 0, 0, 0, 3, 0, 2, 0, 0, 0, 3, 1, 0, 0, 1, 3, 0, 0, 0, 0, 0, 0, 0, 1, 0,
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 3, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 1, 3, 0, 0, 1, 3, 0, 0, 0,
      0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 0, 1, 0, 0, 0, 1,
      0, 0, 0, 0, 0, 0, 0, 0, 3, 3, 0, 1, 0, 0, 0, 0, 2, 2, 0, 0, 2, 0, 0, 0};
  static const int kSecond[256] = {
      0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 2, 0,
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0,
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  // Neighbours in the order of the code's bits: top-left, top, top-right, right, bottom-right,
  // bottom, bottom-left, left.
  static const int kDx[8] = {-1, 0, 1, 1, 1, 0, -1, -1};
  static const int kDy[8] = {-1, -1, -1, 0, 1, 1, 1, 0};
  int pass = 0;
  const auto thin = [&](const int* table) {
    const Snapshot before(bitmap);
    int removed = 0;
    for (int y = 0; y < before.height; ++y)
      for (int x = 0; x < before.width; ++x) {
        if (before.At(x, y) != 0)
          continue;
        int code = 0;
        for (int k = 0; k < 8; ++k)
          code |= (before.At(x + kDx[k], y + kDy[k]) == 0) << k;
        const int rule = table[code];
        if (rule == 3 || rule == (pass % 2 == 0 ? 1 : 2)) {
          bitmap.ScanLine(y)[x] = 255;
          ++removed;
        }
      }
    ++pass;
    return removed;
  };
  for (const int* table : {kFirst, kSecond}) {
    int removed = 0;
    do {
      removed = thin(table);
      removed += thin(table);
    } while (removed > 0);
  }
}
