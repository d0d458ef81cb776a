// SPDX-License-Identifier: GPL-3.0-or-later
#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

#include "Arguments.h"
#include "FileNames.h"
#include "Manual.h"
#include "Runner.h"

int main(int argc, char** argv) {
  // The toolkit's own copy of the arguments loses the bytes of names that are not UTF-8.
  QStringList arguments;
  for (int i = 1; i < argc; ++i)
    arguments << FileNameFromBytes(argv[i]);
  // Pictures only: no display is needed, and none is linked.
  QCoreApplication application(argc, argv);
  if (const std::optional<int> status = WriteBuildDocument(arguments))
    return *status;
  InstallCommandLineLanguage();
  const Request request = ParseArguments(arguments);
  switch (request.kind) {
    case Request::Kind::Help:
      std::fputs(UsageText().toUtf8().constData(), stdout);
      return 0;
    case Request::Kind::Version:
      std::fputs(VersionText().toUtf8().constData(), stdout);
      return 0;
    case Request::Kind::UsageError:
      std::fprintf(stderr, "ccdlab-cli: %s\n%s\n%s\n", request.error.toUtf8().constData(),
                   UsageText().section(QLatin1Char('\n'), 0, 0).toUtf8().constData(),
                   QCoreApplication::translate("CommandLine",
                                               "Try 'ccdlab-cli --help' for more information.")
                       .toUtf8()
                       .constData());
      return 2;
    case Request::Kind::Run:
      break;
  }
  return RunPlan(request.plan, stderr);
}
