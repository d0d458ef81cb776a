// SPDX-License-Identifier: GPL-3.0-or-later
// The automatic thresholds: the one pass that counts a picture's colour bytes, next to memcpy of
// the same bytes, and each method on a photograph's histogram.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "AutoThreshold.h"
#include "BenchPictures.h"
#include "Bitmap.h"

namespace {

std::int64_t Bytes(const TBitmap& picture) {
  return static_cast<std::int64_t>(picture.RowBytes()) * picture.Height();
}

void CopyBytes(benchmark::State& state, TPixelFormat format) {
  const TBitmap source = PhotoLike(format, 11);
  TBitmap target(source.Width(), source.Height(), format);
  const std::size_t bytes = source.Stride() * source.Height();
  for (auto _ : state) {
    std::memcpy(target.ScanLine(0), source.ScanLine(0), bytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * Bytes(source));
}

void Count(benchmark::State& state, TPixelFormat format) {
  const TBitmap picture = PhotoLike(format, 11);
  for (auto _ : state)
    benchmark::DoNotOptimize(ThresholdHistogram(picture));
  state.SetBytesProcessed(state.iterations() * Bytes(picture));
}

void Method(benchmark::State& state, TThresholdMethod method) {
  const THistogram::Counts histogram = ThresholdHistogram(PhotoLike(TPixelFormat::pf24bit, 11));
  for (auto _ : state)
    benchmark::DoNotOptimize(ImageJThreshold(method, histogram));
}

}  // namespace

void RegisterAutoThreshold() {
  benchmark::RegisterBenchmark("memcpy_8bit", CopyBytes, TPixelFormat::pf8bit)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("ccdlab/threshold_histogram", Count, TPixelFormat::pf8bit)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("memcpy_24bit", CopyBytes, TPixelFormat::pf24bit)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("ccdlab/threshold_histogram_rgb", Count, TPixelFormat::pf24bit)
      ->Unit(benchmark::kMillisecond);
  for (const TThresholdMethodInfo& info : ThresholdMethods())
    benchmark::RegisterBenchmark((std::string("ccdlab/auto_threshold/") + info.word).c_str(),
                                 Method, info.method)
        ->Unit(benchmark::kMicrosecond);
}
