#include "CommandLine.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <cstdio>

#include "Exception.h"
#include "Grayscale.h"
#include "Laplacian.h"
#include "PictureFile.h"
#include "Threshold.h"

QString Step::Name() const {
  switch (kind) {
    case Kind::Gray:
      return QStringLiteral("gray");
    case Kind::Binarize:
      return QStringLiteral("binarize=%1").arg(threshold);
    case Kind::Edges:
      return QStringLiteral("edges");
  }
  return {};
}

QString UsageText() {
  return QStringLiteral(
      "usage: ccdlab-cli [--time] INPUT OUTPUT [STEP ...]\n"
      "\n"
      "Loads INPUT, runs the steps in order on it and writes the result to OUTPUT.\n"
      "\n"
      "STEP:\n"
      "  gray         grey levels of the picture, 8 bits per pixel\n"
      "  binarize=T   bytes below T (an integer 0 ... 255) become 0, the others 255\n"
      "  edges        3 x 3 Laplacian edge image, borders wrapping around\n"
      "\n"
      "Without steps OUTPUT receives INPUT in the format its extension names\n"
      "(.png, .bmp, .jpg, .ppm, .pgm). --time prints each step's wall time on stderr.\n");
}

namespace {

std::optional<Step> ParseStep(const QString& word) {
  if (word == QLatin1String("gray"))
    return Step{Step::Kind::Gray};
  if (word == QLatin1String("edges"))
    return Step{Step::Kind::Edges};
  static const QRegularExpression binarize(QStringLiteral("^binarize=([0-9]{1,3})$"));
  const QRegularExpressionMatch match = binarize.match(word);
  if (!match.hasMatch())
    return std::nullopt;
  const int threshold = match.captured(1).toInt();
  if (threshold > 255)
    return std::nullopt;
  return Step{Step::Kind::Binarize, threshold};
}

Request UsageError(QString why) {
  Request request;
  request.kind = Request::Kind::UsageError;
  request.error = std::move(why);
  return request;
}

}  // namespace

Request ParseArguments(const QStringList& arguments) {
  Request request;
  if (arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h"))) {
    request.kind = Request::Kind::Help;
    return request;
  }
  qsizetype next = 0;
  if (next < arguments.size() && arguments[next] == QLatin1String("--time")) {
    request.plan.time = true;
    ++next;
  }
  QStringList files;
  for (; next < arguments.size() && files.size() < 2; ++next) {
    if (arguments[next].startsWith(QLatin1String("--")))
      return UsageError(QStringLiteral("unknown option %1").arg(arguments[next]));
    files.append(arguments[next]);
  }
  if (files.size() < 2)
    return UsageError(QStringLiteral("INPUT and OUTPUT are needed"));
  request.plan.input = files[0];
  request.plan.output = files[1];
  for (; next < arguments.size(); ++next) {
    const std::optional<Step> step = ParseStep(arguments[next]);
    if (!step)
      return UsageError(QStringLiteral("unknown step %1").arg(arguments[next]));
    request.plan.steps.push_back(*step);
  }
  request.kind = Request::Kind::Run;
  return request;
}

void RunStep(const Step& step, Images& images) {
  switch (step.kind) {
    case Step::Kind::Gray: {
      TBitmap result;
      ConvertToGrey(images.main, result);
      images.processed.Assign(std::move(result));
      break;
    }
    case Step::Kind::Binarize:
      if (images.processed.Empty())
        images.processed.Assign(images.main);
      Threshold(images.processed, step.threshold);
      break;
    case Step::Kind::Edges:
      Laplacian(images.processed);
      break;
  }
}

namespace {

void Report(std::FILE* timings, const QString& name, const QElapsedTimer& clock) {
  if (timings == nullptr)
    return;
  std::fprintf(timings, "%s %.1f ms\n", name.toUtf8().constData(), clock.nsecsElapsed() / 1e6);
}

}  // namespace

void RunPlan(const Plan& plan, std::FILE* timings) {
  if (!plan.time)
    timings = nullptr;
  Images images;
  QElapsedTimer clock;
  clock.start();
  images.main = LoadPictureFile(plan.input);
  Report(timings, QStringLiteral("load"), clock);

  for (const Step& step : plan.steps) {
    clock.restart();
    RunStep(step, images);
    Report(timings, step.Name(), clock);
  }

  const TBitmap& result = plan.steps.empty() ? images.main : images.processed;
  if (result.Empty())
    throw Exception(QStringLiteral("「%1」沒有寫入：處理後的影像是空的").arg(plan.output));
  clock.restart();
  SavePictureFile(result, plan.output);
  Report(timings, QStringLiteral("save"), clock);
}
