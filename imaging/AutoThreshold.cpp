#include "AutoThreshold.h"

#include <array>

namespace {

constexpr std::array<TThresholdMethodInfo, 16> kMethods{{
    {TThresholdMethod::Default, "Default", "default"},
    {TThresholdMethod::Huang, "Huang", "huang"},
    {TThresholdMethod::Intermodes, "Intermodes", "intermodes"},
    {TThresholdMethod::IsoData, "IsoData", "isodata"},
    {TThresholdMethod::Li, "Li", "li"},
    {TThresholdMethod::MaxEntropy, "MaxEntropy", "maxentropy"},
    {TThresholdMethod::Mean, "Mean", "mean"},
    {TThresholdMethod::MinError, "MinError", "minerror"},
    {TThresholdMethod::Minimum, "Minimum", "minimum"},
    {TThresholdMethod::Moments, "Moments", "moments"},
    {TThresholdMethod::Otsu, "Otsu", "otsu"},
    {TThresholdMethod::Percentile, "Percentile", "percentile"},
    {TThresholdMethod::RenyiEntropy, "RenyiEntropy", "renyientropy"},
    {TThresholdMethod::Shanbhag, "Shanbhag", "shanbhag"},
    {TThresholdMethod::Triangle, "Triangle", "triangle"},
    {TThresholdMethod::Yen, "Yen", "yen"},
}};

}  // namespace

std::span<const TThresholdMethodInfo> ThresholdMethods() {
  return kMethods;
}

const TThresholdMethodInfo& ThresholdMethodInfo(TThresholdMethod method) {
  return kMethods[static_cast<std::size_t>(method)];
}

std::optional<TThresholdMethod> ThresholdMethodNamed(std::string_view word) {
  for (const TThresholdMethodInfo& info : kMethods)
    if (word == info.word)
      return info.method;
  return std::nullopt;
}

THistogram::Counts ThresholdHistogram(const TBitmap& picture) {
  // Stand-in until the counting pass lands.
  const THistogram h = ComputeHistogram(picture);
  THistogram::Counts all{};
  for (int c = 0; c < std::min(h.channels, 3); ++c)
    for (int v = 0; v < THistogram::Levels; ++v)
      all[v] += h.channel[c][v];
  return all;
}

std::optional<int> ImageJThreshold(TThresholdMethod, const THistogram::Counts&) {
  return std::nullopt;  // stand-in until the methods land
}

std::optional<int> AutoThreshold(TThresholdMethod method, const THistogram::Counts& histogram) {
  const std::optional<int> t = ImageJThreshold(method, histogram);
  if (!t)
    return std::nullopt;
  return *t + 1;
}
