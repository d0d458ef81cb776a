#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

#include "CommandLine.h"
#include "Exception.h"

int main(int argc, char** argv) {
  // Pictures only: no display is needed.
  QCoreApplication application(argc, argv);
  const Request request = ParseArguments(QCoreApplication::arguments().mid(1));
  switch (request.kind) {
    case Request::Kind::Help:
      std::fputs(UsageText().toUtf8().constData(), stdout);
      return 0;
    case Request::Kind::UsageError:
      std::fprintf(stderr, "ccdlab-cli: %s\n\n%s", request.error.toUtf8().constData(),
                   UsageText().toUtf8().constData());
      return 2;
    case Request::Kind::Run:
      break;
  }
  try {
    RunPlan(request.plan, stderr);
  } catch (const Exception& failure) {
    std::fprintf(stderr, "ccdlab-cli: %s\n", failure.what());
    return 1;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "ccdlab-cli: 記憶體不足：%s\n", request.plan.input.toUtf8().constData());
    return 1;
  }
  return 0;
}
