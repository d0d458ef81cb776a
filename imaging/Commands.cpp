// SPDX-License-Identifier: GPL-3.0-or-later
#include "Commands.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "Grayscale.h"
#include "Histogram.h"
#include "Laplacian.h"
#include "Threshold.h"
#include "Watershed.h"

namespace {

// The operations that work in place run on a copy of a source that is not their target.
void CopyUnlessSame(const TBitmap& source, TBitmap& target) {
  if (&source != &target)
    target.Assign(source);
}

void GreyPicture(const TBitmap& source, TBitmap& target, int) {
  TBitmap grey;
  ConvertToGrey(source, grey);
  target.Assign(std::move(grey));
}

void GreyRows(const TBitmap& source, TBitmap& target, int, int first, int last) {
  ConvertToGreyRows(source, target, first, last);
}

TBitmap GreyTarget(const TBitmap& source) {
  TBitmap grey(source.Width(), source.Height(), TPixelFormat::pf8bit);
  grey.SetPalette(TPalette::Grey());
  return grey;
}

void BinarizePicture(const TBitmap& source, TBitmap& target, int threshold) {
  CopyUnlessSame(source, target);
  Threshold(target, threshold);
  target.Changed();
}

void BinarizeRows(const TBitmap& source, TBitmap& target, int threshold, int first, int last) {
  ThresholdRows(source, target, threshold, first, last);
}

void EdgesPicture(const TBitmap& source, TBitmap& target, int) {
  CopyUnlessSame(source, target);
  Laplacian(target);
  target.Changed();
}

void WatershedPicture(const TBitmap& source, TBitmap& target, int) {
  CopyUnlessSame(source, target);
  Watershed(target);
  target.Changed();
}

// What the table's entries need not say: what follows from the rest.
constexpr TOperationInfo Declared(TOperationInfo info) {
  info.takesThreshold = info.parameter && info.parameter->methods;
  info.rowByRow = info.runRows != nullptr;
  return info;
}

constexpr std::array kOperations{
    Declared({.operation = TOperation::Grey,
              .word = "gray",
              .name = "灰階化",
              .summary = "grey levels of the picture, 8 bits per pixel",
              .parameter = std::nullopt,
              .input = TInput::Main,
              .accepts = TPictureKind::Any,
              .run = GreyPicture,
              .runRows = GreyRows,
              .bandTarget = GreyTarget}),
    Declared({.operation = TOperation::Binarize,
              .word = "binarize",
              .name = "二值化",
              .summary = "bytes below T (0 ... 255) become 0, the others 255",
              .parameter = TParameterInfo{"T", 0, 255, 128, true},
              .input = TInput::ProcessedOrMain,
              .accepts = TPictureKind::Any,
              .run = BinarizePicture,
              .runRows = BinarizeRows}),
    Declared({.operation = TOperation::Edges,
              .word = "edges",
              .name = "邊緣化",
              .summary = "3 x 3 Laplacian edge image, borders wrapping around",
              .parameter = std::nullopt,
              .input = TInput::Processed,
              .accepts = TPictureKind::Any,
              .run = EdgesPicture}),
    Declared({.operation = TOperation::Watershed,
              .word = "watershed",
              .name = "分水嶺",
              .summary = "touching black objects cut apart along the necks of their distance map",
              .parameter = std::nullopt,
              .input = TInput::ProcessedOrMain,
              .accepts = TPictureKind::BlackAndWhite,
              .run = WatershedPicture,
              .menu = "二元"}),
};

constexpr bool InEnumOrder() {
  for (std::size_t i = 0; i < kOperations.size(); ++i)
    if (static_cast<std::size_t>(kOperations[i].operation) != i)
      return false;
  return true;
}
static_assert(InEnumOrder(), "OperationInfo finds an operation's record by its number");

// Runs the operation on `source` into `target`.
std::optional<int> Run(const TStep& step, const TBitmap& source, TBitmap& target) {
  const TOperationInfo& info = OperationInfo(step.operation);
  const std::optional<int> parameter = info.parameter ? StepThreshold(step, source) : 0;
  if (!parameter)
    return std::nullopt;
  info.run(source, target, *parameter);
  return info.parameter ? parameter : std::nullopt;
}

void RefuseUnlessTaken(const TStep& step, const TBitmap& picture) {
  const TPictureKind kind = OperationInfo(step.operation).accepts;
  if (!IsOfKind(picture, kind))
    throw TRefusedPicture(KindRefusal(kind));
}

// The first step works on the main image, whichever its input, as the command line's first
// step works on its input. `spare`: the main image, to be moved rather than copied.
std::optional<int> RunFirstStep(const TStep& step, const TBitmap& main, TBitmap& processed,
                                TBitmap* spare) {
  RefuseUnlessTaken(step, main);
  if (spare == nullptr || OperationInfo(step.operation).input == TInput::Main)
    return Run(step, main, processed);
  processed = std::move(*spare);
  return Run(step, processed, processed);
}

}  // namespace

bool IsOfKind(const TBitmap& picture, TPictureKind kind) {
  if (picture.Empty())
    return true;
  switch (kind) {
    case TPictureKind::Any:
      return true;
    case TPictureKind::BlackAndWhite: {
      if (picture.PixelFormat() != TPixelFormat::pf8bit)
        return false;
      const THistogram::Counts counts = ThresholdHistogram(picture);
      return std::all_of(counts.begin() + 1, counts.end() - 1,
                         [](std::uint64_t count) { return count == 0; });
    }
  }
  return false;
}

const char* KindRefusal(TPictureKind kind) {
  switch (kind) {
    case TPictureKind::Any:
      break;
    case TPictureKind::BlackAndWhite:
      return "需要黑白影像：請先二值化";
  }
  return "";
}

std::span<const TOperationInfo> Operations() {
  return kOperations;
}

const TOperationInfo& OperationInfo(TOperation operation) {
  return kOperations[static_cast<std::size_t>(operation)];
}

std::string StepWord(const TStep& step) {
  const TOperationInfo& info = OperationInfo(step.operation);
  std::string word = info.word;
  if (info.parameter)
    word += '=' + (step.method ? std::string(ThresholdMethodInfo(*step.method).word)
                               : std::to_string(step.threshold));
  return word;
}

std::optional<TStep> ParseStepWord(std::string_view word) {
  const std::size_t equals = word.find('=');
  const std::string_view head = word.substr(0, equals);
  for (const TOperationInfo& info : kOperations) {
    if (head != info.word || info.parameter.has_value() != (equals != std::string_view::npos))
      continue;
    if (!info.parameter)
      return TStep{info.operation};
    const TParameterInfo& parameter = *info.parameter;
    const std::string_view value = word.substr(equals + 1);
    if (parameter.methods)
      if (const std::optional<TThresholdMethod> method = ThresholdMethodNamed(value))
        return TStep{info.operation, 0, method};
    // A number no longer than the largest one: no run of leading zeros.
    int number = 0;
    const auto [end, fault] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (value.empty() || value.size() > std::to_string(parameter.maximum).size() ||
        fault != std::errc() || end != value.data() + value.size() || number < parameter.minimum ||
        number > parameter.maximum)
      return std::nullopt;
    return TStep{info.operation, number};
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

const TBitmap& StepInput(const TStep& step, const TBitmap& main, const TBitmap& processed) {
  switch (OperationInfo(step.operation).input) {
    case TInput::Main:
      return main;
    case TInput::ProcessedOrMain:
      return processed.Empty() ? main : processed;
    case TInput::Processed:
      break;
  }
  return processed;
}

const TBitmap& ImageToThreshold(const TBitmap& main, const TBitmap& processed) {
  return StepInput({TOperation::Binarize}, main, processed);
}

const char* StepRefusal(const TStep& step, const TBitmap& main, const TBitmap& processed) {
  const TPictureKind kind = OperationInfo(step.operation).accepts;
  return IsOfKind(StepInput(step, main, processed), kind) ? nullptr : KindRefusal(kind);
}

std::optional<int> StepThreshold(const TStep& step, const TBitmap& picture) {
  if (!step.method)
    return step.threshold;
  return AutoThreshold(*step.method, ThresholdHistogram(picture));
}

std::optional<int> RunStep(const TStep& step, const TBitmap& main, TBitmap& processed) {
  RefuseUnlessTaken(step, StepInput(step, main, processed));
  const TInput input = OperationInfo(step.operation).input;
  if (input == TInput::ProcessedOrMain && processed.Empty())
    processed.Assign(main);
  return Run(step, input == TInput::Main ? main : processed, processed);
}

void RunChain(const TChain& chain, const TBitmap& main, TBitmap& processed) {
  if (chain.empty()) {
    processed.Assign(main);
    return;
  }
  RunFirstStep(chain.front(), main, processed, nullptr);
  for (std::size_t i = 1; i < chain.size(); ++i)
    RunStep(chain[i], main, processed);
}

bool ReadsMainAfter(const TChain& chain, std::size_t index) {
  return std::any_of(
      chain.begin() + static_cast<std::ptrdiff_t>(std::min(index + 1, chain.size())), chain.end(),
      [](const TStep& step) { return OperationInfo(step.operation).input == TInput::Main; });
}

std::optional<int> RunChainStep(const TChain& chain, std::size_t index, TBitmap& main,
                                TBitmap& processed) {
  const bool lastUse = !ReadsMainAfter(chain, index);
  const std::optional<int> applied =
      index == 0 ? RunFirstStep(chain[0], main, processed, lastUse ? &main : nullptr)
                 : RunStep(chain[index], main, processed);
  if (lastUse)
    main = TBitmap();
  return applied;
}
