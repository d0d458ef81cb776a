// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdio>

#include "Arguments.h"

// Loads, runs the steps (the first on the input picture, whichever it is) and writes the result.
// Returns the exit status; a failure is told in one line on `errors` and writes nothing.
int RunPlan(const Plan& plan, std::FILE* errors);
// A picture file's failure told as one sentence, as RunPlan tells it.
QString PictureErrorSentence(const PictureFileError& error, const Plan& plan);
// A file's name as the messages show it, quoted; "-" as standard input.
QString QuotedName(const QString& name);
// Writes all of `bytes` to `out` and flushes it; raises PictureFileError where it cannot.
void WriteAll(const QByteArray& bytes, std::FILE* out);
