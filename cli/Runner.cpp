// SPDX-License-Identifier: GPL-3.0-or-later
#include "Runner.h"

#include <unistd.h>
#include <QElapsedTimer>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

#include "FileNames.h"

namespace {

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

struct Outcome {
  std::size_t stepsDone = 0;
  bool saved = false;
};

// Reads the input on another thread while this one runs the row-by-row steps on the rows that
// have come and, when nothing else follows, writes them into the output: a picture's reading,
// working and writing overlap, as they take turns on one processor otherwise.
Outcome RunWhileReading(const Plan& plan, TBitmap& main, TBitmap& processed, std::FILE* timings) {
  const std::size_t steps = BandSteps(plan.steps);
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
  TChainBands bands(plan.steps, input);
  TBitmap& result = bands.Result();
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
      bands.Run(i, done, ready);
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
  bands.Finish(processed);
  main = std::move(input);
  return {steps, saver.has_value()};
}

}  // namespace

QString QuotedName(const QString& name) {
  if (IsStandardStream(name))
    return CommandLine::tr("standard input");
  return QStringLiteral("'%1'").arg(ShownFileName(name));
}

QString PictureErrorSentence(const PictureFileError& error, const Plan& plan) {
  const bool reading = error.Action() == PictureAction::Open;
  const QString what =
      reading ? CommandLine::tr("cannot read %1: %2") : CommandLine::tr("cannot write %1: %2");
  const QString& name = reading ? plan.input : plan.output;
  QString target = QuotedName(name);
  if (!reading && IsStandardStream(name))
    target = CommandLine::tr("standard output");
  return what.arg(target, PictureFailureReasonInLocale(error));
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
      const std::optional<int> threshold = RunChainStep(plan.steps, i, main, processed);
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
    std::fprintf(errors, "ccdlab-cli: %s\n",
                 PictureErrorSentence(error, plan).toUtf8().constData());
    return 1;
  } catch (const TRefusedPicture&) {
    // The only kind an operation asks for; the record's text is the window's, in Chinese.
    std::fprintf(errors, "ccdlab-cli: %s\n",
                 CommandLine::tr("a black-and-white picture is needed: binarize first")
                     .toUtf8()
                     .constData());
    return 1;
  } catch (const std::bad_alloc&) {
    std::fprintf(errors, "ccdlab-cli: %s\n",
                 CommandLine::tr("not enough memory").toUtf8().constData());
    return 1;
  }
  return 0;
}
