// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdio>

#include "Arguments.h"

// Loads, runs the steps (the first on the input picture, whichever it is) and writes the result.
// Returns the exit status; a failure is told in one line on `errors` and writes nothing.
int RunPlan(const Plan& plan, std::FILE* errors);
// A picture file's failure told as one sentence, as RunPlan tells it.
QString PictureErrorSentence(const PictureFileError& error, const Plan& plan);
