// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>
#include <optional>

// What the build asks of the tool, as its only argument: "--manual-page=en" or
// "--manual-page=zh_TW" writes its manual page from its --help text in that language,
// "--bash-completion" the shell completion from its own tables. Returns the exit status for
// these, nothing for any other command line.
std::optional<int> WriteBuildDocument(const QStringList& arguments);

// The completion script for bash.
QString BashCompletion();
