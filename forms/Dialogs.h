// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// A modal message box with the text and an OK button; returns once the operator dismissed it.
void ShowMessage(const QString& text);
