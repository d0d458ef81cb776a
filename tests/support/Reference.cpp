// SPDX-License-Identifier: GPL-3.0-or-later
#include "Reference.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
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

namespace {

// The distance map's squared distances and ImageJ's arithmetic on them, in 64 bits where ImageJ
// counts in 32 (the same numbers on every picture ImageJ can hold).
struct Point {
  std::int64_t x = -1, y = -1;
  bool operator==(const Point&) const = default;
};

float Nearest(std::vector<Point>& points, Point previous, Point diagonal, std::int64_t x,
              std::int64_t y) {
  std::int64_t best = std::numeric_limits<std::int32_t>::max();
  const Point above = points[x];
  Point nearest = above;
  const auto distance = [&](Point p) { return (x - p.x) * (x - p.x) + (y - p.y) * (y - p.y); };
  if (above.x >= 0)
    best = std::min(best, distance(above));
  if (diagonal != above && diagonal.x >= 0 && distance(diagonal) < best) {
    nearest = diagonal;
    best = distance(diagonal);
  }
  if (previous != diagonal && previous.x >= 0 && distance(previous) < best) {
    nearest = previous;
    best = distance(previous);
  }
  points[x] = nearest;
  return static_cast<float>(best);
}

std::vector<float> DistanceMap(const std::vector<std::uint8_t>& in, int w, int h) {
  std::vector<float> edm(in.size(), 0.0F);
  for (std::size_t i = 0; i < in.size(); ++i)
    if (in[i] != 255)
      edm[i] = std::numeric_limits<float>::max();
  std::vector<Point> down(w), up(w);
  const auto line = [&](int y) {
    Point previous, diagonal;
    for (int x = 0; x < w; ++x) {
      const Point next = down[x];
      const std::size_t i = static_cast<std::size_t>(y) * w + x;
      if (in[i] == 255)
        down[x] = {x, y};
      else
        edm[i] = std::min(edm[i], Nearest(down, previous, diagonal, x, y));
      previous = down[x];
      diagonal = next;
    }
    previous = diagonal = Point{};
    for (int x = w - 1; x >= 0; --x) {
      const Point next = up[x];
      const std::size_t i = static_cast<std::size_t>(y) * w + x;
      if (in[i] == 255)
        up[x] = {x, y};
      else
        edm[i] = std::min(edm[i], Nearest(up, previous, diagonal, x, y));
      previous = up[x];
      diagonal = next;
    }
  };
  for (int y = 0; y < h; ++y)
    line(y);
  std::fill(down.begin(), down.end(), Point{});
  std::fill(up.begin(), up.end(), Point{});
  for (int y = h - 1; y >= 0; --y)
    line(y);
  for (float& v : edm)
    v = std::sqrt(v);
  return edm;
}

constexpr int kDx[8] = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr int kDy[8] = {-1, -1, 0, 1, 1, 1, 0, -1};
constexpr std::uint8_t kMaximum = 1, kListed = 2, kProcessed = 4, kMaxArea = 8, kEqual = 16,
                       kMaxPoint = 32, kEliminated = 64;
constexpr float kSqrt2 = 1.4142135624F;

struct Segmenter {
  int w, h;
  std::vector<float> edm;
  std::vector<std::uint8_t> types, pixels;

  bool Within(int x, int y, int d) const {
    const int x2 = x + kDx[d], y2 = y + kDy[d];
    return x2 >= 0 && x2 < w && y2 >= 0 && y2 < h;
  }
  float At(int x, int y) const { return edm[static_cast<std::size_t>(y) * w + x]; }

  float TrueHeight(int x, int y) const {
    const float v = At(x, y);
    if (x == 0 || y == 0 || x == w - 1 || y == h - 1 || v == 0)
      return v;
    float trueH = v + 0.5F * kSqrt2;
    bool ridgeOrMax = false;
    for (int d = 0; d < 4; ++d) {
      const float v1 = At(x + kDx[d], y + kDy[d]);
      const float v2 = At(x - kDx[d], y - kDy[d]);
      float hh;
      if (v >= v1 && v >= v2) {
        ridgeOrMax = true;
        hh = (v1 + v2) / 2;
      } else {
        hh = std::min(v1, v2);
      }
      hh += d % 2 == 0 ? 1.0F : kSqrt2;
      if (trueH > hh)
        trueH = hh;
    }
    return ridgeOrMax ? trueH : v;
  }

  std::vector<std::int64_t> SortedMaxima(float globalMin, float globalMax) {
    std::vector<std::int64_t> maxima;
    const float factor = static_cast<float>(2e9 / static_cast<double>(globalMax - globalMin));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const float v = At(x, y), vTrue = TrueHeight(x, y);
        if (v == globalMin)
          continue;
        bool isMax = true;
        for (int d = 0; d < 8 && isMax; ++d)
          if (Within(x, y, d) && At(x + kDx[d], y + kDy[d]) > v &&
              TrueHeight(x + kDx[d], y + kDy[d]) > vTrue)
            isMax = false;
        if (!isMax)
          continue;
        const std::int64_t p = static_cast<std::int64_t>(y) * w + x;
        types[p] = kMaximum;
        const float scaled = (vTrue - globalMin) * factor;
        const std::int64_t value = scaled >= 2147483647.0F ? 2147483647 : std::int64_t(scaled);
        maxima.push_back(value * (std::int64_t(1) << 32) + p);
      }
    std::sort(maxima.begin(), maxima.end());
    return maxima;
  }

  void MarkMaxima(const std::vector<std::int64_t>& maxima) {
    const float sortingError = 1.1F * (kSqrt2 / 2.0F);
    std::vector<std::int64_t> list(types.size());
    for (auto it = maxima.rbegin(); it != maxima.rend(); ++it) {
      std::int64_t offset0 = *it & 0xffffffff;
      if (types[offset0] & kProcessed)
        continue;
      int x0 = static_cast<int>(offset0 % w), y0 = static_cast<int>(offset0 / w);
      float v0 = TrueHeight(x0, y0);
      bool sortingErrorFound;
      do {
        list[0] = offset0;
        types[offset0] |= kEqual | kListed;
        std::size_t listLen = 1;
        sortingErrorFound = false;
        bool maxPossible = true;
        double xEqual = x0, yEqual = y0;
        int nEqual = 1;
        for (std::size_t listI = 0; listI < listLen; ++listI) {
          const int x = static_cast<int>(list[listI] % w), y = static_cast<int>(list[listI] / w);
          for (int d = 0; d < 8; ++d) {
            if (!Within(x, y, d))
              continue;
            const int x2 = x + kDx[d], y2 = y + kDy[d];
            const std::int64_t offset2 = static_cast<std::int64_t>(y2) * w + x2;
            if (types[offset2] & kListed)
              continue;
            if (edm[offset2] <= 0)
              continue;
            if (types[offset2] & kProcessed) {
              maxPossible = false;
              break;
            }
            const float v2 = TrueHeight(x2, y2);
            if (v2 > v0 + sortingError) {
              maxPossible = false;
              break;
            }
            if (v2 >= v0 - 0.5F) {
              if (v2 > v0) {
                sortingErrorFound = true;
                offset0 = offset2;
                v0 = v2;
                x0 = x2;
                y0 = y2;
              }
              list[listLen++] = offset2;
              types[offset2] |= kListed;
              if (v2 == v0) {
                types[offset2] |= kEqual;
                xEqual += x2;
                yEqual += y2;
                ++nEqual;
              }
            }
          }
        }
        if (sortingErrorFound) {
          for (std::size_t i = 0; i < listLen; ++i)
            types[list[i]] = 0;
          continue;
        }
        const std::uint8_t reset = ~(maxPossible ? kListed : (kListed | kEqual));
        xEqual /= nEqual;
        yEqual /= nEqual;
        double minDist2 = 1e20;
        std::size_t nearest = 0;
        for (std::size_t i = 0; i < listLen; ++i) {
          const std::int64_t offset = list[i];
          const int x = static_cast<int>(offset % w), y = static_cast<int>(offset / w);
          types[offset] &= reset;
          types[offset] |= kProcessed;
          if (maxPossible) {
            types[offset] |= kMaxArea;
            if (types[offset] & kEqual) {
              const double dist2 = (xEqual - x) * (xEqual - x) + (yEqual - y) * (yEqual - y);
              if (dist2 < minDist2) {
                minDist2 = dist2;
                nearest = i;
              }
            }
          }
        }
        if (maxPossible)
          types[list[nearest]] |= kMaxPoint;
      } while (sortingErrorFound);
    }
    if (maxima.empty())
      std::fill(types.begin(), types.end(), kProcessed | kMaxArea);
  }

  void Make8Bit(float globalMax) {
    const double offset = 1.0 - (globalMax - 1.0) * (1.0 / 253 / 2 - 1e-6);
    double factor = 253 / (globalMax - 1.0);
    if (factor > 1)
      factor = 1;
    pixels.assign(types.size(), 0);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
      const float raw = edm[i];
      if (raw < 0.5)
        pixels[i] = 0;
      else if (types[i] & kMaxArea)
        pixels[i] = 255;
      else {
        const double x = (raw - offset) * factor;
        const double r = std::floor(x);
        const std::int64_t v = 1 + static_cast<std::int64_t>(x - r >= 0.5 ? r + 1 : r);
        pixels[i] = static_cast<std::uint8_t>(std::clamp<std::int64_t>(v, 1, 254));
      }
    }
  }

  void CleanupMaxima(const std::vector<std::int64_t>& maxima) {
    std::vector<std::int64_t> list(types.size());
    for (auto it = maxima.rbegin(); it != maxima.rend(); ++it) {
      const std::int64_t offset0 = *it & 0xffffffff;
      if (types[offset0] & (kMaxArea | kEliminated))
        continue;
      int loLevel = pixels[offset0] + 1;
      list[0] = offset0;
      types[offset0] |= kListed;
      std::size_t listLen = 1, lastLen = 1;
      bool saddleFound = false;
      while (!saddleFound && loLevel > 0) {
        --loLevel;
        lastLen = listLen;
        for (std::size_t listI = 0; listI < listLen && !saddleFound; ++listI) {
          const int x = static_cast<int>(list[listI] % w), y = static_cast<int>(list[listI] / w);
          for (int d = 0; d < 8; ++d) {
            if (!Within(x, y, d))
              continue;
            const std::int64_t offset2 = static_cast<std::int64_t>(y + kDy[d]) * w + x + kDx[d];
            if (types[offset2] & kListed)
              continue;
            if ((types[offset2] & kMaxArea) ||
                ((types[offset2] & kEliminated) && pixels[offset2] >= loLevel)) {
              saddleFound = true;
              break;
            }
            if (pixels[offset2] >= loLevel && !(types[offset2] & kEliminated)) {
              list[listLen++] = offset2;
              types[offset2] |= kListed;
            }
          }
        }
      }
      for (std::size_t i = 0; i < listLen; ++i)
        types[list[i]] &= ~kListed;
      for (std::size_t i = 0; i < lastLen; ++i) {
        pixels[list[i]] = static_cast<std::uint8_t>(loLevel);
        types[list[i]] |= kEliminated;
      }
    }
  }

  static std::array<int, 256> FateTable() {
    std::array<int, 256> table{};
    for (int item = 0; item < 256; ++item) {
      bool isSet[8];
      for (int i = 0; i < 8; ++i)
        isSet[i] = (item >> i) & 1;
      for (int i = 0; i < 8; ++i)
        if (isSet[(i + 4) % 8])
          table[item] |= 1 << i;
      for (int i = 0; i < 8; i += 2)
        if (isSet[i])
          isSet[(i + 1) % 8] = isSet[(i + 7) % 8] = true;
      int transitions = 0;
      for (int i = 0; i < 8; ++i)
        if (isSet[i] != isSet[(i + 1) % 8])
          ++transitions;
      if (transitions >= 4)
        table[item] = 0;
    }
    return table;
  }

  int ProcessLevel(int pass, const std::array<int, 256>& table, std::int64_t start,
                   std::int64_t count, std::vector<std::int64_t>& coordinates) {
    std::vector<std::int64_t> set;
    std::int64_t unchanged = 0;
    for (std::int64_t i = 0; i < count; ++i) {
      const std::int64_t offset = coordinates[start + i];
      const int x = static_cast<int>(offset % w), y = static_cast<int>(offset / w);
      int index = 0;
      for (int d = 0; d < 8; ++d)
        if (Within(x, y, d) && pixels[offset + kDy[d] * w + kDx[d]] == 255)
          index |= 1 << d;
      if (table[index] & (1 << pass))
        set.push_back(offset);
      else
        coordinates[start + unchanged++] = offset;
    }
    for (const std::int64_t offset : set)
      pixels[offset] = 255;
    return static_cast<int>(set.size());
  }

  void Segment() {
    std::array<std::int64_t, 256> histogram{};
    for (const std::uint8_t v : pixels)
      ++histogram[v];
    std::vector<std::int64_t> coordinates(pixels.size() - histogram[0] - histogram[255]);
    std::array<std::int64_t, 256> levelStart{}, levelOffset{};
    int highest = 0;
    for (std::int64_t v = 1, offset = 0; v < 255; ++v) {
      levelStart[v] = offset;
      offset += histogram[v];
      if (histogram[v] > 0)
        highest = static_cast<int>(v);
    }
    for (std::size_t i = 0; i < pixels.size(); ++i)
      if (pixels[i] > 0 && pixels[i] < 255)
        coordinates[levelStart[pixels[i]] + levelOffset[pixels[i]]++] =
            static_cast<std::int64_t>(i);
    const std::array<int, 256> table = FateTable();
    constexpr int kSequence[8] = {7, 3, 1, 5, 0, 4, 2, 6};
    for (int level = highest; level >= 1; --level) {
      std::int64_t remaining = histogram[level];
      int idle = 0;
      while (remaining > 0 && idle < 8) {
        int dIndex = 0;
        do {
          const int n =
              ProcessLevel(kSequence[dIndex % 8], table, levelStart[level], remaining, coordinates);
          remaining -= n;
          if (n > 0)
            idle = 0;
          ++dIndex;
        } while (remaining > 0 && idle++ < 8);
      }
      if (remaining > 0 && level > 1) {
        int next = level;
        do
          --next;
        while (next > 1 && histogram[next] == 0);
        std::int64_t end = levelStart[next] + histogram[next];
        for (std::int64_t i = 0, p = levelStart[level]; i < remaining; ++i, ++p) {
          const std::int64_t offset = coordinates[p];
          const int x = static_cast<int>(offset % w), y = static_cast<int>(offset / w);
          bool border = x == 0 || y == 0 || x == w - 1 || y == h - 1;
          for (int d = 0; d < 8 && !border; ++d)
            border = Within(x, y, d) && pixels[offset + kDy[d] * w + kDx[d]] == 0;
          if (border)
            coordinates[end++] = offset;
        }
        histogram[next] = end - levelStart[next];
      }
    }
  }
};

}  // namespace

void ReferenceWatershed(TBitmap& bitmap) {
  if (bitmap.Empty() || bitmap.PixelFormat() != TPixelFormat::pf8bit)
    return;
  const int w = bitmap.Width(), h = bitmap.Height();
  std::vector<std::uint8_t> in(static_cast<std::size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    std::copy_n(bitmap.ScanLine(y), w, in.begin() + static_cast<std::ptrdiff_t>(y) * w);
  if (std::any_of(in.begin(), in.end(), [](std::uint8_t v) { return v != 0 && v != 255; }))
    return;
  Segmenter s{w, h, DistanceMap(in, w, h), std::vector<std::uint8_t>(in.size(), 0), {}};
  const auto [low, high] = std::minmax_element(s.edm.begin(), s.edm.end());
  std::vector<std::int64_t> maxima;
  if (*high > *low)
    maxima = s.SortedMaxima(*low, *high);
  s.MarkMaxima(maxima);
  s.Make8Bit(*high);
  s.CleanupMaxima(maxima);
  s.Segment();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      bitmap.ScanLine(y)[x] = s.pixels[static_cast<std::size_t>(y) * w + x] == 255 ? 0 : 255;
  bitmap.Changed();
}
