// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "Bitmap.h"
#include "Histogram.h"

// ImageJ's automatic threshold methods, on a 256-bin histogram. Each gives ImageJ's threshold t:
// the bytes at or below t are one class, those above it the other.
enum class TThresholdMethod {
  Default,
  Huang,
  Intermodes,
  IsoData,
  Li,
  MaxEntropy,
  Mean,
  MinError,
  Minimum,
  Moments,
  Otsu,
  Percentile,
  RenyiEntropy,
  Shanbhag,
  Triangle,
  Yen,
};

struct TThresholdMethodInfo {
  TThresholdMethod method;
  const char* name;  // ImageJ's, as the menus list it: "Default", "MaxEntropy", …
  const char* word;  // the command line's: the name in lower case
};

// All of them, in ImageJ's order.
std::span<const TThresholdMethodInfo> ThresholdMethods();
const TThresholdMethodInfo& ThresholdMethodInfo(TThresholdMethod method);
// The method whose command-line word this is, in any case ("Otsu", "OTSU"), or none.
std::optional<TThresholdMethod> ThresholdMethodNamed(std::string_view word);

// What a method sees of a picture: the bytes the binarize step thresholds, an 8-bit picture's
// bytes or a colour picture's colour bytes (not alpha) all counted together.
THistogram::Counts ThresholdHistogram(const TBitmap& picture);

// ImageJ's t for the histogram, or none where the histogram gives none (nothing counted).
std::optional<int> ImageJThreshold(TThresholdMethod method, const THistogram::Counts& histogram);

// The threshold of the binarize step, T = t + 1 (bytes below T become 0): 1 … 256.
std::optional<int> AutoThreshold(TThresholdMethod method, const THistogram::Counts& histogram);
