// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoreApplication>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "Commands.h"
#include "Measure.h"
#include "PictureFile.h"

// The tool's own messages, translated by its catalogue.
class CommandLine {
  Q_DECLARE_TR_FUNCTIONS(CommandLine)
};

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

bool IsStandardStream(const QString& name);
QString StepName(const TStep& step);
QString UsageText();
// The version and the licence.
QString VersionText();

// For the measuring form: the steps' words parsed into `steps`, or the usage error; the output's
// format decided, or why it cannot be.
std::optional<QString> ParseSteps(const QStringList& words, std::vector<TStep>& steps);
std::optional<QString> DecideFormat(Plan& plan, const PictureFormatInfo* asked);

// Picks Traditional Chinese messages under a zh_TW or zh_HK locale, English otherwise.
void InstallCommandLineLanguage(const QLocale& locale = QLocale::system());
