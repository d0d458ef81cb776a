// SPDX-License-Identifier: GPL-3.0-or-later
#include "Arguments.h"

#include <QTranslator>
#include <optional>

#include "FileNames.h"
#include "ManualPage.h"

namespace {

// The methods' command-line words, for the help and the usage error that names them.
QString MethodWords() {
  QStringList words;
  for (const TThresholdMethodInfo& method : ThresholdMethods())
    words << QLatin1String(method.word);
  return words.join(QLatin1String(", "));
}

const TOperationInfo* OperationNamed(const QString& word) {
  for (const TOperationInfo& operation : Operations())
    if (word == QLatin1String(operation.word))
      return &operation;
  return nullptr;
}

// The help's line for an operation, its parameter's range in it.
QString Summary(const TOperationInfo& operation) {
  QString summary = QCoreApplication::translate("Operations", operation.summary);
  if (operation.parameter && summary.contains(QLatin1String("%1")))
    summary = summary.arg(operation.parameter->minimum).arg(operation.parameter->maximum);
  return summary;
}

Request UsageError(QString why) {
  Request request;
  request.kind = Request::Kind::UsageError;
  request.error = std::move(why);
  return request;
}

std::optional<int> Number(const QString& text, int low, int high) {
  bool ok = false;
  const int value = text.toInt(&ok);
  if (!ok || value < low || value > high)
    return std::nullopt;
  return value;
}

// The formats the tool writes, from the format table: "png, jpg, tif, bmp, pgm or ppm".
QString WritableFormats() {
  QStringList names;
  for (const PictureFormatInfo& format : PictureFormats())
    if (format.writable)
      names << QLatin1String(format.name);
  const QString last = names.takeLast();
  return names.join(CommandLine::tr(", ")) + CommandLine::tr(" or ") + last;
}

// An argument as the messages show it: bytes that are not UTF-8 written \xff.
QString Shown(const QString& argument) {
  return ShownFileName(argument);
}

}  // namespace

// The output's format: its extension's, or --format's where no extension names one.
std::optional<QString> DecideFormat(Plan& plan, const PictureFormatInfo* asked) {
  const PictureFormatInfo* named =
      IsStandardStream(plan.output) ? nullptr : FormatOfFileName(plan.output);
  if (named != nullptr && !named->writable)
    named = nullptr;
  if (named != nullptr && asked != nullptr && named != asked)
    return CommandLine::tr("--format %1 contradicts the extension of %2")
        .arg(asked->name, Shown(plan.output));
  plan.format = named != nullptr ? named : asked;
  if (plan.format == nullptr)
    return IsStandardStream(plan.output)
               ? CommandLine::tr("writing to standard output needs --format")
               : CommandLine::tr(
                     "the extension of %1 names no format ccdlab-cli writes; use --format")
                     .arg(Shown(plan.output));
  return std::nullopt;
}

bool IsStandardStream(const QString& name) {
  return name == QLatin1String("-");
}

QString StepName(const TStep& step) {
  return QString::fromStdString(StepWord(step));
}

QString UsageText() {
  QString steps;
  for (const TOperationInfo& operation : Operations()) {
    const QString word = QLatin1String(operation.word) +
                         (operation.takesThreshold ? QStringLiteral("=T") : QString());
    steps += QStringLiteral("  %1 %2\n").arg(word, -16).arg(Summary(operation));
    if (!operation.takesThreshold)
      continue;
    steps += QStringLiteral("  %1 %2\n")
                 .arg(QLatin1String(operation.word) + QStringLiteral("=METHOD"), -16)
                 .arg(CommandLine::tr("T chosen by an automatic method, as ImageJ's:"));
    // The methods' words under the text, in lines that fit a terminal of 80 columns.
    const QString indent(19, QLatin1Char(' '));
    QString line = indent;
    for (const QString& method : MethodWords().split(QLatin1Char(' '))) {
      if (line.size() + method.size() > 79) {
        steps += line.trimmed().prepend(indent) + QLatin1Char('\n');
        line = indent;
      }
      line += method + QLatin1Char(' ');
    }
    steps += line.trimmed().prepend(indent) + QLatin1Char('\n');
  }
  return CommandLine::tr(
             "usage: ccdlab-cli [OPTION ...] INPUT OUTPUT [STEP ...]\n"
             "\n"
             "Loads INPUT, runs the steps in order on it and writes the result to OUTPUT.\n"
             "INPUT or OUTPUT may be - for standard input or output.\n"
             "\n"
             "Steps:\n") +
         steps +
         CommandLine::tr(
             "The first step works on the input picture; colour pictures are thresholded and\n"
             "edged per channel. Without steps the picture is only converted.\n"
             "\n"
             "Options:\n"
             "  --format F       output format where OUTPUT's extension names none:\n"
             "                   %1\n"
             "  --quality N      JPEG quality, 1 ... 100 (default 90)\n"
             "  --compression N  PNG and TIFF deflate level, 0 ... 9 (default 2)\n"
             "  --time           print each stage's wall time (and the thresholds chosen) on\n"
             "                   standard error\n"
             "  --help           print this text\n"
             "  --version        print the version and the licence\n"
             "Options may stand anywhere; -- ends them.\n"
             "\n"
             "Exit status:\n"
             "  0  success\n"
             "  1  a picture could not be read or written (nothing is written then)\n"
             "  2  a usage error\n")
             .arg(WritableFormats()) +
         MeasureUsageText();
}

QString VersionText() {
  return VersionText(QStringLiteral("ccdlab-cli"));
}

Request ParseArguments(const QStringList& arguments) {
  Request request;
  Plan& plan = request.plan;
  const PictureFormatInfo* asked = nullptr;
  QStringList positional;
  bool options = true;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& word = arguments[i];
    if (!options || word == QLatin1String("-") || !word.startsWith(QLatin1Char('-'))) {
      positional << word;
      continue;
    }
    if (word == QLatin1String("--")) {
      options = false;
      continue;
    }
    if (word == QLatin1String("--help") || word == QLatin1String("-h")) {
      request.kind = Request::Kind::Help;
      return request;
    }
    if (word == QLatin1String("--version")) {
      request.kind = Request::Kind::Version;
      return request;
    }
    if (word == QLatin1String("--time")) {
      plan.time = true;
      continue;
    }
    if (TakeMeasureFlag(word, plan.measure))
      continue;
    // Options with a value: "--name value" or "--name=value".
    const qsizetype equals = word.indexOf(QLatin1Char('='));
    const QString name = equals < 0 ? word : word.left(equals);
    if (name != QLatin1String("--format") && name != QLatin1String("--quality") &&
        name != QLatin1String("--compression") && !IsMeasureOption(name))
      return UsageError(CommandLine::tr("unknown option %1").arg(Shown(word)));
    QString value;
    if (equals >= 0)
      value = word.mid(equals + 1);
    else if (i + 1 < arguments.size())
      value = arguments[++i];
    else
      return UsageError(CommandLine::tr("%1 needs a value").arg(name));
    if (IsMeasureOption(name)) {
      if (const std::optional<QString> why = SetMeasureOption(name, value, plan.measure))
        return UsageError(*why);
    } else if (name == QLatin1String("--format")) {
      asked = FormatNamed(value);
      if (asked == nullptr || !asked->writable)
        return UsageError(CommandLine::tr("unknown output format %1").arg(Shown(value)));
    } else if (name == QLatin1String("--quality")) {
      const std::optional<int> quality = Number(value, 1, 100);
      if (!quality)
        return UsageError(
            CommandLine::tr("--quality takes a number from 1 to 100, not %1").arg(Shown(value)));
      plan.save.jpegQuality = *quality;
    } else {
      const std::optional<int> level = Number(value, 0, 9);
      if (!level)
        return UsageError(
            CommandLine::tr("--compression takes a number from 0 to 9, not %1").arg(Shown(value)));
      plan.save.compression = *level;
    }
  }
  if (plan.measure.Active()) {
    if (const std::optional<QString> why = ArrangeMeasuring(positional, plan, asked))
      return UsageError(*why);
    request.kind = Request::Kind::Run;
    return request;
  }
  if (positional.size() < 2)
    return UsageError(CommandLine::tr("INPUT and OUTPUT are needed"));
  plan.input = positional[0];
  plan.output = positional[1];
  if (const std::optional<QString> why = ParseSteps(positional.mid(2), plan.steps))
    return UsageError(*why);
  if (const std::optional<QString> why = DecideFormat(plan, asked))
    return UsageError(*why);
  plan.save.format = plan.format;
  request.kind = Request::Kind::Run;
  return request;
}

std::optional<QString> ParseSteps(const QStringList& words, std::vector<TStep>& steps) {
  for (const QString& word : words) {
    const std::optional<TStep> step = ParseStepWord(word.toStdString());
    const TOperationInfo* operation = OperationNamed(word.section(QLatin1Char('='), 0, 0));
    if (!step && operation != nullptr && operation->takesThreshold)
      return CommandLine::tr("unknown threshold in %1: a number from %2 to %3 or one of %4")
          .arg(Shown(word), QString::number(operation->parameter->minimum),
               QString::number(operation->parameter->maximum), MethodWords());
    if (!step)
      return CommandLine::tr("unknown step %1").arg(Shown(word));
    steps.push_back(*step);
  }
  return std::nullopt;
}

void InstallCommandLineLanguage(const QLocale& locale) {
  if (locale.language() != QLocale::Chinese || locale.script() != QLocale::TraditionalChineseScript)
    return;
  InstallManualPageLanguage();
  InstallPictureFailureLanguage();
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (translator->load(QStringLiteral(":/i18n/ccdlab-cli_zh_TW.qm")))
    QCoreApplication::installTranslator(translator);
}
