#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "Bitmap.h"

// One processing step, named after the button it stands for.
struct Step {
  enum class Kind { Gray, Binarize, Edges };
  Kind kind;
  int threshold = 0;  // binarize only

  QString Name() const;
};

struct Plan {
  bool time = false;
  QString input;
  QString output;
  std::vector<Step> steps;
};

// What the arguments ask for: a plan, the usage text, or a usage error with its reason.
struct Request {
  enum class Kind { Run, Help, UsageError };
  Kind kind = Kind::UsageError;
  Plan plan;
  QString error;
};

Request ParseArguments(const QStringList& arguments);

QString UsageText();

// The images the steps work on, as in the main window.
struct Images {
  TBitmap main;
  TBitmap processed;
};

// Runs one step as its button does; binarize as if the dialog closed with OK at the threshold.
void RunStep(const Step& step, Images& images);

// Loads, runs the steps and writes the result. Failures raise an Exception naming the file and
// the reason; the output is then left as it was.
void RunPlan(const Plan& plan, std::FILE* timings);
