#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "AutoThreshold.h"
#include "Bitmap.h"

// The commands of the main window as one model, for the window's handlers, the live camera view
// and the command-line tool alike: what each operation does and which image it works on.

enum class TOperation { Grey, Binarize, Edges };

// The one declaration of the operations: the buttons, the command line, the live chain, undo and
// the command export all take their steps from it.
struct TOperationInfo {
  TOperation operation;
  const char* word;     // the command line's: "gray"
  const char* name;     // the window's, UTF-8: "灰階化"
  const char* summary;  // what it does, in English, for the command line's help
  bool takesThreshold;  // written "word=T" (or "word=METHOD")
  bool rowByRow;        // each row of the result needs only the same row of its input
};

std::span<const TOperationInfo> Operations();
const TOperationInfo& OperationInfo(TOperation operation);

// One command of a chain; binarize as the threshold dialog applies it after OK.
struct TStep {
  TOperation operation;
  int threshold = 0;  // binarize only, 0 ... 255
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

// The image binarize works on and its preview shows: the processed image, or the main image
// while the processed one is empty.
const TBitmap& ImageToThreshold(const TBitmap& main, const TBitmap& processed);

// The threshold a binarize step applies to `picture`: its own, or its method's on the picture's
// bytes (none when the picture gives none).
std::optional<int> StepThreshold(const TStep& step, const TBitmap& picture);

// Grey: the processed image becomes the grey image of the main image.
void GreyCommand(const TBitmap& main, TBitmap& processed);
// Binarize, first half: an empty processed image is filled with a copy of the main image, so
// that binarize can follow a grab or an open directly. Returns the image to threshold.
TBitmap& PrepareBinarize(const TBitmap& main, TBitmap& processed);
// Binarize, second half: the processed image thresholded in place.
void BinarizeCommand(TBitmap& processed, int threshold);
// Edges: the processed image replaced by its edge image; an empty one stays empty.
void EdgesCommand(TBitmap& processed);

// Runs one step on the two images, as its button does; returns the threshold a binarize step
// applied (none for the other steps, or a method that found none: the image then stays as it
// was).
std::optional<int> RunStep(const TStep& step, const TBitmap& main, TBitmap& processed);
// The whole chain from the main image into `processed`, which it replaces: what the command line
// writes for these steps.
void RunChain(const TChain& chain, const TBitmap& main, TBitmap& processed);
