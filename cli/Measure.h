// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <cstdio>
#include <optional>

#include "Measurement.h"

struct Plan;
struct PictureFormatInfo;

// What --measure and its options ask for.
struct MeasurePlan {
  QString table;    // --measure: the objects' CSV; "-": standard output; empty: no measuring
  QString summary;  // --summary: one row per picture; empty: none
  TMeasureOptions options;
  std::optional<QString> steps;  // --steps: every word that is not an option is an input
  QStringList inputs;            // the pictures to measure, in the order given
  bool fileColumn = false;       // many pictures (or --steps): tables name each row's file

  bool Active() const { return !table.isEmpty() || !summary.isEmpty(); }
};

// The measuring options without a value (--exclude-edges, --include-holes): sets it and says so.
bool TakeMeasureFlag(const QString& word, MeasurePlan& plan);
// Whether `name` is a measuring option that takes a value.
bool IsMeasureOption(const QString& name);
// Sets one; the usage error where the value is wrong.
std::optional<QString> SetMeasureOption(const QString& name, const QString& value,
                                        MeasurePlan& plan);
// Reads the words that are not options, for a plan that measures: "INPUT [OUTPUT] [STEP ...]",
// or with --steps, inputs only. Sets the plan's input, output (possibly none), steps and inputs.
std::optional<QString> ArrangeMeasuring(const QStringList& positional, Plan& plan,
                                        const PictureFormatInfo* asked);

// Measures every input, on as many threads as there are processors, a few pictures at a time;
// the rows come out in the inputs' order. A picture that fails is named on `errors` and the
// others are still measured. Returns the exit status: 1 when any failed.
int RunMeasuring(const Plan& plan, std::FILE* errors);

// The help's section on measuring.
QString MeasureUsageText();
