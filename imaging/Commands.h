// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "AutoThreshold.h"
#include "Bitmap.h"

// The commands of the main window as one model, for the window's workbench, the live camera view
// and the command-line tool alike: what each operation does and which image it works on.

enum class TOperation {
  Grey,
  Binarize,
  Edges,
  Smooth,
  Sharpen,
  Sobel,
  Median,
  Invert,
  Erode,
  Dilate,
  Open,
  Close,
  Outline,
  FillHoles,
  Skeletonize,
  Watershed,
};

// Where a step finds the picture it works on.
enum class TInput {
  Main,             // reads the main image; the processed image becomes its result
  Processed,        // the processed image, in place; an empty one stays as it is
  ProcessedOrMain,  // the processed image in place, filled from the main image while it is empty
};

// The pictures an operation takes. Every kind takes an empty picture.
enum class TPictureKind {
  Any,
  BlackAndWhite,  // 8 bits a pixel, every byte 0 or 255
};
bool IsOfKind(const TBitmap& picture, TPictureKind kind);
// Why a picture not of the kind is refused, UTF-8, in the window's language.
const char* KindRefusal(TPictureKind kind);

// The number an operation takes, written "word=N".
struct TParameterInfo {
  const char* name;  // as the help writes it: "T"
  int minimum;
  int maximum;
  int initial;   // where the window's control stands at first
  bool methods;  // may be named by an automatic threshold method instead ("binarize=otsu")
};

// An operation on a whole picture: `target` becomes its result on `source`, which may be `target`
// itself; the change is reported once.
using TRunPicture = void (*)(const TBitmap& source, TBitmap& target, int parameter);
// The same on rows [first, last) only, for a picture whose rows come one band after another:
// bands run in turn from the top give the bytes the whole picture gives. `target` is what the
// operation's TBandTarget made for the source, or, where it has none, the source itself or a
// bitmap of its shape.
using TRunRows = void (*)(const TBitmap& source, TBitmap& target, int parameter, int first,
                          int last);
// The bitmap a band run writes into, for an operation whose result differs in shape.
using TBandTarget = TBitmap (*)(const TBitmap& source);

// One operation, declared once: the window's workbench, the command line, the live chain, undo
// and the command export all take their steps from it.
struct TOperationInfo {
  TOperation operation;
  const char* word;  // the command line's: "gray"
  const char* name;  // the window's, UTF-8: "灰階化"
  // What it does, in English, for the command line's help; "%1 ... %2": its parameter's range.
  const char* summary;
  std::optional<TParameterInfo> parameter;
  TInput input;
  TPictureKind accepts;
  TRunPicture run;
  TRunRows runRows = nullptr;  // none: it needs the whole picture
  TBandTarget bandTarget = nullptr;
  // The submenu of the processed image's context menu that offers it, UTF-8, as ImageJ files its
  // commands ("處理", "二元"); none for the window's buttons. Entries show in the table's order.
  const char* menu = nullptr;

  // Derived from the above where the table is made.
  bool takesThreshold = false;  // written "word=T" (or "word=METHOD")
  bool rowByRow = false;        // each row of the result needs only the same row of its input
};

std::span<const TOperationInfo> Operations();
const TOperationInfo& OperationInfo(TOperation operation);

// One command of a chain; binarize as the threshold dialog applies it after OK.
struct TStep {
  TOperation operation;
  int threshold = 0;  // the parameter, within the operation's range
  // Binarize by a method instead: the threshold is the method's on the picture it works on.
  std::optional<TThresholdMethod> method = std::nullopt;

  friend bool operator==(const TStep&, const TStep&) = default;
};

// The steps that make the processed image from the main image: the first works on the main
// image, whichever it is, as the command line's first step works on its input.
using TChain = std::vector<TStep>;

// "gray", "binarize=128", "binarize=otsu", "edges"; and back.
std::string StepWord(const TStep& step);
std::optional<TStep> ParseStepWord(std::string_view word);
// The command line of ccdlab-cli that makes, from the picture file `input`, what the chain makes
// from the main image: "ccdlab-cli INPUT OUTPUT STEP ...", the names quoted for the shell.
std::string ChainCommand(const TChain& chain, std::string_view input, std::string_view output);
// A word as a POSIX shell reads it back: as it is where that is safe, else in single quotes.
std::string ShellQuoted(std::string_view word);
// Works on each row alone, so it can run on a picture's rows as they are read.
bool RunsRowByRow(const TStep& step);

// The picture a step works on, as its operation's input says: binarize works on the processed
// image, or on the main image while the processed one is empty.
const TBitmap& StepInput(const TStep& step, const TBitmap& main, const TBitmap& processed);
// The image binarize works on and its preview shows.
const TBitmap& ImageToThreshold(const TBitmap& main, const TBitmap& processed);
// Why the step refuses the picture it would work on (UTF-8), or nullptr where it takes it.
const char* StepRefusal(const TStep& step, const TBitmap& main, const TBitmap& processed);

// A step run on a picture its operation does not take; nothing has changed.
class TRefusedPicture : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The parameter a step applies to `picture`: its own, or its method's on the picture's bytes
// (none when the picture gives none).
std::optional<int> StepThreshold(const TStep& step, const TBitmap& picture);

// Runs one step on the two images, as the window does: the main image is only read. Returns the
// parameter it applied (none for an operation without one, or a method that found none: the image
// then stays as it was). Raises TRefusedPicture for a picture the operation does not take.
std::optional<int> RunStep(const TStep& step, const TBitmap& main, TBitmap& processed);
// The whole chain from the main image into `processed`, which it replaces: what the command line
// writes for these steps. No steps: a copy.
void RunChain(const TChain& chain, const TBitmap& main, TBitmap& processed);
// Step `index` of the chain as RunChain runs it, for a caller that needs the main image no longer
// than the chain does: once no later step reads it, it is left empty, its pixels moved into the
// processed image where they serve.
std::optional<int> RunChainStep(const TChain& chain, std::size_t index, TBitmap& main,
                                TBitmap& processed);
// Whether a step after `index` reads the main image.
bool ReadsMainAfter(const TChain& chain, std::size_t index);

// How many steps at the head of the chain can run band by band on the main image's rows as they
// come in: each works row by row on any picture, and none but the first makes a picture of a new
// shape or reads the main image, which a first step working in place overwrites.
std::size_t BandSteps(const TChain& chain);

// The head of a chain (BandSteps) run on the main image's rows one band after another, from the
// top, each step through its record's band function: what RunChainStep makes of those steps.
class TChainBands {
 public:
  // `main` has its final size, its rows yet to come; it outlives this.
  TChainBands(const TChain& chain, TBitmap& main);
  std::size_t Steps() const { return steps_; }
  // Step `index` (below Steps()) on rows [first, last), which every earlier step has worked on.
  void Run(std::size_t index, int first, int last);
  // Where the steps write: the main image itself while the first works in place, or none runs.
  TBitmap& Result() { return made_ ? *made_ : main_; }
  // Leaves the two images as RunChainStep leaves them after the last band step.
  void Finish(TBitmap& processed);

 private:
  const TChain& chain_;
  TBitmap& main_;
  std::optional<TBitmap> made_;  // the first step's band target, where its record makes one
  std::size_t steps_;
};
