// SPDX-License-Identifier: GPL-3.0-or-later
#include "LiveFeed.h"

#include <QCoreApplication>
#include <QEvent>
#include <algorithm>
#include <exception>
#include <future>
#include <system_error>
#include <utility>

#include "ImageView.h"
#include "PictureCanvas.h"
#include "QImageBridge.h"

namespace {

QEvent::Type ShowEvent() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

}  // namespace

namespace {

// The chain's input: BGRx as 32-bit pixels, opaque whatever the camera left in the fourth byte,
// in one pass that the compiler vectorises.
void CopyOpaque(const QImage& frame, TBitmap& copy) {
  if (copy.Width() != frame.width() || copy.Height() != frame.height() ||
      copy.PixelFormat() != TPixelFormat::pf32bit)
    copy = TBitmap(frame.width(), frame.height(), TPixelFormat::pf32bit);
  const int width = frame.width();
  for (int y = 0; y < frame.height(); ++y) {
    const auto* in = reinterpret_cast<const std::uint32_t*>(frame.constScanLine(y));
    auto* out = reinterpret_cast<std::uint32_t*>(copy.ScanLine(y));
    for (int x = 0; x < width; ++x)
      out[x] = in[x] | 0xff000000u;
  }
}

}  // namespace

TLiveFrame WorkLiveFrame(QImage frame, const std::optional<TChain>& chain, int factor,
                         bool histogram, TLiveBuffers& buffers,
                         const std::optional<TMeasureOptions>& measure) {
  TLiveFrame ready;
  // A chain that refuses the frame (a binary command on colours) leaves it raw, saying why.
  const auto run = [&](const TBitmap& source) {
    try {
      RunChain(*chain, source, ready.picture);
    } catch (const TRefusedPicture& refusal) {
      ready.picture.Assign(source);
      ready.refused = QString::fromUtf8(refusal.what());
    }
  };
  if (chain && frame.format() == QImage::Format_RGB32) {
    CopyOpaque(frame, buffers.copy);
    // The camera's buffer goes back as soon as its pixels are copied.
    frame = QImage();
    run(buffers.copy);
  } else {
    // Shown raw: 24-bit, as a grab gives it.
    TBitmap raw = BitmapFromQImage(frame);
    frame = QImage();
    if (chain)
      run(raw);
    else
      ready.picture = std::move(raw);
  }
  const auto makeAids = [&picture = std::as_const(ready.picture), factor, histogram] {
    return MakePaintAids(picture, factor, histogram);
  };
  if (!measure) {
    ready.aids = makeAids();
    return ready;
  }
  // The paint aids are made beside the measuring, on another core where there is one: both only
  // read the picture. The measuring, the longer, stays on this thread, which has no thread to
  // start first.
  std::future<TPaintAids> aids;
  try {
    aids = std::async(std::launch::async, makeAids);
  } catch (const std::system_error&) {
    ready.aids = makeAids();
  }
  ready.measured = true;
  try {
    ready.objects =
        std::make_shared<const TMeasurement>(buffers.measurer.Measure(ready.picture, *measure));
  } catch (const TRefusedPicture&) {
    // Not black and white: nothing to count; the view says so.
  }
  if (aids.valid())
    ready.aids = aids.get();
  return ready;
}

TLiveFeed::TLiveFeed(TViewerWindow* viewer)
    : QObject(viewer), viewer_(viewer), worker_([this] { Work(); }) {
  setObjectName(QStringLiteral("LiveFeed"));
}

TLiveFeed::~TLiveFeed() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  worker_.join();
}

void TLiveFeed::SetChain(std::optional<TChain> chain) {
  chain_ = std::move(chain);
}

void TLiveFeed::SetMeasuring(std::optional<TMeasureOptions> options) {
  measure_ = std::move(options);
}

void TLiveFeed::SetLog(std::shared_ptr<TMeasureLog> log) {
  log_ = std::move(log);
}

void TLiveFeed::Hold(bool held) {
  held_ = held;
}

void TLiveFeed::Push(QImage frame) {
  if (held_ || viewer_ == nullptr || frame.isNull())
    return;
  Job job{std::move(frame),
          chain_,
          viewer_->Canvas()->ReductionFactor(),
          viewer_->HistogramShown(),
          measure_,
          measure_ ? log_ : nullptr,
          std::chrono::system_clock::now(),
          Clock::now(),
          0};
  std::optional<Job> dropped;
  {
    std::lock_guard lock(mutex_);
    job.sequence = ++counts_.offered;
    dropped = std::exchange(job_, std::move(job));
  }
  wake_.notify_one();
  // `dropped` gives its camera buffer back here, outside the lock.
}

TLiveCounts TLiveFeed::Counts() const {
  std::lock_guard lock(mutex_);
  return counts_;
}

void TLiveFeed::Work() {
  TLiveBuffers buffers;
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || job_.has_value(); });
    if (stopping_)
      return;
    Job job = std::move(*job_);
    job_.reset();
    lock.unlock();

    const Clock::time_point start = Clock::now();
    std::optional<Result> result;
    try {
      result.emplace(Result{WorkLiveFrame(std::move(job.frame), job.chain, job.factor,
                                          job.histogram, buffers, job.measure),
                            job.pushed, job.sequence});
      if (job.log != nullptr && result->frame.objects != nullptr)
        job.log->Write(job.taken, result->frame.objects->summary);
    } catch (const std::exception&) {
      // Out of memory for this frame: the next one may fare better, the view keeps the last.
      result.reset();
    }
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();

    std::optional<Result> dropped;
    lock.lock();
    ++counts_.worked;
    counts_.workMs += ms;
    if (result && result->frame.objects != nullptr)
      ++counts_.measured;
    if (result) {
      dropped = std::exchange(result_, std::move(result));
      if (!showPending_) {
        showPending_ = true;
        QCoreApplication::postEvent(this, new QEvent(ShowEvent()));
      }
    }
    // A result not shown yet is freed outside the lock.
    lock.unlock();
    dropped.reset();
    lock.lock();
  }
}

void TLiveFeed::customEvent(QEvent* event) {
  if (event->type() == ShowEvent())
    Show();
  else
    QObject::customEvent(event);
}

void TLiveFeed::Show() {
  std::optional<Result> result;
  {
    std::lock_guard lock(mutex_);
    showPending_ = false;
    result = std::exchange(result_, std::nullopt);
  }
  if (!result || held_ || viewer_ == nullptr || viewer_->View() == nullptr)
    return;
  viewer_->View()->Picture()->Bitmap()->Assign(std::move(result->frame.picture));
  viewer_->AdoptPaintAids(std::move(result->frame.aids));
  shownMeasured_ = result->frame.measured;
  shownObjects_ = std::move(result->frame.objects);
  viewer_->Canvas()->SetObjects(shownObjects_);
  // Only a notice of its own is taken down: the camera's stay as its viewer set them.
  if (!result->frame.refused.isEmpty() || refusalShown_)
    viewer_->SetNotice(result->frame.refused);
  refusalShown_ = !result->frame.refused.isEmpty();
  const double latency =
      std::chrono::duration<double, std::milli>(Clock::now() - result->pushed).count();
  {
    std::lock_guard lock(mutex_);
    ++counts_.shown;
    counts_.latencyMs += latency;
    counts_.latencyMaxMs = std::max(counts_.latencyMaxMs, latency);
    counts_.behindMax = std::max(counts_.behindMax, counts_.offered - result->sequence);
  }
  emit FrameShown();
}
