#include "Commands.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "Grayscale.h"
#include "Laplacian.h"
#include "Threshold.h"

namespace {

constexpr std::array<TOperationInfo, 3> kOperations{{
    {TOperation::Grey, "gray", "灰階化", "grey levels of the picture, 8 bits per pixel", false,
     true},
    {TOperation::Binarize, "binarize", "二值化",
     "bytes below T (0 ... 255) become 0, the others 255", true, true},
    {TOperation::Edges, "edges", "邊緣化", "3 x 3 Laplacian edge image, borders wrapping around",
     false, false},
}};

}  // namespace

std::span<const TOperationInfo> Operations() {
  return kOperations;
}

const TOperationInfo& OperationInfo(TOperation operation) {
  return kOperations[static_cast<std::size_t>(operation)];
}

std::string StepWord(const TStep& step) {
  const TOperationInfo& info = OperationInfo(step.operation);
  std::string word = info.word;
  if (info.takesThreshold)
    word += '=' + (step.method ? std::string(ThresholdMethodInfo(*step.method).word)
                               : std::to_string(step.threshold));
  return word;
}

std::optional<TStep> ParseStepWord(std::string_view word) {
  const std::size_t equals = word.find('=');
  const std::string_view head = word.substr(0, equals);
  for (const TOperationInfo& info : kOperations) {
    if (head != info.word || info.takesThreshold != (equals != std::string_view::npos))
      continue;
    if (!info.takesThreshold)
      return TStep{info.operation};
    const std::string_view value = word.substr(equals + 1);
    if (const std::optional<TThresholdMethod> method = ThresholdMethodNamed(value))
      return TStep{info.operation, 0, method};
    int threshold = 0;
    const auto [end, fault] = std::from_chars(value.data(), value.data() + value.size(), threshold);
    if (value.empty() || value.size() > 3 || fault != std::errc() ||
        end != value.data() + value.size() || threshold < 0 || threshold > 255)
      return std::nullopt;
    return TStep{info.operation, threshold};
  }
  return std::nullopt;
}

std::string ShellQuoted(std::string_view word) {
  const auto safe = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("_./-+,:=@%").find(c) != std::string_view::npos;
  };
  if (!word.empty() && std::all_of(word.begin(), word.end(), safe))
    return std::string(word);
  std::string quoted = "'";
  for (const char c : word)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + '\'';
}

std::string ChainCommand(const TChain& chain, std::string_view input, std::string_view output) {
  // A name beginning with "-" would be read as an option, and "-" alone as standard input.
  const auto file = [](std::string_view name) {
    return ShellQuoted(name.starts_with('-') ? "./" + std::string(name) : std::string(name));
  };
  std::string command = "ccdlab-cli " + file(input) + ' ' + file(output);
  for (const TStep& step : chain)
    command += ' ' + StepWord(step);
  return command;
}

bool RunsRowByRow(const TStep& step) {
  // A method needs the whole picture's histogram before the first row.
  return OperationInfo(step.operation).rowByRow && !step.method;
}

const TBitmap& ImageToThreshold(const TBitmap& main, const TBitmap& processed) {
  return processed.Empty() ? main : processed;
}

std::optional<int> StepThreshold(const TStep& step, const TBitmap& picture) {
  if (!step.method)
    return step.threshold;
  return AutoThreshold(*step.method, ThresholdHistogram(picture));
}

void GreyCommand(const TBitmap& main, TBitmap& processed) {
  TBitmap result;
  ConvertToGrey(main, result);
  processed.Assign(std::move(result));
}

TBitmap& PrepareBinarize(const TBitmap& main, TBitmap& processed) {
  if (processed.Empty())
    processed.Assign(main);
  return processed;
}

void BinarizeCommand(TBitmap& processed, int threshold) {
  Threshold(processed, threshold);
  processed.Changed();
}

void EdgesCommand(TBitmap& processed) {
  Laplacian(processed);
  processed.Changed();
}

std::optional<int> RunStep(const TStep& step, const TBitmap& main, TBitmap& processed) {
  switch (step.operation) {
    case TOperation::Grey:
      GreyCommand(main, processed);
      break;
    case TOperation::Binarize: {
      TBitmap& source = PrepareBinarize(main, processed);
      const std::optional<int> threshold = StepThreshold(step, source);
      if (threshold)
        BinarizeCommand(source, *threshold);
      return threshold;
    }
    case TOperation::Edges:
      EdgesCommand(processed);
      break;
  }
  return std::nullopt;
}

void RunChain(const TChain& chain, const TBitmap& main, TBitmap& processed) {
  // The first step works on the main image, as the command line's first step works on its
  // input: grey reads it anyway, the others find it in the processed image. No steps: a copy.
  if (chain.empty() || chain.front().operation != TOperation::Grey)
    processed.Assign(main);
  else
    processed = TBitmap();
  for (const TStep& step : chain)
    RunStep(step, main, processed);
}
