// SPDX-License-Identifier: GPL-3.0-or-later
#include "Measurement.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <future>
#include <numbers>
#include <ostream>
#include <span>
#include <stdexcept>
#include <system_error>

#include "Commands.h"

namespace {

// A run of object pixels [start, end) of one row, and the provisional label it joined.
struct TRun {
  int start;
  int end;
  int label;
};

// What a provisional label gathered; folded into its root once the picture is scanned.
struct TLabelStats {
  std::int64_t count = 0;
  std::int64_t sumX = 0;
  std::int64_t sumY = 0;
  int minX = 0, maxX = 0, minY = 0, maxY = 0;
  // The run that opened the label: for a root, the object's first run in raster order.
  int seedY = 0, seedStart = 0, seedEnd = 0;
  // With holes included: the background label just above the seed, -1 on the top row.
  int backgroundAbove = -1;
};

class TUnionFind {
 public:
  int Add() {
    parent_.push_back(static_cast<int>(parent_.size()));
    return parent_.back();
  }
  int Find(int label) {
    int root = label;
    while (parent_[root] != root)
      root = parent_[root];
    while (parent_[label] != root) {
      const int next = parent_[label];
      parent_[label] = root;
      label = next;
    }
    return root;
  }
  // The smaller label stays the root: it is the one opened first in raster order.
  int Join(int a, int b) {
    a = Find(a);
    b = Find(b);
    if (a == b)
      return a;
    if (b < a)
      std::swap(a, b);
    parent_[b] = a;
    return a;
  }
  std::size_t Size() const { return parent_.size(); }
  int Parent(int label) const { return parent_[label]; }
  void Clear() { parent_.clear(); }

 private:
  std::vector<int> parent_;
};

static_assert(std::endian::native == std::endian::little, "the row scan reads bytes as words");

constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
constexpr std::uint64_t kHigh = 0x8080808080808080ULL;

// Bit i set where byte i of the word is 0xFF; the word holds only 0x00 and 0xFF bytes.
inline unsigned ByteMask(std::uint64_t word) {
  return static_cast<unsigned>(((word & kHigh) * 0x0002040810204081ULL) >> 56);
}

// Runs of `objectByte` in a row. False when the row holds a byte other than 0 and 255.
bool RowRuns(const std::uint8_t* row, int width, std::uint8_t objectByte, std::vector<TRun>& runs) {
  runs.clear();
  // Work on "object" = 0xFF: invert black objects.
  const std::uint64_t flip = objectByte == 0 ? ~0ULL : 0;
  int x = 0;
  bool inRun = false;
  int start = 0;
  for (; x + 8 <= width; x += 8) {
    std::uint64_t word;
    std::memcpy(&word, row + x, 8);
    if ((word & kLow7) != ((word >> 1) & kLow7))
      return false;
    word ^= flip;
    const std::uint64_t same = inRun ? ~0ULL : 0;
    if (word == same)
      continue;
    unsigned mask = ByteMask(word);
    // Transitions between consecutive pixels, the first against the state carried in.
    unsigned edges = (mask ^ ((mask << 1) | (inRun ? 1u : 0u))) & 0xFFu;
    while (edges != 0) {
      const int bit = std::countr_zero(edges);
      edges &= edges - 1;
      if (inRun)
        runs.push_back({start, x + bit, -1});
      else
        start = x + bit;
      inRun = !inRun;
    }
  }
  for (; x < width; ++x) {
    const std::uint8_t value = row[x];
    if (value != 0 && value != 255)
      return false;
    const bool object = value == objectByte;
    if (object != inRun) {
      if (inRun)
        runs.push_back({start, x, -1});
      else
        start = x;
      inRun = object;
    }
  }
  if (inRun)
    runs.push_back({start, width, -1});
  return true;
}

// The outline as ImageJ's wand traces 8-connected objects, from the vertex below the right end
// of the object's first run, walking with the object on the right: a corner is kept where the
// direction changes. The vertices are added to the end of `points`.
template <bool Checked>
void TraceOutline(const TBitmap& picture, std::uint8_t objectByte, int startX, int startY,
                  std::vector<std::pair<int, int>>& points) {
  const int width = picture.Width();
  const int height = picture.Height();
  const std::uint8_t* base = picture.ScanLine(0);
  const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(picture.Stride());
  // The pixel each way from a vertex, and a vertex's step each way, as offsets into the bytes:
  // no multiplication per step.
  const std::ptrdiff_t toward[4] = {0, -stride, -stride - 1, -1};
  const std::ptrdiff_t step[4] = {1, -stride, -1, stride};
  // (startX, startY) is outside, the pixel left of it inside: walk down its left edge.
  constexpr int startDirection = 3;
  int x = startX;
  int y = startY + 1;
  std::ptrdiff_t at = y * stride + x;
  const int endY = y;
  int direction = startDirection;
  auto insideToward = [&](int turn) {
    const int way = turn & 3;
    if constexpr (Checked) {
      const int px = way == 2 || way == 3 ? x - 1 : x;
      const int py = way == 1 || way == 2 ? y - 1 : y;
      if (px < 0 || px >= width || py < 0 || py >= height)
        return false;
    }
    return base[at + toward[way]] == objectByte;
  };
  do {
    int turn = direction + 1;
    do {
      if (insideToward(turn))
        break;
      --turn;
    } while (turn >= direction);
    if (turn != direction)
      points.emplace_back(x, y);
    switch (turn & 3) {
      case 0:
        ++x;
        break;
      case 1:
        --y;
        break;
      case 2:
        --x;
        break;
      default:
        ++y;
        break;
    }
    at += step[turn & 3];
    direction = turn;
  } while (x != startX || y != endY || (direction & 3) != startDirection);
}

// ImageJ's traced perimeter: the outline's length less (2 - √2) for each corner it cuts, a
// corner every other vertex along unit steps. It depends on where the outline starts, as
// ImageJ's does.
double TracedPerimeter(std::span<const std::pair<int, int>> p, double scale) {
  const std::size_t n = p.size();
  if (n < 4)
    return 0;
  std::int64_t sumdx = 0, sumdy = 0, corners = 0;
  int dx1 = p[0].first - p[n - 1].first;
  int dy1 = p[0].second - p[n - 1].second;
  int side1 = std::abs(dx1) + std::abs(dy1);
  bool corner = false;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t next = i + 1 == n ? 0 : i + 1;
    const int dx2 = p[next].first - p[i].first;
    const int dy2 = p[next].second - p[i].second;
    sumdx += std::abs(dx1);
    sumdy += std::abs(dy1);
    const int side2 = std::abs(dx2) + std::abs(dy2);
    if (side1 > 1 || !corner) {
      corner = true;
      ++corners;
    } else {
      corner = false;
    }
    dx1 = dx2;
    dy1 = dy2;
    side1 = side2;
  }
  const double w = scale, h = scale;
  return static_cast<double>(sumdx) * w + static_cast<double>(sumdy) * h -
         (static_cast<double>(corners) * ((w + h) - std::sqrt(w * w + h * h)));
}

// Pixels inside a traced outline, holes included, and the sums of their columns and rows: the
// polygon's area and first moments, exact in integers.
struct TFilled {
  std::int64_t count, sumX, sumY;
};
TFilled FilledMoments(std::span<const std::pair<int, int>> p) {
  // The outline has only horizontal and vertical edges; a vertical edge at x from y0 to y1
  // bounds the pixels left of it.
  std::int64_t area = 0, momentX2 = 0, momentY2 = 0;
  const std::size_t n = p.size();
  for (std::size_t i = 0; i < n; ++i) {
    const auto [x0, y0] = p[i];
    const auto [x1, y1] = p[i + 1 == n ? 0 : i + 1];
    if (x0 == x1) {
      const std::int64_t dy = y1 - y0;
      area += x0 * dy;
      // Σ over the rows of (x0 columns' sum) = x0·(x0-1)/2 per row; rows y0..y1.
      momentX2 += static_cast<std::int64_t>(x0) * (x0 - 1) * dy;
      momentY2 += x0 * (static_cast<std::int64_t>(y1) * (y1 - 1) -
                        static_cast<std::int64_t>(y0) * (y0 - 1));
    }
  }
  // Clockwise on screen the signed sums are negative.
  const std::int64_t sign = area < 0 ? -1 : 1;
  return {area * sign, momentX2 / 2 * sign, momentY2 / 2 * sign};
}

std::string ScaledUnitSuffix(const TMeasureOptions& options, bool squared) {
  if (options.unit.empty())
    return {};
  return "_" + options.unit + (squared ? "^2" : "");
}

bool Whole(double value) {
  return std::isfinite(value) && value == std::round(value) && std::fabs(value) < 1e9;
}

// ImageJ's results: a column whose numbers are all whole is written without decimals, any other
// with three.
void AppendNumber(std::string& out, double value, bool whole) {
  if (std::isnan(value)) {
    out += "NaN";
    return;
  }
  if (std::isinf(value)) {
    out += value > 0 ? "Infinity" : "-Infinity";
    return;
  }
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, whole ? 0 : 3);
  out.append(buffer, result.ptr);
}

}  // namespace

// Kept from picture to picture: a frame's labels and runs take megabytes, which fresh each
// time are fresh pages to fault in.
struct TParticleMeasurer::TBuffers {
  TUnionFind labels;
  std::vector<TLabelStats> stats;
  TUnionFind backgroundLabels;
  std::vector<char> backgroundOpen;
  std::vector<TRun> previous, current, previousBackground, currentBackground;
  std::vector<int> roots;
  // An object to trace, and what its outline gave.
  struct TCandidate {
    int root;
    bool onEdge;
    double perimeter;
    TFilled filled;
    // In the outlines of the thread that traced it, where outlines are asked for.
    std::size_t outlineStart, outlineSize;
  };
  std::vector<TCandidate> candidates;
  std::vector<std::pair<int, int>> outlines, helperOutlines;
};

TParticleMeasurer::TParticleMeasurer(bool shareTracing)
    : buffers_(std::make_unique<TBuffers>()), shareTracing_(shareTracing) {}
TParticleMeasurer::~TParticleMeasurer() = default;
TParticleMeasurer::TParticleMeasurer(TParticleMeasurer&&) noexcept = default;
TParticleMeasurer& TParticleMeasurer::operator=(TParticleMeasurer&&) noexcept = default;

TMeasurement MeasureParticles(const TBitmap& picture, const TMeasureOptions& options) {
  return TParticleMeasurer().Measure(picture, options);
}

TMeasurement TParticleMeasurer::Measure(const TBitmap& picture, const TMeasureOptions& options) {
  if (!(options.scale > 0) || !std::isfinite(options.scale))
    throw std::invalid_argument("the scale must be a positive length per pixel");
  if (!picture.Empty() && picture.PixelFormat() != TPixelFormat::pf8bit)
    throw TRefusedPicture(KindRefusal(TPictureKind::BlackAndWhite));
  TMeasurement measurement;
  if (picture.Empty())
    return measurement;
  const int width = picture.Width();
  const int height = picture.Height();
  const std::uint8_t objectByte = options.whiteObjects ? 255 : 0;
  const bool holes = options.includeHoles;

  TBuffers& b = *buffers_;
  TUnionFind& labels = b.labels;
  std::vector<TLabelStats>& stats = b.stats;
  labels.Clear();
  stats.clear();
  // Background runs, 4-connected, only to tell which objects lie inside another's holes.
  TUnionFind& backgroundLabels = b.backgroundLabels;
  std::vector<char>& backgroundOpen = b.backgroundOpen;  // per label: reaches the picture's edge
  backgroundLabels.Clear();
  backgroundOpen.clear();
  std::vector<TRun>&previous = b.previous, &current = b.current,
  &previousBackground = b.previousBackground, &currentBackground = b.currentBackground;
  previous.clear();
  previousBackground.clear();
  for (int y = 0; y < height; ++y) {
    if (!RowRuns(picture.ScanLine(y), width, objectByte, current))
      throw TRefusedPicture(KindRefusal(TPictureKind::BlackAndWhite));
    std::size_t p = 0;
    for (TRun& run : current) {
      // Runs of the row above that touch this one, side or corner.
      while (p < previous.size() && previous[p].end < run.start)
        ++p;
      int label = -1;
      for (std::size_t q = p; q < previous.size() && previous[q].start <= run.end; ++q)
        label = label < 0 ? labels.Find(previous[q].label) : labels.Join(label, previous[q].label);
      if (label < 0) {
        label = labels.Add();
        // Filled in place: a copy built on the stack stalled on its own partial stores.
        TLabelStats& opened = stats.emplace_back();
        opened.minX = run.start;
        opened.maxX = run.end - 1;
        opened.minY = opened.maxY = y;
        opened.seedY = y;
        opened.seedStart = run.start;
        opened.seedEnd = run.end;
      }
      run.label = label;
      TLabelStats& s = stats[label];
      const std::int64_t length = run.end - run.start;
      s.count += length;
      s.sumX += (static_cast<std::int64_t>(run.start) + run.end - 1) * length / 2;
      s.sumY += static_cast<std::int64_t>(y) * length;
      s.minX = std::min(s.minX, run.start);
      s.maxX = std::max(s.maxX, run.end - 1);
      s.maxY = y;
    }
    if (holes) {
      // The background runs between the object runs, 4-connected to those above.
      currentBackground.clear();
      int from = 0;
      for (std::size_t i = 0; i <= current.size(); ++i) {
        const int to = i < current.size() ? current[i].start : width;
        if (to > from)
          currentBackground.push_back({from, to, -1});
        if (i < current.size())
          from = current[i].end;
      }
      std::size_t b = 0;
      for (TRun& run : currentBackground) {
        while (b < previousBackground.size() && previousBackground[b].end <= run.start)
          ++b;
        int label = -1;
        for (std::size_t q = b;
             q < previousBackground.size() && previousBackground[q].start < run.end; ++q)
          label = label < 0 ? backgroundLabels.Find(previousBackground[q].label)
                            : backgroundLabels.Join(label, previousBackground[q].label);
        if (label < 0) {
          label = backgroundLabels.Add();
          backgroundOpen.push_back(0);
        }
        run.label = label;
        if (y == 0 || y == height - 1 || run.start == 0 || run.end == width)
          backgroundOpen[label] = 1;
      }
      // Each object run that opened a label on this row: the background just above its first
      // pixel, the one that surrounds the object.
      if (y > 0) {
        std::size_t a = 0;
        for (const TRun& run : current) {
          TLabelStats& s = stats[run.label];
          if (s.seedY != y || s.seedStart != run.start)
            continue;
          while (previousBackground[a].end <= run.start)
            ++a;
          s.backgroundAbove = previousBackground[a].label;
        }
      }
      std::swap(previousBackground, currentBackground);
    }
    std::swap(previous, current);
  }

  // Fold every label into its root; roots are in raster order of their first pixel.
  const std::size_t labelCount = labels.Size();
  std::vector<int>& roots = b.roots;
  roots.clear();
  for (std::size_t i = 0; i < labelCount; ++i) {
    const int root = labels.Find(static_cast<int>(i));
    if (root == static_cast<int>(i)) {
      roots.push_back(root);
      continue;
    }
    TLabelStats& r = stats[root];
    const TLabelStats& s = stats[i];
    r.count += s.count;
    r.sumX += s.sumX;
    r.sumY += s.sumY;
    r.minX = std::min(r.minX, s.minX);
    r.maxX = std::max(r.maxX, s.maxX);
    r.minY = std::min(r.minY, s.minY);
    r.maxY = std::max(r.maxY, s.maxY);
  }
  if (holes) {
    // Background labels that reach the edge pass it on to their roots.
    for (std::size_t i = 0; i < backgroundOpen.size(); ++i)
      if (backgroundOpen[i])
        backgroundOpen[backgroundLabels.Find(static_cast<int>(i))] = 1;
  }

  const double scale = options.scale;
  const double unitSquared = scale * scale;
  const double minSize = options.minArea / unitSquared;
  const double maxSize = options.maxArea / unitSquared;
  using TCandidate = TBuffers::TCandidate;
  std::vector<TCandidate>& candidates = b.candidates;
  candidates.clear();
  for (const int root : roots) {
    const TLabelStats& s = stats[root];
    if (holes && s.backgroundAbove >= 0 &&
        !backgroundOpen[backgroundLabels.Find(s.backgroundAbove)])
      continue;  // inside another object's hole: part of that object
    const bool onEdge = s.minX == 0 || s.minY == 0 || s.maxX == width - 1 || s.maxY == height - 1;
    if (options.excludeEdges && onEdge)
      continue;
    // Without holes the size is known before tracing; with them, only from the outline.
    const double pixels = static_cast<double>(s.count);
    if (!holes && !(pixels >= minSize && pixels <= maxSize))
      continue;
    candidates.push_back({root, onEdge, 0, {}, 0, 0});
  }

  const auto trace = [&](std::size_t first, std::size_t last,
                         std::vector<std::pair<int, int>>& outlines) {
    outlines.clear();
    for (std::size_t i = first; i < last; ++i) {
      TCandidate& c = candidates[i];
      const TLabelStats& s = stats[c.root];
      const std::size_t start = outlines.size();
      if (c.onEdge)
        TraceOutline<true>(picture, objectByte, s.seedEnd, s.seedY, outlines);
      else
        TraceOutline<false>(picture, objectByte, s.seedEnd, s.seedY, outlines);
      const auto outline = std::span(outlines).subspan(start);
      c.perimeter = TracedPerimeter(outline, scale);
      if (holes)
        c.filled = FilledMoments(outline);
      if (options.outlines) {
        c.outlineStart = start;
        c.outlineSize = outline.size();
      } else {
        outlines.resize(start);
      }
    }
  };
  // Tracing is a third of the work on a picture of many objects, each outline on its own: a
  // second thread takes the objects whose outlines make up the later half of the bounding
  // boxes' sides.
  constexpr std::size_t kShareFrom = 256;
  const auto sides = [&](const TCandidate& c) {
    const TLabelStats& s = stats[c.root];
    return static_cast<std::int64_t>(s.maxX - s.minX) + (s.maxY - s.minY) + 2;
  };
  std::int64_t total = 0;
  for (const TCandidate& c : candidates)
    total += sides(c);
  std::size_t split = candidates.size();
  if (shareTracing_ && candidates.size() >= kShareFrom) {
    std::int64_t before = 0;
    split = 0;
    while (split < candidates.size() && 2 * before < total)
      before += sides(candidates[split++]);
  }
  // Outlines have about one and a half vertices per unit of their boxes' sides: room made at
  // once spares the buffer's growth its copies and fresh pages.
  if (options.outlines)
    b.outlines.reserve(static_cast<std::size_t>(2 * total));
  std::future<void> helper;
  if (split < candidates.size()) {
    try {
      helper = std::async(std::launch::async, trace, split, candidates.size(),
                          std::ref(b.helperOutlines));
    } catch (const std::system_error&) {
      split = candidates.size();
    }
  }
  trace(0, split, b.outlines);
  if (helper.valid())
    helper.get();

  measurement.particles.reserve(candidates.size());
  // Traced on one thread, the outlines are handed over whole, those of objects left out by
  // their size included, rather than copied.
  const bool handedOver = options.outlines && split == candidates.size();
  if (handedOver)
    measurement.outlines.swap(b.outlines);
  else if (options.outlines)
    measurement.outlines.reserve(b.outlines.size() + b.helperOutlines.size());
  double totalArea = 0;  // ImageJ sums the table's areas, kept in single precision
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const TCandidate& c = candidates[i];
    const TLabelStats& s = stats[c.root];
    std::int64_t count = s.count, sumX = s.sumX, sumY = s.sumY;
    if (holes) {
      count = c.filled.count;
      sumX = c.filled.sumX;
      sumY = c.filled.sumY;
    }
    const double pixels = static_cast<double>(count);
    if (!(pixels >= minSize && pixels <= maxSize))
      continue;
    TParticle particle;
    particle.number = static_cast<int>(measurement.particles.size()) + 1;
    particle.area = pixels * scale * scale;
    particle.x = (static_cast<double>(sumX) / pixels + 0.5) * scale;
    particle.y = (static_cast<double>(sumY) / pixels + 0.5) * scale;
    particle.perimeter = c.perimeter;
    particle.bx = s.minX;
    particle.by = s.minY;
    particle.width = s.maxX - s.minX + 1;
    particle.height = s.maxY - s.minY + 1;
    const double perimeter = particle.perimeter;
    particle.circularity =
        perimeter == 0 ? 0 : 4.0 * std::numbers::pi * (particle.area / (perimeter * perimeter));
    if (particle.circularity > 1)
      particle.circularity = 1;
    if (handedOver) {
      particle.outlineStart = c.outlineStart;
      particle.outlineSize = c.outlineSize;
    } else if (options.outlines) {
      const auto& traced = i < split ? b.outlines : b.helperOutlines;
      const auto from = traced.begin() + static_cast<std::ptrdiff_t>(c.outlineStart);
      particle.outlineStart = measurement.outlines.size();
      particle.outlineSize = c.outlineSize;
      measurement.outlines.insert(measurement.outlines.end(), from,
                                  from + static_cast<std::ptrdiff_t>(c.outlineSize));
    }
    totalArea += static_cast<float>(particle.area);
    measurement.particles.push_back(std::move(particle));
  }
  const double sum = totalArea;
  TSummary& summary = measurement.summary;
  summary.count = static_cast<int>(measurement.particles.size());
  summary.totalArea = sum;
  summary.averageSize = summary.count == 0 ? 0 : sum / summary.count;
  summary.areaFraction = sum * 100.0 / (width * scale * height * scale);
  return measurement;
}

std::optional<std::pair<double, std::string>> ParseScale(std::string_view text) {
  while (!text.empty() && text.front() == ' ')
    text.remove_prefix(1);
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || !std::isfinite(value) || value <= 0)
    return std::nullopt;
  std::string unit(end, text.data() + text.size());
  const auto first = unit.find_first_not_of(' ');
  unit.erase(0, first == std::string::npos ? unit.size() : first);
  while (!unit.empty() && unit.back() == ' ')
    unit.pop_back();
  // ImageJ's spellings of the micrometre.
  if (unit == "um" || unit == "micron" || unit == "microns")
    unit = "µm";
  for (const char c : unit)
    if (c == ',' || c == '"' || c == '\n' || c == '\r' || c == '\t')
      return std::nullopt;
  return std::make_pair(value, unit);
}

std::string TableHeader(const TMeasureOptions& options, const TTableStyle& style) {
  const std::string length = ScaledUnitSuffix(options, false);
  const std::string area = ScaledUnitSuffix(options, true);
  std::string header;
  const char sep = style.separator;
  if (style.fileColumn)
    header += std::string("file") + sep;
  header += "number";
  for (const std::string& column :
       {"area" + area, "x" + length, "y" + length, "perimeter" + length, "bx" + length,
        "by" + length, "width" + length, "height" + length, std::string("circularity")})
    header += sep + column;
  return header;
}

void WriteTableRows(std::ostream& out, const TMeasurement& measurement,
                    const TMeasureOptions& options, std::string_view file,
                    const TTableStyle& style) {
  const std::string fileField =
      style.fileColumn ? CsvField(file, style.separator) + style.separator : std::string();
  const double scale = options.scale;
  constexpr std::size_t kColumns = 8;
  const auto values = [scale](const TParticle& p) {
    return std::array<double, kColumns>{
        p.area,          p.x, p.y, p.perimeter, p.bx * scale, p.by * scale, p.width * scale,
        p.height * scale};
  };
  std::array<bool, kColumns> whole;
  whole.fill(true);
  for (const TParticle& p : measurement.particles) {
    const auto row = values(p);
    for (std::size_t c = 0; c < kColumns; ++c)
      whole[c] = whole[c] && Whole(row[c]);
  }
  std::string line;
  for (const TParticle& p : measurement.particles) {
    line = fileField;
    line += std::to_string(p.number);
    const auto row = values(p);
    for (std::size_t c = 0; c < kColumns; ++c) {
      line += style.separator;
      AppendNumber(line, row[c], whole[c]);
    }
    // Circularity has its three decimals always, as in ImageJ.
    line += style.separator;
    AppendNumber(line, p.circularity, false);
    line += '\n';
    out << line;
  }
}

std::string SummaryHeader(const TMeasureOptions& options, const TTableStyle& style) {
  const std::string area = ScaledUnitSuffix(options, true);
  std::string header;
  const char sep = style.separator;
  if (style.fileColumn)
    header += std::string("file") + sep;
  header += "count";
  header += sep + ("total_area" + area);
  header += sep + ("average_size" + area);
  header += sep + std::string("area_percent");
  return header;
}

void WriteSummaryRow(std::ostream& out, const TSummary& summary, std::string_view file,
                     const TTableStyle& style) {
  std::string line;
  if (style.fileColumn)
    line += CsvField(file, style.separator) + style.separator;
  line += std::to_string(summary.count);
  for (const double value : {summary.totalArea, summary.averageSize, summary.areaFraction}) {
    line += style.separator;
    AppendNumber(line, value, Whole(value));
  }
  line += '\n';
  out << line;
}

std::string CsvField(std::string_view text, char separator) {
  if (text.find_first_of(std::string{separator, '"', '\n', '\r'}) == std::string_view::npos)
    return std::string(text);
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"')
      quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}
