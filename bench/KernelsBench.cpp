// SPDX-License-Identifier: GPL-3.0-or-later
// The pixel operations on 6000 × 4000 pictures, single-threaded, next to the physical limit of a
// read-and-write pass (memcpy) and to what OpenCV does for the same job. bench/run.sh runs this
// and prints the medians against the goals.
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdint>
#include <cstring>
#include <vector>

#include "BenchPictures.h"
#include "Bitmap.h"
#include "Grayscale.h"
#include "Laplacian.h"
#include "Simd.h"
#include "Threshold.h"

// AutoThresholdBench.cpp
void RegisterAutoThreshold();
// SliderStepBench.cpp
void SliderStep(benchmark::State& state);
// PictureFilesBench.cpp
void OpenPng(benchmark::State& state);
void OpenJpeg(benchmark::State& state);
void PreviewJpeg(benchmark::State& state);
// ViewerBench.cpp
void ViewerPaintFit(benchmark::State& state);
void ViewerPaintZoom(benchmark::State& state);
void ViewerReduce(benchmark::State& state);
void Histogram(benchmark::State& state);
void HistogramRgb(benchmark::State& state);
// LiveBench.cpp
void RegisterLiveBenchmarks();
// MeasureBench.cpp
void RegisterMeasureBenchmarks();
void TryAll(benchmark::State& state);
void TryAllRgb(benchmark::State& state);

namespace {

constexpr int kWidth = kBenchWidth;
constexpr int kHeight = kBenchHeight;
constexpr int kThreshold = 128;

TBitmap Picture(TPixelFormat format, std::uint32_t seed) {
  return PhotoLike(format, seed);
}

TPalette RandomPalette() {
  std::vector<TPaletteEntry> entries(TPalette::MaxEntries);
  std::uint32_t state = 12345;
  for (auto& e : entries) {
    state = state * 1664525u + 1013904223u;
    e = TPaletteEntry{static_cast<std::uint8_t>(state >> 24),
                      static_cast<std::uint8_t>(state >> 16), static_cast<std::uint8_t>(state >> 8),
                      0};
  }
  return TPalette(std::move(entries));
}

// The bitmap's pixels as an OpenCV matrix, without copying.
cv::Mat Wrap(TBitmap& bitmap) {
  const int type = bitmap.BytesPerPixel() == 1 ? CV_8UC1 : CV_8UC(bitmap.BytesPerPixel());
  return cv::Mat(bitmap.Height(), bitmap.Width(), type, bitmap.ScanLine(0), bitmap.Stride());
}

// Runs `job` once an iteration; the throughput counts the bytes of `measured`.
template <class Job>
void Repeat(benchmark::State& state, const TBitmap& measured, Job job) {
  for (auto _ : state) {
    job();
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(measured.Stride()) * measured.Height());
}

void Memcpy(benchmark::State& state) {
  TBitmap source = Picture(TPixelFormat::pf8bit, 1);
  TBitmap target(kWidth, kHeight, TPixelFormat::pf8bit);
  const std::size_t bytes = source.Stride() * source.Height();
  Repeat(state, source, [&] { std::memcpy(target.ScanLine(0), source.ScanLine(0), bytes); });
}

// The slider's work: the preview thresholded from the unchanged source.
void CcdlabThreshold(benchmark::State& state) {
  TBitmap source = Picture(TPixelFormat::pf8bit, 2);
  TBitmap target(kWidth, kHeight, TPixelFormat::pf8bit);
  Repeat(state, source, [&] { ThresholdInto(source, target, kThreshold); });
}

void OpencvThreshold(benchmark::State& state) {
  TBitmap source = Picture(TPixelFormat::pf8bit, 2);
  TBitmap target(kWidth, kHeight, TPixelFormat::pf8bit);
  cv::Mat in = Wrap(source);
  cv::Mat out = Wrap(target);
  Repeat(state, source, [&] {
    // Above t - 1 is at least t.
    cv::threshold(in, out, kThreshold - 1, 255, cv::THRESH_BINARY);
  });
}

TBitmap IndexedPicture() {
  TBitmap bitmap = Picture(TPixelFormat::pf8bit, 3);
  bitmap.SetPalette(RandomPalette());
  return bitmap;
}

void CcdlabGrayscaleIndexed(benchmark::State& state) {
  TBitmap source = IndexedPicture();
  TBitmap result(kWidth, kHeight, TPixelFormat::pf8bit);
  Repeat(state, source, [&] { ConvertToGrey(source, result); });
}

void OpencvGrayscaleIndexed(benchmark::State& state) {
  TBitmap source = IndexedPicture();
  TBitmap result(kWidth, kHeight, TPixelFormat::pf8bit);
  cv::Mat table(1, 256, CV_8UC1);
  for (int i = 0; i < 256; ++i) {
    const TPaletteEntry& e = source.Palette()->Entries()[i];
    table.at<std::uint8_t>(i) = GreyLevel(e.peRed, e.peGreen, e.peBlue);
  }
  cv::Mat in = Wrap(source);
  cv::Mat out = Wrap(result);
  Repeat(state, source, [&] { cv::LUT(in, table, out); });
}

void CcdlabGrayscaleRgb(benchmark::State& state) {
  TBitmap source = Picture(TPixelFormat::pf24bit, 4);
  TBitmap result(kWidth, kHeight, TPixelFormat::pf8bit);
  Repeat(state, source, [&] { ConvertToGrey(source, result); });
}

void OpencvGrayscaleRgb(benchmark::State& state) {
  TBitmap source = Picture(TPixelFormat::pf24bit, 4);
  TBitmap result(kWidth, kHeight, TPixelFormat::pf8bit);
  cv::Mat in = Wrap(source);
  cv::Mat out = Wrap(result);
  Repeat(state, source, [&] { cv::cvtColor(in, out, cv::COLOR_BGR2GRAY); });
}

// In place, as the edge command runs; every run works on the previous result, which costs the
// same as the first.
void CcdlabLaplacian(benchmark::State& state) {
  TBitmap bitmap = Picture(TPixelFormat::pf8bit, 5);
  Repeat(state, bitmap, [&] { Laplacian(bitmap); });
}

void OpencvLaplacian(benchmark::State& state) {
  TBitmap bitmap = Picture(TPixelFormat::pf8bit, 5);
  cv::Mat in = Wrap(bitmap);
  cv::Mat padded;
  cv::Mat out(kHeight, kWidth, CV_8UC1);
  const cv::Mat kernel = (cv::Mat_<float>(3, 3) << -1, -1, -1, -1, 8, -1, -1, -1, -1);
  Repeat(state, bitmap, [&] {
    cv::copyMakeBorder(in, padded, 1, 1, 1, 1, cv::BORDER_WRAP);
    // Filtering the inner part of the padded picture reads the wrapped border as neighbours.
    cv::filter2D(padded(cv::Rect(1, 1, kWidth, kHeight)), out, CV_8U, kernel);
  });
}

void Register() {
  const auto add = [](const char* name, void (*fn)(benchmark::State&)) {
    benchmark::RegisterBenchmark(name, fn)->Unit(benchmark::kMillisecond);
  };
  add("memcpy", Memcpy);
  add("ccdlab/threshold", CcdlabThreshold);
  add("opencv/threshold", OpencvThreshold);
  add("ccdlab/grayscale_indexed", CcdlabGrayscaleIndexed);
  add("opencv/grayscale_indexed", OpencvGrayscaleIndexed);
  add("ccdlab/grayscale_rgb", CcdlabGrayscaleRgb);
  add("opencv/grayscale_rgb", OpencvGrayscaleRgb);
  add("ccdlab/laplacian", CcdlabLaplacian);
  add("opencv/laplacian", OpencvLaplacian);
  add("ccdlab/slider_step", SliderStep);
  add("ccdlab/open_png", OpenPng);
  add("ccdlab/open_jpeg", OpenJpeg);
  add("ccdlab/preview_jpeg", PreviewJpeg);
  add("ccdlab/viewer_paint_fit", ViewerPaintFit);
  // Zoom in per cent: smoothly from the picture itself, at full size, and as squares.
  benchmark::RegisterBenchmark("ccdlab/viewer_paint_zoom", ViewerPaintZoom)
      ->Unit(benchmark::kMillisecond)
      ->Arg(67)
      ->Arg(100)
      ->Arg(400)
      ->Arg(3200);
  add("ccdlab/viewer_reduce", ViewerReduce);
  add("ccdlab/histogram", Histogram);
  add("ccdlab/histogram_rgb", HistogramRgb);
  add("ccdlab/try_all", TryAll);
  add("ccdlab/try_all_rgb", TryAllRgb);
  RegisterAutoThreshold();
  RegisterLiveBenchmarks();
  RegisterMeasureBenchmarks();
}

}  // namespace

int main(int argc, char** argv) {
  cv::setNumThreads(1);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  benchmark::AddCustomContext("ccdlab_simd", SimdTargetName(ActiveSimdTarget()));
  benchmark::AddCustomContext("opencv", cv::getVersionString());
  Register();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
