// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>

// The window program's command line, read before any display is needed: --help and --version
// print and end the program, and so does anything else, the program taking no arguments; the build
// asks for the manual page with --manual-page=LANGUAGE. Returns the exit status then, nothing
// when there are no arguments and the window is to open.
std::optional<int> HandleCommandLine(int argc, char** argv);

// What --help prints, in the language installed.
QString HelpText();
