// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <optional>
#include <vector>

#include "Commands.h"
#include "Measure.h"
#include "PictureFile.h"

// What the command line asks for.
struct Plan {
  bool time = false;
  QString input;                              // "-": standard input
  QString output;                             // "-": standard output
  const PictureFormatInfo* format = nullptr;  // the output's, from its extension or --format
  SaveOptions save;
  std::vector<TStep> steps;
  MeasurePlan measure;  // output may be empty when measuring
};

struct Request {
  enum class Kind { Run, Help, Version, UsageError };
  Kind kind = Kind::UsageError;
  Plan plan;
  QString error;  // for a usage error: why, in the user's language
};

// Options may stand anywhere, as with getopt; "--" ends them.
Request ParseArguments(const QStringList& arguments);

QString StepName(const TStep& step);
QString UsageText();
// The version and the licence.
QString VersionText();

// Loads, runs the steps (the first on the input picture, whichever it is) and writes the result.
// Returns the exit status; a failure is told in one line on `errors` and writes nothing.
int RunPlan(const Plan& plan, std::FILE* errors);

// For the measuring form (Measure.cpp): the steps' words parsed into `steps`, or the usage
// error; the output's format decided; a picture file's failure told as one sentence.
std::optional<QString> ParseSteps(const QStringList& words, std::vector<TStep>& steps);
std::optional<QString> DecideOutputFormat(Plan& plan, const PictureFormatInfo* asked);
QString PictureErrorSentence(const PictureFileError& error, const Plan& plan);

// Picks Traditional Chinese messages under a zh_TW or zh_HK locale, English otherwise.
void InstallCommandLineLanguage(const QLocale& locale = QLocale::system());
