// SPDX-License-Identifier: GPL-3.0-or-later
#include "Commands.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "Binary.h"
#include "Filters.h"
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

// An operation that works in place, run on a copy of a source that is not its target.
template <void (*Filter)(TBitmap&)>
void InPlacePicture(const TBitmap& source, TBitmap& target, int) {
  CopyUnlessSame(source, target);
  Filter(target);
  target.Changed();
}

void InvertBand(const TBitmap& source, TBitmap& target, int, int first, int last) {
  InvertRows(source, target, first, last);
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
              .summary = "bytes below T (%1 ... %2) become 0, the others 255",
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
              .run = InPlacePicture<Laplacian>}),
    // ImageJ's commands, in the order of its menus.
    Declared({.operation = TOperation::Smooth,
              .word = "smooth",
              .name = "平滑",
              .summary = "3 x 3 mean, as ImageJ's Process > Smooth",
              .parameter = std::nullopt,
              .input = TInput::ProcessedOrMain,
              .accepts = TPictureKind::Any,
              .run = InPlacePicture<Smooth>,
              .menu = "處理"}),
    Declared({.operation = TOperation::Sharpen,
              .word = "sharpen",
              .name = "銳化",
              .summary = "3 x 3 sharpening, as ImageJ's Process > Sharpen",
              .parameter = std::nullopt,
              .input = TInput::ProcessedOrMain,
              .accepts = TPictureKind::Any,
              .run = InPlacePicture<Sharpen>,
              .menu = "處理"}),
    Declared({.operation = TOperation::Sobel,
              .word = "sobel",
              .name = "尋找邊緣 (Sobel)",
              .summary = "3 x 3 Sobel edge magnitude, as ImageJ's Process > Find Edges",
              .parameter = std::nullopt,
              .input = TInput::ProcessedOrMain,
              .accepts = TPictureKind::Any,
              .run = InPlacePicture<FindEdges>,
              .menu = "處理"}),
    Declared({.operation = TOperation::Median,
              .word = "median",
              .name = "中值濾波",
              .summary = "3 x 3 median, as ImageJ's Process > Filters > Median of radius 1",
              .parameter = std::nullopt,
              .input = TInput::ProcessedOrMain,
              .accepts = TPictureKind::Any,
              .run = InPlacePicture<Median>,
              .menu = "處理"}),
    Declared({.operation = TOperation::Invert,
              .word = "invert",
              .name = "反相",
              .summary = "every colour byte v becomes 255 - v, as ImageJ's Edit > Invert",
              .parameter = std::nullopt,
              .input = TInput::ProcessedOrMain,
              .accepts = TPictureKind::Any,
              .run = InPlacePicture<Invert>,
              .runRows = InvertBand,
              .menu = "處理"}),
    Declared({.operation = TOperation::Erode,
              .word = "erode",
              .name = "侵蝕",
              .summary = "black objects lose the pixels next to white (ImageJ's Erode)",
              .parameter = std::nullopt,
              .input = TInput::ProcessedOrMain,
              .accepts = TPictureKind::BlackAndWhite,
              .run = InPlacePicture<Erode>,
              .menu = "二元"}),
    Declared({.operation = TOperation::Dilate,
              .word = "dilate",
              .name = "膨脹",
              .summary = "black objects take in white neighbours (ImageJ's Dilate)",
              .parameter = std::nullopt,
              .input = TInput::ProcessedOrMain,
              .accepts = TPictureKind::BlackAndWhite,
              .run = InPlacePicture<Dilate>,
              .menu = "二元"}),
    Declared({.operation = TOperation::Open,
              .word = "open",
              .name = "斷開",
              .summary = "erode, then dilate (ImageJ's Open)",
              .parameter = std::nullopt,
              .input = TInput::ProcessedOrMain,
              .accepts = TPictureKind::BlackAndWhite,
              .run = InPlacePicture<Open>,
              .menu = "二元"}),
    Declared({.operation = TOperation::Close,
              .word = "close",
              .name = "閉合",
              .summary = "dilate, then erode (ImageJ's Close-)",
              .parameter = std::nullopt,
              .input = TInput::ProcessedOrMain,
              .accepts = TPictureKind::BlackAndWhite,
              .run = InPlacePicture<Close>,
              .menu = "二元"}),
    Declared({.operation = TOperation::Outline,
              .word = "outline",
              .name = "外框",
              .summary = "black objects reduced to their outlines (ImageJ's Outline)",
              .parameter = std::nullopt,
              .input = TInput::ProcessedOrMain,
              .accepts = TPictureKind::BlackAndWhite,
              .run = InPlacePicture<Outline>,
              .menu = "二元"}),
    Declared({.operation = TOperation::FillHoles,
              .word = "fill-holes",
              .name = "填補孔洞",
              .summary = "enclosed white areas turn black (ImageJ's Fill Holes)",
              .parameter = std::nullopt,
              .input = TInput::ProcessedOrMain,
              .accepts = TPictureKind::BlackAndWhite,
              .run = InPlacePicture<FillHoles>,
              .menu = "二元"}),
    Declared({.operation = TOperation::Skeletonize,
              .word = "skeletonize",
              .name = "骨架化",
              .summary = "objects thinned to lines 1 pixel wide (ImageJ's Skeletonize)",
              .parameter = std::nullopt,
              .input = TInput::ProcessedOrMain,
              .accepts = TPictureKind::BlackAndWhite,
              .run = InPlacePicture<Skeletonize>,
              .menu = "二元"}),
    Declared({.operation = TOperation::Watershed,
              .word = "watershed",
              .name = "分水嶺",
              .summary = "touching black objects cut apart along the necks of their distance map",
              .parameter = std::nullopt,
              .input = TInput::ProcessedOrMain,
              .accepts = TPictureKind::BlackAndWhite,
              .run = InPlacePicture<Watershed>,
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

// The first step of a chain works on the main image, whichever its input, as the command line's
// first step works on its input; the others as their input says.
const TBitmap& ChainStepInput(const TChain& chain, std::size_t index, const TBitmap& main,
                              const TBitmap& processed) {
  return index == 0 ? main : StepInput(chain[index], main, processed);
}

// `spare`: the main image, to be moved rather than copied.
std::optional<int> RunFirstStep(const TChain& chain, const TBitmap& main, TBitmap& processed,
                                TBitmap* spare) {
  const TStep& step = chain.front();
  const TBitmap& input = ChainStepInput(chain, 0, main, processed);
  RefuseUnlessTaken(step, input);
  if (spare == nullptr || OperationInfo(step.operation).input == TInput::Main)
    return Run(step, input, processed);
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
  RunFirstStep(chain, main, processed, nullptr);
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
      index == 0 ? RunFirstStep(chain, main, processed, lastUse ? &main : nullptr)
                 : RunStep(chain[index], main, processed);
  if (lastUse)
    main = TBitmap();
  return applied;
}

std::size_t BandSteps(const TChain& chain) {
  const auto streams = [&chain](std::size_t index) {
    const TOperationInfo& info = OperationInfo(chain[index].operation);
    // A picture's kind is known only once all of it has come.
    return RunsRowByRow(chain[index]) && info.accepts == TPictureKind::Any &&
           (index == 0 || (info.input != TInput::Main && info.bandTarget == nullptr));
  };
  std::size_t count = 0;
  while (count < chain.size() && streams(count))
    ++count;
  if (count > 0 && OperationInfo(chain[0].operation).bandTarget == nullptr &&
      ReadsMainAfter(chain, 0))
    return 0;
  return count;
}

TChainBands::TChainBands(const TChain& chain, TBitmap& main)
    : chain_(chain), main_(main), steps_(BandSteps(chain)) {
  if (steps_ > 0)
    if (const TBandTarget target = OperationInfo(chain[0].operation).bandTarget)
      made_.emplace(target(main));
}

void TChainBands::Run(std::size_t index, int first, int last) {
  const TStep& step = chain_[index];
  TBitmap& result = Result();
  OperationInfo(step.operation)
      .runRows(ChainStepInput(chain_, index, main_, result), result, step.threshold, first, last);
}

void TChainBands::Finish(TBitmap& processed) {
  if (steps_ == 0)
    return;
  processed = std::move(Result());
  if (!ReadsMainAfter(chain_, steps_ - 1))
    main_ = TBitmap();
}
