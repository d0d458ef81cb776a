// SPDX-License-Identifier: GPL-3.0-or-later
#include "CommandLine.h"

#include <unistd.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocale>
#include <QRegularExpression>
#include <QTranslator>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

#include "Exception.h"
#include "FileNames.h"
#include "Grayscale.h"
#include "ManualPage.h"
#include "Threshold.h"

namespace {

// The tool's own messages, translated by its catalogue.
class CommandLine {
  Q_DECLARE_TR_FUNCTIONS(CommandLine)
};

// The methods' command-line words, for the help and the usage error that names them.
QString MethodWords() {
  QStringList words;
  for (const TThresholdMethodInfo& method : ThresholdMethods())
    words << QLatin1String(method.word);
  return words.join(QLatin1String(", "));
}

bool TakesThreshold(const QString& word) {
  for (const TOperationInfo& operation : Operations())
    if (word == QLatin1String(operation.word))
      return operation.takesThreshold;
  return false;
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

// An argument as the messages show it: bytes that are not UTF-8 written \xff.
QString Shown(const QString& argument) {
  return ShownFileName(argument);
}

bool IsStandardStream(const QString& name) {
  return name == QLatin1String("-");
}

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

QString Quoted(const QString& name) {
  if (IsStandardStream(name))
    return CommandLine::tr("standard input");
  return QStringLiteral("'%1'").arg(Shown(name));
}

QString Reason(const PictureFileError& error) {
  switch (error.Fault()) {
    case PictureFault::NotFound:
      return CommandLine::tr("no such file");
    case PictureFault::NotRegularFile:
      return CommandLine::tr("not a regular file (a folder, pipe or device)");
    case PictureFault::NoPermission:
      return CommandLine::tr("permission denied");
    case PictureFault::NotAPicture:
      return CommandLine::tr("not a picture format ccdlab-cli reads");
    case PictureFault::EmptyFile:
      return CommandLine::tr("the file is empty");
    case PictureFault::Damaged:
      return CommandLine::tr("the picture is damaged or incomplete");
    case PictureFault::TooLarge:
      if (error.Declared().isValid())
        return CommandLine::tr("the picture is too large (%1 x %2 pixels; at most %3 x %3)")
            .arg(error.Declared().width())
            .arg(error.Declared().height())
            .arg(kMaxPictureSide);
      return CommandLine::tr("the picture is too large (at most %1 x %1 pixels)")
          .arg(kMaxPictureSide);
    case PictureFault::UnsupportedSamples:
      if (error.Number() > 0)
        return CommandLine::tr("samples of %1 bits are not supported (1, 2, 4, 8 or 16 are)")
            .arg(error.Number());
      return CommandLine::tr("floating-point or signed samples are not supported");
    case PictureFault::UnsupportedColours:
      return CommandLine::tr("the colour model %1 is not supported").arg(error.Detail());
    case PictureFault::ReadError:
      return CommandLine::tr("read error (%1)").arg(error.Detail());
    case PictureFault::OutOfMemory:
      return CommandLine::tr("not enough memory");
    case PictureFault::TooManyScans:
      return CommandLine::tr(
                 "the progressive picture has more than %1 scans, too many to decode in "
                 "reasonable time")
          .arg(error.Number());
    case PictureFault::NoFolder:
      return CommandLine::tr("the folder '%1' does not exist").arg(Shown(error.Detail()));
    case PictureFault::CannotWrite:
      return CommandLine::tr("write error (%1)").arg(error.Detail());
    case PictureFault::DiskFull:
      return CommandLine::tr("the disk is full (%1)").arg(error.Detail());
    case PictureFault::UnsupportedSaveFormat:
      return CommandLine::tr("not a format ccdlab-cli writes");
    case PictureFault::NothingToSave:
      return CommandLine::tr("there is no picture to write");
  }
  return {};
}

QString Sentence(const PictureFileError& error, const Plan& plan) {
  const bool reading = error.Action() == PictureAction::Open;
  const QString what =
      reading ? CommandLine::tr("cannot read %1: %2") : CommandLine::tr("cannot write %1: %2");
  const QString& name = reading ? plan.input : plan.output;
  QString target = Quoted(name);
  if (!reading && IsStandardStream(name))
    target = CommandLine::tr("standard output");
  return what.arg(target, Reason(error));
}

void Report(std::FILE* timings, const QString& name, qint64 nanoseconds) {
  if (timings != nullptr)
    std::fprintf(timings, "%s %.1f ms\n", name.toUtf8().constData(), nanoseconds / 1e6);
}

void Report(std::FILE* timings, const QString& name, const QElapsedTimer& clock) {
  Report(timings, name, clock.nsecsElapsed());
}

// The rows of the input as the reading thread brings them in.
class ArrivingRows final : public PictureRows {
 public:
  void Begin() override {
    const std::lock_guard lock(mutex_);
    begun_ = true;
    changed_.notify_all();
  }
  void Arrived(int rows) override {
    const std::lock_guard lock(mutex_);
    arrived_ = rows;
    changed_.notify_all();
  }
  void Ended() {
    const std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
  }

  // Whether rows come one after another (else the picture comes whole, or reading failed).
  bool WaitForBegin() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return begun_ || ended_; });
    return begun_;
  }
  // How many rows have come, once more than `have` have or reading has ended.
  int WaitForMoreThan(int have) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return arrived_ > have || ended_; });
    return arrived_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool begun_ = false;
  bool ended_ = false;
  int arrived_ = 0;
};

bool UsedLater(const TChain& steps, std::size_t after, TOperation operation) {
  for (std::size_t i = after + 1; i < steps.size(); ++i)
    if (steps[i].operation == operation)
      return true;
  return false;
}

// Reads the input on a thread of its own; destroying it waits for the thread.
class Reading {
 public:
  explicit Reading(const QString& input)
      : thread_([this, input] {
          try {
            picture_ = IsStandardStream(input) ? LoadPictureStream(STDIN_FILENO, input, &rows_)
                                               : LoadPictureFile(input, &rows_);
          } catch (...) {
            failure_ = std::current_exception();
          }
          rows_.Ended();
        }) {}
  ~Reading() {
    if (thread_.joinable())
      thread_.join();
  }
  Reading(const Reading&) = delete;
  Reading& operator=(const Reading&) = delete;

  ArrivingRows& Rows() { return rows_; }
  // Waits for the reading to end; raises what went wrong.
  void Finish() {
    thread_.join();
    if (failure_)
      std::rethrow_exception(failure_);
  }
  // The picture, once read.
  TBitmap& Picture() { return rows_.WaitForBegin() ? rows_.Picture() : picture_; }

 private:
  ArrivingRows rows_;
  TBitmap picture_;
  std::exception_ptr failure_;
  std::thread thread_;  // last: it starts once the rest exists
};

// Rows a PNG chooses its filter by; writing starts once they have come.
constexpr int kRowsToStartWriting = 256;

// The steps at the head of the chain that work row by row on the input picture as it is read:
// grey or binarize first, then binarizing. Binarize first works on the input's own rows, so it
// qualifies only when no later grey needs the input as it was.
std::size_t RowByRowSteps(const TChain& steps) {
  std::size_t count = 0;
  while (count < steps.size() && RunsRowByRow(steps[count]) &&
         (count == 0 || steps[count].operation != TOperation::Grey))
    ++count;
  if (count > 0 && steps[0].operation == TOperation::Binarize &&
      UsedLater(steps, 0, TOperation::Grey))
    return 0;
  return count;
}

struct Outcome {
  std::size_t stepsDone = 0;
  bool saved = false;
};

// Reads the input on another thread while this one runs the row-by-row steps on the rows that
// have come and, when nothing else follows, writes them into the output: a picture's reading,
// working and writing overlap, as they take turns on one processor otherwise.
Outcome RunWhileReading(const Plan& plan, TBitmap& main, TBitmap& processed, std::FILE* timings) {
  const std::size_t steps = RowByRowSteps(plan.steps);
  const bool writing = !IsStandardStream(plan.output) && steps == plan.steps.size();
  QElapsedTimer clock;
  clock.start();
  Reading reading(plan.input);
  ArrivingRows& rows = reading.Rows();
  if (!rows.WaitForBegin()) {
    reading.Finish();
    main = std::move(reading.Picture());
    Report(timings, QStringLiteral("load"), clock);
    return {};
  }
  TBitmap& input = rows.Picture();
  const int height = input.Height();
  const bool greyFirst = steps > 0 && plan.steps[0].operation == TOperation::Grey;
  TBitmap grey;
  if (greyFirst) {
    grey = TBitmap(input.Width(), height, TPixelFormat::pf8bit);
    grey.SetPalette(TPalette::Grey());
  }
  TBitmap& result = greyFirst ? grey : input;
  std::optional<PictureSaver> saver;
  std::vector<qint64> stepTime(steps, 0);
  qint64 saveTime = 0;
  QElapsedTimer part;
  int done = 0;
  int written = 0;
  while (done < height) {
    const int ready = rows.WaitForMoreThan(done);
    if (ready <= done)
      break;  // reading failed; Finish says why
    for (std::size_t i = 0; i < steps; ++i) {
      part.start();
      const TStep& step = plan.steps[i];
      if (step.operation == TOperation::Grey)
        ConvertToGreyRows(input, grey, done, ready);
      else
        ThresholdRows(result, result, step.threshold, done, ready);
      stepTime[i] += part.nsecsElapsed();
    }
    done = ready;
    if (writing && (saver || done >= std::min(height, kRowsToStartWriting))) {
      part.start();
      if (!saver)
        saver.emplace(result, done, plan.output, plan.save);
      saver->Rows(result, written, done);
      written = done;
      saveTime += part.nsecsElapsed();
    }
  }
  reading.Finish();
  Report(timings, QStringLiteral("load"), clock);
  for (std::size_t i = 0; i < steps; ++i)
    Report(timings, StepName(plan.steps[i]), stepTime[i]);
  if (saver) {
    part.start();
    saver->Finish(result);
    Report(timings, QStringLiteral("save"), saveTime + part.nsecsElapsed());
  }
  main = std::move(input);
  if (greyFirst)
    processed = std::move(grey);
  else if (steps > 0)
    processed = std::move(main);
  return {steps, saver.has_value()};
}

void WriteAll(const QByteArray& bytes, std::FILE* out) {
  if (std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), out) !=
          static_cast<std::size_t>(bytes.size()) ||
      std::fflush(out) != 0) {
    const int error = errno;
    throw PictureFileError(
        PictureAction::Save, QStringLiteral("-"),
        error == ENOSPC || error == EDQUOT ? PictureFault::DiskFull : PictureFault::CannotWrite,
        QString::fromLocal8Bit(std::strerror(error)));
  }
}

}  // namespace

QString StepName(const TStep& step) {
  return QString::fromStdString(StepWord(step));
}

QString UsageText() {
  QString steps;
  for (const TOperationInfo& operation : Operations()) {
    const QString word = QLatin1String(operation.word) +
                         (operation.takesThreshold ? QStringLiteral("=T") : QString());
    steps += QStringLiteral("  %1 %2\n")
                 .arg(word, -16)
                 .arg(QCoreApplication::translate("Operations", operation.summary));
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
             "                   png, bmp, jpg, tif, ppm or pgm\n"
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
             "  2  a usage error\n") +
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

int RunPlan(const Plan& plan, std::FILE* errors) {
  if (plan.measure.Active())
    return RunMeasuring(plan, errors);
  std::FILE* timings = plan.time ? errors : nullptr;
  try {
    TBitmap main;
    TBitmap processed;
    const Outcome outcome = RunWhileReading(plan, main, processed, timings);

    for (std::size_t i = outcome.stepsDone; i < plan.steps.size(); ++i) {
      QElapsedTimer clock;
      clock.start();
      const TStep& step = plan.steps[i];
      // The first step works on the input picture: grey reads it anyway; the others find it in
      // the processed image, moved there when no later grey needs it again.
      if (i == 0 && step.operation != TOperation::Grey) {
        if (UsedLater(plan.steps, i, TOperation::Grey))
          processed.Assign(main);
        else
          processed = std::move(main);
      }
      const std::optional<int> threshold = RunStep(step, main, processed);
      if (!UsedLater(plan.steps, i, TOperation::Grey))
        main = TBitmap();
      QString name = StepName(step);
      if (step.method)
        name += threshold ? QStringLiteral(" T=%1").arg(*threshold) : QStringLiteral(" T=-");
      Report(timings, name, clock);
    }

    if (!outcome.saved) {
      QElapsedTimer clock;
      clock.start();
      const TBitmap& result = plan.steps.empty() ? main : processed;
      if (IsStandardStream(plan.output))
        WriteAll(EncodePicture(result, *plan.format, plan.save), stdout);
      else
        SavePictureFile(result, plan.output, plan.save);
      Report(timings, QStringLiteral("save"), clock);
    }
  } catch (const PictureFileError& error) {
    std::fprintf(errors, "ccdlab-cli: %s\n", Sentence(error, plan).toUtf8().constData());
    return 1;
  } catch (const std::bad_alloc&) {
    std::fprintf(errors, "ccdlab-cli: %s\n",
                 CommandLine::tr("not enough memory").toUtf8().constData());
    return 1;
  }
  return 0;
}

std::optional<QString> ParseSteps(const QStringList& words, std::vector<TStep>& steps) {
  for (const QString& word : words) {
    const std::optional<TStep> step = ParseStepWord(word.toStdString());
    if (!step && TakesThreshold(word.section(QLatin1Char('='), 0, 0)))
      return CommandLine::tr("unknown threshold in %1: a number from 0 to 255 or one of %2")
          .arg(Shown(word), MethodWords());
    if (!step)
      return CommandLine::tr("unknown step %1").arg(Shown(word));
    steps.push_back(*step);
  }
  return std::nullopt;
}

std::optional<QString> DecideOutputFormat(Plan& plan, const PictureFormatInfo* asked) {
  return DecideFormat(plan, asked);
}

QString PictureErrorSentence(const PictureFileError& error, const Plan& plan) {
  return Sentence(error, plan);
}

void InstallCommandLineLanguage(const QLocale& locale) {
  if (locale.language() != QLocale::Chinese || locale.script() != QLocale::TraditionalChineseScript)
    return;
  InstallManualPageLanguage();
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (translator->load(QStringLiteral(":/i18n/ccdlab-cli_zh_TW.qm")))
    QCoreApplication::installTranslator(translator);
}
