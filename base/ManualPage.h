// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

// The programs' --help texts are the one source of their manual pages and of the shell
// completion's options, so that none of them can tell another story. A --help text reads:
//
//   usage: PROGRAM SYNOPSIS           the first line (any label before a colon)
//                                     (a blank line ends a paragraph)
//   Text at the margin.               a paragraph; before the first heading: the description
//   A heading:                        a line of its own at the margin ending in a colon
//     term   what it does             an item: two spaces, the term, two or more spaces
//            more of it               the item goes on, indented further

// A manual page in man(7) format, of section 1, from a --help text in the language installed.
struct ManualPage {
  QString program;                  // "ccdlab-cli"
  QString summary;                  // one line for the NAME section, in the help's language
  QString help;                     // the --help text
  QStringList seeAlso;              // other pages: "ccdlab(1)"
  bool traditionalChinese = false;  // the help is in Traditional Chinese
};
QString ManualPageSource(const ManualPage& page);

// The options an item of a --help text names: "--format F" gives {"--format", "F"}.
struct HelpOption {
  QString name;
  QString value;  // empty for an option without a value
};
std::vector<HelpOption> HelpOptions(const QString& help);

// "PROGRAM VERSION", then the copyright and the licence, as GNU programs print them.
QString VersionText(const QString& program);

// Traditional Chinese for the texts above, where one is used.
void InstallManualPageLanguage();
