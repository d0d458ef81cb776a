// SPDX-License-Identifier: GPL-3.0-or-later
#include "Measurement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Commands.h"

namespace {

// '#' is byte 0, '.' byte 255, any other character its own byte.
TBitmap Drawn(const std::vector<std::string>& rows) {
  const int height = static_cast<int>(rows.size());
  const int width = height == 0 ? 0 : static_cast<int>(rows[0].size());
  TBitmap picture(width, height, TPixelFormat::pf8bit);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const char c = rows[y][x];
      picture.ScanLine(y)[x] = c == '#' ? 0 : c == '.' ? 255 : static_cast<std::uint8_t>(c);
    }
  return picture;
}

// ImageJ's traced perimeter of an outline `length` long that cuts `corners` corners.
double Traced(int length, int corners) {
  return length - corners * (2 - std::numbers::sqrt2);
}

double Circularity(double area, double perimeter) {
  return std::min(1.0, 4 * std::numbers::pi * area / (perimeter * perimeter));
}

struct TExpected {
  double area, x, y, perimeter;
  int bx, by, width, height;
};

using TSet = void (*)(TMeasureOptions&);
TSet With(TSet set) {
  return set;
}

struct TCase {
  const char* name;
  std::vector<std::string> rows;
  TSet options;
  std::vector<TExpected> particles;
};

const std::vector<std::string> kRing = {
    ".......",  //
    ".#####.",  //
    ".#...#.",  //
    ".#.#.#.",  //
    ".#...#.",  //
    ".#####.",  //
    ".......",
};
const std::vector<std::string> kEdges = {
    "#...#",  //
    ".....",  //
    "..#..",  //
    ".....",  //
    "#...#",
};

TEST(MeasureParticles, WorkedOutByHand) {
  const double pixel = Traced(4, 2), ring = Traced(20, 4);
  const TCase cases[] = {
      {"one pixel", {"...", ".#.", "..."}, nullptr, {{1, 1.5, 1.5, pixel, 1, 1, 1, 1}}},
      // Corner neighbours are one object; each way round the outline cuts four corners.
      {"diagonal",
       {"....", ".#..", "..#.", "...."},
       nullptr,
       {{2, 2, 2, Traced(8, 4), 1, 1, 2, 2}}},
      {"anti-diagonal",
       {"....", "..#.", ".#..", "...."},
       {},
       {{2, 2, 2, Traced(8, 4), 1, 1, 2, 2}}},
      {"ring and island",
       kRing,
       {},
       {{16, 3.5, 3.5, ring, 1, 1, 5, 5}, {1, 3.5, 3.5, pixel, 3, 3, 1, 1}}},
      // The hole and the island inside it belong to the ring.
      {"ring, holes included",
       kRing,
       With([](TMeasureOptions& o) { o.includeHoles = true; }),
       {{25, 3.5, 3.5, ring, 1, 1, 5, 5}}},
      {"every edge",
       kEdges,
       nullptr,
       {{1, 0.5, 0.5, pixel, 0, 0, 1, 1},
        {1, 4.5, 0.5, pixel, 4, 0, 1, 1},
        {1, 2.5, 2.5, pixel, 2, 2, 1, 1},
        {1, 0.5, 4.5, pixel, 0, 4, 1, 1},
        {1, 4.5, 4.5, pixel, 4, 4, 1, 1}}},
      {"edges excluded",
       kEdges,
       With([](TMeasureOptions& o) { o.excludeEdges = true; }),
       {{1, 2.5, 2.5, pixel, 2, 2, 1, 1}}},
      {"all black", {"###", "###"}, nullptr, {{6, 1.5, 1, Traced(10, 4), 0, 0, 3, 2}}},
      {"all black, edges excluded",
       {"###", "###"},
       With([](TMeasureOptions& o) { o.excludeEdges = true; }),
       {}},
      {"all white", {"...", "..."}, nullptr, {}},
      {"white objects",
       {"...", "##."},
       With([](TMeasureOptions& o) { o.whiteObjects = true; }),
       {{4, 1.75, 0.75, Traced(10, 4), 0, 0, 3, 2}}},
      {"empty", {}, nullptr, {}},
      // Sizes in the scale's units: 0.5 µm a pixel, so one pixel is 0.25 µm².
      {"size range, scaled",
       {"#.##", "....", "###."},
       With([](TMeasureOptions& o) {
         o.scale = 0.5;
         o.unit = "µm";
         o.minArea = 0.5;
         o.maxArea = 0.5;
       }),
       {{0.5, 1.5, 0.25, Traced(6, 3) * 0.5, 2, 0, 2, 1}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TMeasureOptions options;
    if (c.options)
      c.options(options);
    const TMeasurement m = MeasureParticles(Drawn(c.rows), options);
    ASSERT_EQ(m.particles.size(), c.particles.size());
    double total = 0;
    for (std::size_t i = 0; i < c.particles.size(); ++i) {
      const TParticle& p = m.particles[i];
      const TExpected& e = c.particles[i];
      EXPECT_EQ(p.number, static_cast<int>(i) + 1);
      EXPECT_DOUBLE_EQ(p.area, e.area);
      EXPECT_DOUBLE_EQ(p.x, e.x);
      EXPECT_DOUBLE_EQ(p.y, e.y);
      EXPECT_NEAR(p.perimeter, e.perimeter, 1e-12);
      EXPECT_EQ((std::vector{p.bx, p.by, p.width, p.height}),
                (std::vector{e.bx, e.by, e.width, e.height}));
      EXPECT_NEAR(p.circularity, Circularity(e.area, e.perimeter), 1e-12);
      EXPECT_GE(m.Outline(p).size(), 4u);
      total += e.area;
    }
    EXPECT_EQ(m.summary.count, static_cast<int>(c.particles.size()));
    EXPECT_DOUBLE_EQ(m.summary.totalArea, total);
    const std::size_t pixels = c.rows.empty() ? 0 : c.rows.size() * c.rows[0].size();
    const double scale = options.scale;
    EXPECT_DOUBLE_EQ(m.summary.averageSize, c.particles.empty() ? 0 : total / c.particles.size());
    EXPECT_DOUBLE_EQ(m.summary.areaFraction,
                     pixels == 0 ? 0 : total * 100 / (pixels * scale * scale));
  }
}

TEST(MeasureParticles, OutlineIsTheTracedPolygon) {
  const TMeasurement m = MeasureParticles(Drawn({"....", ".#..", "..#.", "...."}), {});
  using P = std::pair<int, int>;
  const auto outline = m.Outline(m.particles.at(0));
  EXPECT_EQ(std::vector<P>(outline.begin(), outline.end()),
            (std::vector<P>{{2, 2}, {3, 2}, {3, 3}, {2, 3}, {2, 2}, {1, 2}, {1, 1}, {2, 1}}));
}

TEST(MeasureParticles, RefusesPicturesNotBlackAndWhite) {
  TBitmap colour(2, 2, TPixelFormat::pf24bit);
  for (const TBitmap* picture : {&colour}) {
    EXPECT_THROW(MeasureParticles(*picture, {}), TRefusedPicture);
  }
  // A grey byte anywhere, in the words the scan reads at once or in a row's tail.
  for (const int x : {0, 7, 8, 12}) {
    std::string row(13, '.');
    row[x] = 'x';
    EXPECT_THROW(MeasureParticles(Drawn({row, row}), {}), TRefusedPicture) << x;
  }
  for (const double scale : {0.0, -1.0, std::nan("")}) {
    TMeasureOptions options;
    options.scale = scale;
    EXPECT_THROW(MeasureParticles(Drawn({"#"}), options), std::invalid_argument);
  }
}

TEST(MeasureParticles, LongRowsAcrossWords) {
  // Runs that start and end anywhere within the eight-byte words the scan reads.
  std::string row(37, '.');
  for (int x : {0, 1, 7, 8, 9, 15, 16, 23, 31, 36})
    row[x] = '#';
  const TMeasurement m = MeasureParticles(Drawn({row}), {});
  std::vector<int> starts, widths;
  for (const TParticle& p : m.particles) {
    starts.push_back(p.bx);
    widths.push_back(p.width);
  }
  EXPECT_EQ(starts, (std::vector{0, 7, 15, 23, 31, 36}));
  EXPECT_EQ(widths, (std::vector{2, 3, 2, 1, 1, 1}));
}

// Everything a measurement says, outlines included, as one text to compare.
std::string Everything(const TMeasurement& m, const TMeasureOptions& options) {
  std::ostringstream out;
  WriteTableRows(out, m, options);
  WriteSummaryRow(out, m.summary);
  for (const TParticle& p : m.particles)
    for (const auto& [x, y] : m.Outline(p))
      out << x << ' ' << y << ' ';
  return out.str();
}

// One measurer for picture after picture, as the live view's: nothing of a picture, nor of one
// refused half-way, stays for the next.
TEST(MeasureParticles, AMeasurerKeptAcrossPicturesMeasuresEachAfresh) {
  TMeasureOptions holes;
  holes.includeHoles = true;
  const std::string grey = "#.x.#####";
  const std::pair<std::vector<std::string>, TMeasureOptions> pictures[] = {
      {kRing, holes},
      {kEdges, {}},
      {{"#.#", "x.#"}, {}},
      {kRing, {}},
      {{"##", "##"}, holes},
      {{}, {}},
      {{kRing[1] + "..", grey}, holes},
      {kEdges, holes},
      {{"#..#", ".##."}, {}},
  };
  TParticleMeasurer measurer;
  for (const auto& [rows, options] : pictures) {
    const TBitmap picture = Drawn(rows);
    // Grey bytes: refused, the first row's objects already labelled.
    if (std::string(rows.empty() ? "" : rows.back()).find('x') != std::string::npos) {
      EXPECT_THROW(measurer.Measure(picture, options), TRefusedPicture);
      continue;
    }
    EXPECT_EQ(Everything(measurer.Measure(picture, options), options),
              Everything(MeasureParticles(picture, options), options))
        << rows.size();
  }
}

// Enough objects for the outlines to be traced on two threads: the same table, outlines and
// order as traced on one, whatever the options.
TEST(MeasureParticles, TracingSharedGivesTheSameObjects) {
  // Rings with a dot in their hole, tiled up to the picture's edges, between random specks.
  std::mt19937 random(11);
  TBitmap picture(7 * 24 + 3, 7 * 20 + 2, TPixelFormat::pf8bit);
  for (int y = 0; y < picture.Height(); ++y)
    for (int x = 0; x < picture.Width(); ++x)
      picture.ScanLine(y)[x] = y < 140 && x < 168 && kRing[y % 7][x % 7] == '#' ? 0
                               : random() % 9 == 0                              ? 0
                                                                                : 255;
  const TSet sets[] = {
      With([](TMeasureOptions&) {}),
      With([](TMeasureOptions& o) { o.includeHoles = true; }),
      With([](TMeasureOptions& o) { o.excludeEdges = true; }),
      With([](TMeasureOptions& o) { o.minArea = 2; }),
      With([](TMeasureOptions& o) { o.includeHoles = o.excludeEdges = true, o.maxArea = 20; }),
      With([](TMeasureOptions& o) { o.outlines = false; }),
  };
  ASSERT_GT(MeasureParticles(picture, {}).particles.size(), 256u);
  TParticleMeasurer shared(true);
  for (const TSet set : sets) {
    TMeasureOptions options;
    set(options);
    const TMeasurement alone = MeasureParticles(picture, options);
    EXPECT_EQ(Everything(shared.Measure(picture, options), options), Everything(alone, options));
  }
}

TEST(MeasurementTable, ImageJsDecimalsAndUnits) {
  TMeasureOptions options;
  const TMeasurement m = MeasureParticles(Drawn({"...", ".#.", "..."}), options);
  std::ostringstream table;
  WriteTableRows(table, m, options);
  EXPECT_EQ(TableHeader(options), "number,area,x,y,perimeter,bx,by,width,height,circularity");
  EXPECT_EQ(table.str(), "1,1,1.500,1.500,2.828,1,1,1,1,1.000\n");
  // Whole numbers lose their decimals only where the whole column is whole.
  std::ostringstream columns;
  WriteTableRows(columns, MeasureParticles(Drawn({"#.##"}), options), options);
  EXPECT_EQ(columns.str(),
            "1,1,0.500,0.500,2.828,0,0,1,1,1.000\n"
            "2,2,3.000,0.500,4.243,2,0,2,1,1.000\n");

  options.scale = 0.5;
  options.unit = "µm";
  const TMeasurement scaled = MeasureParticles(Drawn({"...", ".#.", "..."}), options);
  std::ostringstream rows, summary;
  WriteTableRows(rows, scaled, options, "a,b.png", {.fileColumn = true});
  EXPECT_EQ(TableHeader(options, {.fileColumn = true}),
            "file,number,area_µm^2,x_µm,y_µm,perimeter_µm,bx_µm,by_µm,width_µm,height_µm,"
            "circularity");
  EXPECT_EQ(rows.str(), "\"a,b.png\",1,0.250,0.750,0.750,1.414,0.500,0.500,0.500,0.500,1.000\n");
  WriteSummaryRow(summary, scaled.summary, "x.png", {.fileColumn = true, .separator = '\t'});
  EXPECT_EQ(SummaryHeader(options), "count,total_area_µm^2,average_size_µm^2,area_percent");
  EXPECT_EQ(summary.str(), "x.png\t1\t0.250\t0.250\t11.111\n");
}

TEST(MeasurementTable, ParseScale) {
  const struct {
    const char* text;
    std::optional<std::pair<double, std::string>> scale;
  } cases[] = {
      {"0.65um", std::pair{0.65, std::string("µm")}},
      {"2.5 mm", std::pair{2.5, std::string("mm")}},
      {"3", std::pair{3.0, std::string()}},
      {"0", std::nullopt},
      {"-1um", std::nullopt},
      {"um", std::nullopt},
      {"inf", std::nullopt},
      {"1 a,b", std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ParseScale(c.text), c.scale) << c.text;
}

}  // namespace
