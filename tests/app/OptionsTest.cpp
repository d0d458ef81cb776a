// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

struct Outcome {
  int status = -1;
  QString out;
  QString err;
};

// The program as a user runs it, here without any display: neither an X server nor a Wayland
// compositor can be found.
Outcome RunProgram(const QString& program, const QStringList& arguments, const QString& locale,
                   const QString& runtimeDir) {
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LANG", "LANGUAGE"})
    environment.remove(QString::fromLatin1(name));
  environment.insert(QStringLiteral("LC_ALL"), locale);
  environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
  process.setProcessEnvironment(environment);
  process.start(program, arguments);
  EXPECT_TRUE(process.waitForFinished(60000));
  return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
          QString::fromUtf8(process.readAllStandardError())};
}

TEST(Options, HelpVersionAndMistakesAreAnsweredWithoutADisplay) {
  const struct {
    QStringList arguments;
    const char* locale;
    int status;
    const char* out;  // how standard output starts
    const char* err;  // what standard error holds
  } cases[] = {
      {{"--help"}, "C.UTF-8", 0, "usage: ccdlab [OPTION]\n", ""},
      {{"-h"}, "C.UTF-8", 0, "usage: ccdlab", ""},
      {{"--help"}, "zh_TW.UTF-8", 0, "用法：ccdlab", ""},
      {{"--version"}, "C.UTF-8", 0, "ccdlab 0.", ""},
      {{"--bogus"}, "C.UTF-8", 2, "", "ccdlab: unknown option --bogus\n"},
      {{"photo.png"}, "C.UTF-8", 2, "", "ccdlab: unexpected argument photo.png"},
      {{"photo.png"}, "zh_HK.UTF-8", 2, "", "執行 'ccdlab --help'"},
  };
  const QTemporaryDir runtime;
  for (const auto& c : cases) {
    const Outcome outcome = RunProgram(QStringLiteral(CCDLAB_PROGRAM), c.arguments,
                                       QString::fromLatin1(c.locale), runtime.path());
    const QString what = c.arguments.join(QLatin1Char(' ')) + QLatin1Char(' ') + c.locale;
    EXPECT_EQ(outcome.status, c.status) << what.toStdString();
    if (*c.out == '\0') {
      EXPECT_TRUE(outcome.out.isEmpty()) << what.toStdString();
    } else {
      EXPECT_TRUE(outcome.out.startsWith(QString::fromUtf8(c.out))) << what.toStdString();
    }
    EXPECT_TRUE(outcome.err.contains(QString::fromUtf8(c.err))) << what.toStdString();
    if (c.status == 0) {
      EXPECT_TRUE(outcome.err.isEmpty()) << what.toStdString() << outcome.err.toStdString();
    }
  }
  const Outcome version =
      RunProgram(QStringLiteral(CCDLAB_PROGRAM), {"--version"}, "C.UTF-8", runtime.path());
  EXPECT_TRUE(version.out.contains(QStringLiteral("GPL-3.0-or-later")));
  EXPECT_TRUE(version.out.contains(QStringLiteral("NO WARRANTY")));
}

// Installed, the program is not where the build put it: the advice names it as it was run.
TEST(Options, WithoutADisplayTheAdviceNamesTheProgramAsItWasRun) {
  const QTemporaryDir dir;
  const QString link = dir.filePath(QStringLiteral("my ccdlab"));
  ASSERT_TRUE(QFile::link(QStringLiteral(CCDLAB_PROGRAM), link));
  const Outcome outcome = RunProgram(link, {}, QStringLiteral("C.UTF-8"), dir.path());
  EXPECT_EQ(outcome.status, 1);
  EXPECT_TRUE(outcome.err.contains(QStringLiteral("no display available")));
  EXPECT_TRUE(outcome.err.contains(QStringLiteral("xvfb-run -a '%1'\n").arg(link)))
      << outcome.err.toStdString();
}

}  // namespace
