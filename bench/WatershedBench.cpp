// SPDX-License-Identifier: GPL-3.0-or-later
// The distance-map watershed on a 6000 × 4000 picture of touching discs, next to OpenCV's exact
// Euclidean distance transform of the same picture (OpenCV has no watershed of a binary picture;
// the distance map is the nearest job it does).
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "BenchPictures.h"
#include "Bitmap.h"
#include "Watershed.h"

namespace {

// Black discs of radius 20 to 28 on a white ground, centres 44 pixels apart with a little jitter,
// so that most touch their neighbours through a neck.
TBitmap TouchingDiscs() {
  TBitmap bitmap(kBenchWidth, kBenchHeight, TPixelFormat::pf8bit);
  bitmap.SetPalette(TPalette::Grey());
  for (int y = 0; y < bitmap.Height(); ++y)
    std::memset(bitmap.ScanLine(y), 255, bitmap.RowBytes());
  constexpr int kSpacing = 44;
  std::uint32_t state = 2024;
  const auto next = [&state](int range) {
    state = state * 1664525u + 1013904223u;
    return static_cast<int>((state >> 8) % static_cast<std::uint32_t>(range));
  };
  for (int cy = kSpacing / 2; cy < kBenchHeight; cy += kSpacing)
    for (int cx = kSpacing / 2; cx < kBenchWidth; cx += kSpacing) {
      const int x0 = cx + next(9) - 4, y0 = cy + next(9) - 4, r = 20 + next(9);
      for (int y = std::max(0, y0 - r); y <= std::min(kBenchHeight - 1, y0 + r); ++y) {
        std::uint8_t* row = bitmap.ScanLine(y);
        for (int x = std::max(0, x0 - r); x <= std::min(kBenchWidth - 1, x0 + r); ++x)
          if ((x - x0) * (x - x0) + (y - y0) * (y - y0) <= r * r)
            row[x] = 0;
      }
    }
  return bitmap;
}

void CcdlabWatershed(benchmark::State& state) {
  const TBitmap source = TouchingDiscs();
  TBitmap target;
  for (auto _ : state) {
    // The fresh copy is the harness's, not the watershed's: OpenCV's side has none.
    state.PauseTiming();
    target.Assign(source);
    state.ResumeTiming();
    Watershed(target);
    benchmark::ClobberMemory();
  }
}

void OpencvWatershed(benchmark::State& state) {
  TBitmap source = TouchingDiscs();
  cv::Mat discs(source.Height(), source.Width(), CV_8UC1, source.ScanLine(0), source.Stride());
  // OpenCV measures from zero pixels, the discs' distances from the ground: the picture inverted.
  cv::Mat objects;
  cv::bitwise_not(discs, objects);
  cv::Mat distances;
  for (auto _ : state) {
    cv::distanceTransform(objects, distances, cv::DIST_L2, cv::DIST_MASK_PRECISE, CV_32F);
    benchmark::ClobberMemory();
  }
}

}  // namespace

void RegisterWatershed() {
  benchmark::RegisterBenchmark("ccdlab/watershed", CcdlabWatershed)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("opencv/watershed", OpencvWatershed)->Unit(benchmark::kMillisecond);
}
