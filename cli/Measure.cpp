// SPDX-License-Identifier: GPL-3.0-or-later
#include "Measure.h"

#include <unistd.h>
#include <QCoreApplication>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Arguments.h"
#include "FileNames.h"
#include "Runner.h"

namespace {

// The texts this file shares with the rest of the tool are in the tool's own context.
class Measure {
  Q_DECLARE_TR_FUNCTIONS(Measure)
};

std::optional<double> Area(const QString& text) {
  bool ok = false;
  const double value = text.toDouble(&ok);
  if (!ok || std::isnan(value) || value < 0)
    return std::nullopt;
  return value;
}

// A step's word, possibly with a wrong value ("binarize=otsuu"), which the steps' parser then
// names.
bool NamesStep(const QString& word) {
  const QString name = word.section(QLatin1Char('='), 0, 0);
  for (const TOperationInfo& operation : Operations())
    if (name == QLatin1String(operation.word))
      return true;
  return false;
}

// What one picture gave: its rows of both tables, or why it failed.
struct Result {
  bool done = false;
  std::string table;
  std::string summary;
  QString failure;
};

QString Failure(const QString& input, const char* refusal) {
  if (std::strcmp(refusal, KindRefusal(TPictureKind::BlackAndWhite)) == 0)
    return Measure::tr("cannot measure %1: it is not a black-and-white picture; binarize it first")
        .arg(QuotedName(input));
  return QString::fromUtf8(refusal);
}

// Loads one input, runs the steps, writes the picture where the plan names an output, and
// measures the result.
Result MeasureOne(const Plan& plan, const QString& input) {
  Result result;
  Plan named = plan;
  named.input = input;
  try {
    TBitmap main =
        IsStandardStream(input) ? LoadPictureStream(STDIN_FILENO, input) : LoadPictureFile(input);
    TBitmap processed;
    if (!plan.steps.empty()) {
      RunChain(plan.steps, main, processed);
      main = TBitmap();
    }
    const TBitmap& picture = plan.steps.empty() ? main : processed;
    const MeasurePlan& measure = plan.measure;
    const TMeasurement measurement = MeasureParticles(picture, measure.options);
    const std::string file = FileNameBytes(input).toStdString();
    const TTableStyle style{.fileColumn = measure.fileColumn};
    std::ostringstream table, summary;
    WriteTableRows(table, measurement, measure.options, file, style);
    WriteSummaryRow(summary, measurement.summary, file, style);
    result.table = std::move(table).str();
    result.summary = std::move(summary).str();
    // The picture only once it measured: a refused one writes nothing.
    if (!plan.output.isEmpty()) {
      if (IsStandardStream(plan.output)) {
        WriteAll(EncodePicture(picture, *plan.format, plan.save), stdout);
      } else {
        SavePictureFile(picture, plan.output, plan.save);
      }
    }
  } catch (const PictureFileError& error) {
    result.failure = PictureErrorSentence(error, named);
  } catch (const TRefusedPicture& refusal) {
    result.failure = Failure(input, refusal.what());
  } catch (const std::bad_alloc&) {
    result.failure =
        QStringLiteral("%1: %2").arg(ShownFileName(input), CommandLine::tr("not enough memory"));
  } catch (const std::exception& error) {
    // Whatever else fails stays with its picture: the others are still measured.
    result.failure =
        QStringLiteral("%1: %2").arg(ShownFileName(input), QString::fromUtf8(error.what()));
  }
  return result;
}

// A table's file, or standard output; reports a write error once.
class Sink {
 public:
  Sink(const QString& name, std::FILE* errors) : name_(name), errors_(errors) {
    if (name.isEmpty())
      return;
    if (IsStandardStream(name)) {
      file_ = stdout;
      return;
    }
    file_ = std::fopen(FileNameBytes(name).constData(), "wb");
    if (file_ == nullptr)
      Fail(errno);
  }
  ~Sink() {
    if (file_ != nullptr && file_ != stdout)
      std::fclose(file_);
  }
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;

  bool Failed() const { return failed_; }
  void Write(const std::string& text) {
    if (file_ == nullptr || failed_ || text.empty())
      return;
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size())
      Fail(errno);
  }
  // Pushes everything out, so that a table stays whole as far as it goes if the run is cut.
  void Flush() {
    if (file_ != nullptr && !failed_ && std::fflush(file_) != 0)
      Fail(errno);
  }
  bool Close() {
    Flush();
    if (file_ != nullptr && file_ != stdout) {
      if (std::fclose(file_) != 0 && !failed_)
        Fail(errno);
      file_ = nullptr;
    }
    return !failed_;
  }

 private:
  void Fail(int error) {
    failed_ = true;
    const QString target = IsStandardStream(name_)
                               ? CommandLine::tr("standard output")
                               : QStringLiteral("'%1'").arg(ShownFileName(name_));
    std::fprintf(errors_, "ccdlab-cli: %s\n",
                 CommandLine::tr("cannot write %1: %2")
                     .arg(target, QString::fromLocal8Bit(std::strerror(error)))
                     .toUtf8()
                     .constData());
  }

  QString name_;
  std::FILE* errors_;
  std::FILE* file_ = nullptr;
  bool failed_ = false;
};

}  // namespace

bool TakeMeasureFlag(const QString& word, MeasurePlan& plan) {
  if (word == QLatin1String("--exclude-edges"))
    plan.options.excludeEdges = true;
  else if (word == QLatin1String("--include-holes"))
    plan.options.includeHoles = true;
  else
    return false;
  return true;
}

bool IsMeasureOption(const QString& name) {
  for (const char* option :
       {"--measure", "--summary", "--steps", "--objects", "--min-area", "--max-area", "--scale"})
    if (name == QLatin1String(option))
      return true;
  return false;
}

std::optional<QString> SetMeasureOption(const QString& name, const QString& value,
                                        MeasurePlan& plan) {
  if (name == QLatin1String("--measure") || name == QLatin1String("--summary")) {
    if (value.isEmpty())
      return CommandLine::tr("%1 needs a value").arg(name);
    (name == QLatin1String("--measure") ? plan.table : plan.summary) = value;
  } else if (name == QLatin1String("--steps")) {
    plan.steps = value;
  } else if (name == QLatin1String("--objects")) {
    if (value != QLatin1String("black") && value != QLatin1String("white"))
      return Measure::tr("--objects takes black or white, not %1").arg(ShownFileName(value));
    plan.options.whiteObjects = value == QLatin1String("white");
  } else if (name == QLatin1String("--scale")) {
    const auto scale = ParseScale(value.toStdString());
    if (!scale)
      return Measure::tr("--scale takes a length per pixel with its unit, as 0.65um, not %1")
          .arg(ShownFileName(value));
    plan.options.scale = scale->first;
    plan.options.unit = scale->second;
  } else {
    const std::optional<double> area = Area(value);
    if (!area)
      return Measure::tr("%1 takes an area of 0 or more, not %2").arg(name, ShownFileName(value));
    (name == QLatin1String("--min-area") ? plan.options.minArea : plan.options.maxArea) = *area;
  }
  return std::nullopt;
}

std::optional<QString> ArrangeMeasuring(const QStringList& positional, Plan& plan,
                                        const PictureFormatInfo* asked) {
  MeasurePlan& measure = plan.measure;
  if (measure.table.isEmpty())
    return Measure::tr("--summary needs --measure");
  if (IsStandardStream(measure.table) && IsStandardStream(measure.summary))
    return Measure::tr("--measure and --summary cannot both write to standard output");
  if (measure.options.minArea > measure.options.maxArea)
    return Measure::tr("--min-area is larger than --max-area");
  QStringList steps;
  if (measure.steps) {
    if (positional.isEmpty())
      return Measure::tr("INPUT is needed");
    measure.inputs = positional;
    measure.fileColumn = true;
    steps = measure.steps->split(QLatin1Char(' '), Qt::SkipEmptyParts);
  } else {
    if (positional.isEmpty())
      return Measure::tr("INPUT is needed");
    measure.inputs = {positional[0]};
    // OUTPUT may be left out: a word that names a step is the first step.
    qsizetype first = 1;
    if (positional.size() > 1 && !NamesStep(positional[1])) {
      plan.output = positional[1];
      first = 2;
    }
    steps = positional.mid(first);
  }
  // A table written over a picture would lose it (a shell's * also matches last run's table).
  for (const QString& table : {measure.table, measure.summary}) {
    if (table.isEmpty() || IsStandardStream(table))
      continue;
    const QString path = QFileInfo(table).absoluteFilePath();
    for (const QString& picture : measure.inputs + QStringList{plan.output})
      if (!picture.isEmpty() && !IsStandardStream(picture) &&
          QFileInfo(picture).absoluteFilePath() == path)
        return Measure::tr("%1 is a picture of this command, not a table to write")
            .arg(ShownFileName(table));
  }
  plan.input = measure.inputs.value(0);
  if (const std::optional<QString> why = ParseSteps(steps, plan.steps))
    return why;
  if (!plan.output.isEmpty()) {
    if (IsStandardStream(plan.output) &&
        (IsStandardStream(measure.table) || IsStandardStream(measure.summary)))
      return Measure::tr("the picture and a table cannot both write to standard output");
    if (const std::optional<QString> why = DecideFormat(plan, asked))
      return why;
    plan.save.format = plan.format;
  }
  return std::nullopt;
}

int RunMeasuring(const Plan& plan, std::FILE* errors) {
  const MeasurePlan& measure = plan.measure;
  const TTableStyle style{.fileColumn = measure.fileColumn};
  Sink table(measure.table, errors);
  Sink summary(measure.summary, errors);
  if (table.Failed() || summary.Failed())
    return 1;
  table.Write(TableHeader(measure.options, style) + '\n');
  summary.Write(SummaryHeader(measure.options, style) + '\n');

  const QStringList& inputs = measure.inputs;
  const std::size_t count = static_cast<std::size_t>(inputs.size());
  const std::size_t threads = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1,
                                                      std::max<std::size_t>(count, 1));
  // Pictures in flight at most: each thread works on one while finished rows wait their turn.
  const std::size_t window = 2 * threads;
  std::vector<Result> results(count);
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t next = 0;
  std::size_t written = 0;
  auto work = [&] {
    for (;;) {
      std::size_t index;
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return next >= count || next < written + window; });
        if (next >= count)
          return;
        index = next++;
      }
      Result result = MeasureOne(plan, inputs[static_cast<qsizetype>(index)]);
      {
        const std::lock_guard lock(mutex);
        result.done = true;
        results[index] = std::move(result);
      }
      changed.notify_all();
    }
  };
  std::vector<std::thread> pool;
  for (std::size_t i = 0; i < threads; ++i)
    pool.emplace_back(work);
  bool failed = false;
  for (std::size_t i = 0; i < count; ++i) {
    Result result;
    {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return results[i].done; });
      result = std::move(results[i]);
      results[i] = Result();
      written = i + 1;
    }
    changed.notify_all();
    if (!result.failure.isEmpty()) {
      failed = true;
      std::fprintf(errors, "ccdlab-cli: %s\n", result.failure.toUtf8().constData());
      std::fflush(errors);
      continue;
    }
    table.Write(result.table);
    summary.Write(result.summary);
    table.Flush();
    summary.Flush();
  }
  for (std::thread& thread : pool)
    thread.join();
  // Both are closed, whatever the first gives.
  const bool tableClosed = table.Close();
  const bool summaryClosed = summary.Close();
  return failed || !tableClosed || !summaryClosed ? 1 : 0;
}

QString MeasureUsageText() {
  return Measure::tr(
      "\n"
      "Measuring:\n"
      "  ccdlab-cli [OPTION ...] INPUT [OUTPUT] [STEP ...] --measure CSV\n"
      "  ccdlab-cli [OPTION ...] --measure CSV --steps \"STEP ...\" INPUT ...\n"
      "Counts and measures the objects of the black-and-white result of the steps\n"
      "(of the input itself without steps) as ImageJ's Analyze Particles does, the\n"
      "8-connected black objects, with their area, centroid, perimeter, bounding box\n"
      "and circularity. With --steps every other word is an input, measured on all\n"
      "processors; the tables then begin with a file column, in the inputs' order.\n"
      "A picture that fails is named on standard error, the others are still\n"
      "measured, and the exit status is 1.\n"
      "\n"
      "Measuring options:\n"
      "  --measure CSV    write the objects' table to CSV (- for standard output)\n"
      "  --summary CSV    write the count, total area, average size and area\n"
      "                   percentage, one row per picture\n"
      "  --steps STEPS    the steps for every input, as one word:\n"
      "                   \"gray binarize=otsu\"\n"
      "  --objects O      black (the default) or white objects\n"
      "  --min-area A     leave out objects smaller than A (in the scale's unit\n"
      "                   squared)\n"
      "  --max-area A     leave out objects larger than A\n"
      "  --exclude-edges  leave out objects that touch the picture's edge\n"
      "  --include-holes  count holes in their objects' areas; objects in holes are\n"
      "                   not counted\n"
      "  --scale S        length of a pixel with its unit, as 0.65um: areas,\n"
      "                   centroids, perimeters and boxes in that unit\n");
}
