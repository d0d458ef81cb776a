// SPDX-License-Identifier: GPL-3.0-or-later
#include "ManualPage.h"

#include <gtest/gtest.h>

namespace {

const char kHelp[] =
    "usage: tool [OPTION ...] IN OUT\n"
    "\n"
    "Reads IN and writes OUT,\n"
    "byte for byte.\n"
    "\n"
    ".dots and \\backslashes stay as they are.\n"
    "\n"
    "Options:\n"
    "  --format F   the format:\n"
    "               png or bmp\n"
    "  -h, --help   print this text\n"
    "  step=T       a step\n"
    "Options may stand anywhere.\n"
    "\n"
    "Exit status:\n"
    "  0  success\n";

ManualPage Page(const char* help, bool chinese = false) {
  return {QStringLiteral("tool"),
          QStringLiteral("does things"),
          QString::fromUtf8(help),
          {QStringLiteral("other(1)")},
          chinese};
}

TEST(ManualPage, EachPartOfTheHelpBecomesItsPartOfThePage) {
  const QString page = ManualPageSource(Page(kHelp));
  const char* parts[] = {
      ".SH \"NAME\"\ntool \\- does things\n",
      ".SH \"SYNOPSIS\"\n.B tool\n[OPTION ...] IN OUT\n",
      (".SH \"DESCRIPTION\"\nReads IN and writes OUT, byte for byte.\n"
       ".PP\n\\&.dots and \\ebackslashes stay as they are.\n"),
      ".SH \"OPTIONS\"\n.TP\n\\fB\\-\\-format\\fR \\fIF\\fR\nthe format: png or bmp\n",
      ".TP\n\\fB\\-h\\fR, \\fB\\-\\-help\\fR\nprint this text\n",
      ".TP\n\\fBstep=\\fR\\fIT\\fR\na step\n.PP\nOptions may stand anywhere.\n",
      ".SH \"EXIT STATUS\"\n.TP\n\\fB0\\fR\nsuccess\n",
      ".SH \"COPYRIGHT\"\nCopyright (C) ",
      "GPL\\-3.0\\-or\\-later",
      ".SH \"SEE ALSO\"\n.BR other (1)\n",
  };
  for (const char* part : parts)
    EXPECT_TRUE(page.contains(QString::fromUtf8(part))) << part << "\nin:\n" << page.toStdString();
}

TEST(ManualPage, ChineseTextMayBreakBetweenCharactersButNotAtItsPunctuation) {
  const QString page =
      ManualPageSource(Page("用法：tool IN\n"
                            "\n"
                            "讀入（IN）檔案，\n"
                            "寫出 OUT。\n",
                            true));
  EXPECT_TRUE(page.contains(QStringLiteral(".ad l\n.nh\n")));
  EXPECT_TRUE(page.contains(QStringLiteral(".B tool\nIN\n")));
  // No break after an opening bracket or before a closing one, a comma or a space; the two lines
  // meet without a space between Chinese characters, and keep it before Latin letters.
  EXPECT_TRUE(page.contains(QStringLiteral("讀\\:入\\:（IN）\\:檔\\:案，\\:寫\\:出 OUT。\n")))
      << page.toStdString();
}

TEST(ManualPage, OptionsAreTheItemsThatStartWithADash) {
  const std::vector<HelpOption> options = HelpOptions(QString::fromUtf8(kHelp));
  ASSERT_EQ(options.size(), 3u);
  EXPECT_EQ(options[0].name, QStringLiteral("--format"));
  EXPECT_EQ(options[0].value, QStringLiteral("F"));
  EXPECT_EQ(options[1].name, QStringLiteral("-h"));
  EXPECT_EQ(options[2].name, QStringLiteral("--help"));
  EXPECT_TRUE(options[2].value.isEmpty());
}

TEST(ManualPage, VersionNamesTheLicenceAndDisclaimsWarranty) {
  const QString version = VersionText(QStringLiteral("tool"));
  EXPECT_TRUE(version.startsWith(QStringLiteral("tool 0.")));
  EXPECT_TRUE(version.contains(QStringLiteral("GPL-3.0-or-later")));
  EXPECT_TRUE(version.contains(QStringLiteral("NO WARRANTY")));
}

}  // namespace
