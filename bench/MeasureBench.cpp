// SPDX-License-Identifier: GPL-3.0-or-later
// Counting and measuring the objects of a black-and-white 6000 × 4000 picture beside OpenCV's
// labelling with statistics (8-connected, one thread), which finds fewer numbers: no perimeter,
// no outline.
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdint>

#include "BenchPictures.h"
#include "Bitmap.h"
#include "Measurement.h"

namespace {

// Tens of thousands of black blobs on white, of many sizes, some touching: what a thresholded
// micrograph of cells or particles looks like.
TBitmap Particles() {
  TBitmap bitmap(kBenchWidth, kBenchHeight, TPixelFormat::pf8bit);
  for (int y = 0; y < bitmap.Height(); ++y)
    std::fill_n(bitmap.ScanLine(y), bitmap.Width(), 255);
  std::uint32_t state = 12345;
  const auto next = [&] {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  for (int i = 0; i < 40000; ++i) {
    const int cx = static_cast<int>(next() % kBenchWidth);
    const int cy = static_cast<int>(next() % kBenchHeight);
    const int r = 1 + static_cast<int>(next() % 12);
    // A ragged disc: each row's half width wobbles by a pixel.
    for (int dy = -r; dy <= r; ++dy) {
      const int y = cy + dy;
      if (y < 0 || y >= kBenchHeight)
        continue;
      int half = 0;
      while ((half + 1) * (half + 1) + dy * dy <= r * r)
        ++half;
      half += static_cast<int>(next() % 3) - 1;
      for (int x = std::max(0, cx - half); x <= std::min(kBenchWidth - 1, cx + half); ++x)
        bitmap.ScanLine(y)[x] = 0;
    }
  }
  return bitmap;
}

const TBitmap& Picture() {
  static const TBitmap picture = Particles();
  return picture;
}

void CcdlabMeasure(benchmark::State& state) {
  TMeasureOptions options;
  options.outlines = state.range(0) != 0;
  std::size_t count = 0;
  for (auto _ : state) {
    const TMeasurement measurement = MeasureParticles(Picture(), options);
    count = measurement.particles.size();
    benchmark::DoNotOptimize(count);
  }
  state.counters["objects"] = static_cast<double>(count);
}

// A live frame's worth: the picture's top-left 1920 × 1080, measured with outlines, as the live
// view draws them.
void CcdlabMeasure1080p(benchmark::State& state) {
  TBitmap frame(1920, 1080, TPixelFormat::pf8bit);
  for (int y = 0; y < frame.Height(); ++y)
    std::copy_n(Picture().ScanLine(y), frame.Width(), frame.ScanLine(y));
  std::size_t count = 0;
  for (auto _ : state) {
    count = MeasureParticles(frame, {}).particles.size();
    benchmark::DoNotOptimize(count);
  }
  state.counters["objects"] = static_cast<double>(count);
}

void OpencvConnectedComponents(benchmark::State& state) {
  const TBitmap& picture = Picture();
  // OpenCV takes non-zero pixels as objects: the inverted picture, made once.
  cv::Mat in(picture.Height(), picture.Width(), CV_8UC1,
             const_cast<std::uint8_t*>(picture.ScanLine(0)), picture.Stride());
  cv::Mat objects = 255 - in;
  cv::Mat labels, stats, centroids;
  int count = 0;
  for (auto _ : state) {
    count = cv::connectedComponentsWithStats(objects, labels, stats, centroids, 8, CV_32S);
    benchmark::DoNotOptimize(count);
  }
  state.counters["objects"] = count - 1;
}

}  // namespace

void RegisterMeasureBenchmarks() {
  benchmark::RegisterBenchmark("ccdlab/measure", CcdlabMeasure)
      ->Unit(benchmark::kMillisecond)
      ->ArgName("outlines")
      ->Arg(0)
      ->Arg(1);
  benchmark::RegisterBenchmark("ccdlab/measure_1080p", CcdlabMeasure1080p)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("opencv/connected_components", OpencvConnectedComponents)
      ->Unit(benchmark::kMillisecond);
}
