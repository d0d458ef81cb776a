// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <iosfwd>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Bitmap.h"

// Objects of a black-and-white picture counted and measured as ImageJ's Analyze Particles does:
// the same objects, the same numbers, the same order.

struct TMeasureOptions {
  bool whiteObjects = false;  // objects of byte 255 instead of 0 (ImageJ's "Black background")
  // Size range in scaled units (unit² with a scale, else pixels), both ends included.
  double minArea = 0;
  double maxArea = std::numeric_limits<double>::infinity();
  bool excludeEdges = false;  // leave out objects that touch the picture's edge
  // Areas count their holes; objects inside holes are not counted.
  bool includeHoles = false;
  double scale = 1;  // length units per pixel
  std::string unit;  // "" = pixels
  // Keep the outlines (TMeasurement::Outline); without them measuring is faster.
  bool outlines = true;
};

struct TParticle {
  int number = 0;        // from 1, by the raster position of the object's first pixel
  double area = 0;       // scaled: pixels × scale²
  double x = 0, y = 0;   // centroid, pixel centres at +0.5, scaled
  double perimeter = 0;  // ImageJ's traced perimeter with its corner correction, scaled
  int bx = 0, by = 0, width = 0, height = 0;  // bounding box in pixels, unscaled
  double circularity = 0;                     // 4π·area/perimeter², at most 1
  // Where TMeasurement::outlines holds this object's outline.
  std::size_t outlineStart = 0, outlineSize = 0;
};

struct TSummary {
  int count = 0;
  double totalArea = 0;     // scaled
  double averageSize = 0;   // totalArea / count; 0 without objects
  double areaFraction = 0;  // percent of the picture's pixels that are object pixels, as ImageJ's
                            // "%Area" (the counted objects' areas over the picture's area)
};

struct TMeasurement {
  std::vector<TParticle> particles;
  TSummary summary;
  // Every object's traced outer outline, one after another, in one buffer rather than one each:
  // a live frame has thousands. Vertices in pixel-corner coordinates ((0, 0) is the top-left
  // corner of the top-left pixel), clockwise on screen, one vertex per change of direction.
  // Empty unless TMeasureOptions::outlines; it may also hold outlines of objects left out.
  std::vector<std::pair<int, int>> outlines;

  std::span<const std::pair<int, int>> Outline(const TParticle& particle) const {
    return std::span(outlines).subspan(particle.outlineStart, particle.outlineSize);
  }
};

// Raises TRefusedPicture (Commands.h) with KindRefusal(TPictureKind::BlackAndWhite) for a picture
// that is not 8-bit black and white, std::invalid_argument for a scale that is not a positive
// number. An empty picture has no objects.
TMeasurement MeasureParticles(const TBitmap& picture, const TMeasureOptions& options);

// MeasureParticles for picture after picture, as the live view measures every frame: the working
// memory stays from one picture to the next. One picture at a time. `shareTracing`: the outlines
// of a picture of many objects are traced on two threads, for a caller that has a core to spare
// (not one that already measures a picture on every core).
class TParticleMeasurer {
 public:
  explicit TParticleMeasurer(bool shareTracing = false);
  ~TParticleMeasurer();
  TParticleMeasurer(TParticleMeasurer&&) noexcept;
  TParticleMeasurer& operator=(TParticleMeasurer&&) noexcept;

  TMeasurement Measure(const TBitmap& picture, const TMeasureOptions& options);

 private:
  struct TBuffers;
  std::unique_ptr<TBuffers> buffers_;
  bool shareTracing_ = false;
};

// A scale as written on the command line: "0.65um", "2.5 mm", "1.2" (no unit); "um" becomes "µm".
// None for a value that is not a positive finite number.
std::optional<std::pair<double, std::string>> ParseScale(std::string_view text);

// CSV, ImageJ's three decimals, the unit in the header ("area_um^2", "x_um"); the first column
// `file` where `file` is given. `separator` ',' for CSV, '\t' for a spreadsheet's clipboard.
struct TTableStyle {
  bool fileColumn = false;
  char separator = ',';
};
std::string TableHeader(const TMeasureOptions& options, const TTableStyle& style = {});
// The rows of the table, one a line, without the header.
void WriteTableRows(std::ostream& out, const TMeasurement& measurement,
                    const TMeasureOptions& options, std::string_view file = {},
                    const TTableStyle& style = {});
std::string SummaryHeader(const TMeasureOptions& options, const TTableStyle& style = {});
void WriteSummaryRow(std::ostream& out, const TSummary& summary, std::string_view file = {},
                     const TTableStyle& style = {});
// A CSV field quoted where it must be (a separator, quote or line break in it).
std::string CsvField(std::string_view text, char separator = ',');
