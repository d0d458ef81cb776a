// SPDX-License-Identifier: GPL-3.0-or-later
// The binary commands on a 6000 × 4000 black-and-white picture, single-threaded, beside OpenCV's
// 3 × 3 morphology. ImageJ's black objects on white turn OpenCV's words round: eroding black is
// OpenCV's dilate (the largest byte), dilating black its erode; outside the picture lies white.
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cstddef>
#include <cstdint>

#include "BenchPictures.h"
#include "Binary.h"
#include "Bitmap.h"
#include "Threshold.h"

namespace {

// Black and white areas with ragged edges: the photograph-like picture thresholded.
TBitmap BlackAndWhite() {
  TBitmap bitmap = PhotoLike(TPixelFormat::pf8bit, 11);
  Threshold(bitmap, 128);
  return bitmap;
}

cv::Mat Wrap(TBitmap& bitmap) {
  return cv::Mat(bitmap.Height(), bitmap.Width(), CV_8UC1, bitmap.ScanLine(0), bitmap.Stride());
}

void Count(benchmark::State& state, const TBitmap& bitmap) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(bitmap.Stride()) * bitmap.Height());
}

// In place, as the command runs; the cost does not depend on the bytes, so each run works on
// the previous result.
template <void (*Command)(TBitmap&)>
void Ccdlab(benchmark::State& state) {
  TBitmap bitmap = BlackAndWhite();
  for (auto _ : state) {
    Command(bitmap);
    benchmark::ClobberMemory();
  }
  Count(state, bitmap);
}

// Each run on the picture itself, restored outside the timing: the cost follows the objects.
template <void (*Command)(TBitmap&)>
void CcdlabFromPicture(benchmark::State& state) {
  const TBitmap picture = BlackAndWhite();
  TBitmap bitmap;
  for (auto _ : state) {
    state.PauseTiming();
    bitmap.Assign(picture);
    state.ResumeTiming();
    Command(bitmap);
    benchmark::ClobberMemory();
  }
  Count(state, bitmap);
}

template <int Operation>
void Opencv(benchmark::State& state) {
  TBitmap bitmap = BlackAndWhite();
  TBitmap target(bitmap.Width(), bitmap.Height(), TPixelFormat::pf8bit);
  cv::Mat in = Wrap(bitmap);
  cv::Mat out = Wrap(target);
  const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3));
  for (auto _ : state) {
    cv::morphologyEx(in, out, Operation, kernel, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
                     cv::Scalar(255));
    benchmark::ClobberMemory();
  }
  Count(state, bitmap);
}

}  // namespace

void RegisterBinary() {
  const auto add = [](const char* name, void (*fn)(benchmark::State&)) {
    benchmark::RegisterBenchmark(name, fn)->Unit(benchmark::kMillisecond);
  };
  add("ccdlab/erode", Ccdlab<Erode>);
  add("opencv/erode", Opencv<cv::MORPH_DILATE>);
  add("ccdlab/dilate", Ccdlab<Dilate>);
  add("opencv/dilate", Opencv<cv::MORPH_ERODE>);
  add("ccdlab/open", Ccdlab<Open>);
  add("opencv/open", Opencv<cv::MORPH_CLOSE>);
  add("ccdlab/close", Ccdlab<Close>);
  add("opencv/close", Opencv<cv::MORPH_OPEN>);
  add("ccdlab/outline", Ccdlab<Outline>);
  add("ccdlab/fill-holes", CcdlabFromPicture<FillHoles>);
  add("ccdlab/skeletonize", CcdlabFromPicture<Skeletonize>);
}
