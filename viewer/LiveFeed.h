// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "Bitmap.h"
#include "Commands.h"
#include "MeasureLog.h"
#include "Measurement.h"
#include "ViewerWindow.h"

// How a feed has done since it started.
struct TLiveCounts {
  std::uint64_t offered = 0;  // frames pushed
  std::uint64_t shown = 0;
  std::uint64_t worked = 0;    // frames worked on, shown or not
  std::uint64_t measured = 0;  // frames whose objects were measured, shown or not
  double workMs = 0;           // their time in total: conversion, chain and paint aids
  double latencyMs = 0;        // from push to shown, in total over the frames shown
  double latencyMaxMs = 0;
  // The most frames pushed after a frame before it was shown.
  std::uint64_t behindMax = 0;
};

// A camera frame made ready to show: its bitmap, raw or through `chain`, and the paint aids for a
// viewer at reduction factor `factor` (TPictureCanvas::ReductionFactor) with the histogram shown
// or not, and its objects measured with `measure` where given. What the feed's thread does with
// each frame. `buffers` are kept from frame to frame so that they are not allocated anew each time.
struct TLiveBuffers {
  TBitmap copy;  // the frame's pixels for the chain
  // The feed's thread measures while a second core makes the paint aids, then traces with it.
  TParticleMeasurer measurer{true};
};
struct TLiveFrame {
  TBitmap picture;
  TPaintAids aids;
  // Measured: the objects, or none where the picture is not black and white.
  bool measured = false;
  std::shared_ptr<const TMeasurement> objects;
  // Why the chain refused the frame, which is then shown raw; empty where it ran.
  QString refused;
};
TLiveFrame WorkLiveFrame(QImage frame, const std::optional<TChain>& chain, int factor,
                         bool histogram, TLiveBuffers& buffers,
                         const std::optional<TMeasureOptions>& measure = std::nullopt);

// Frames of a camera shown in a viewer as they come, raw or through a chain, worked on by a
// thread of its own so that the window never waits for them. Frames are dropped, never queued:
// a frame pushed while another is worked on waits in a one-place slot, replacing the frame
// waiting there, and a result not shown yet is replaced by the next one.
class TLiveFeed : public QObject {
  Q_OBJECT

 public:
  // Feeds the view `viewer` follows, and adds the paint aids it wants to each frame.
  explicit TLiveFeed(TViewerWindow* viewer);
  ~TLiveFeed() override;

  // None: frames are shown as they come.
  void SetChain(std::optional<TChain> chain);
  const std::optional<TChain>& Chain() const { return chain_; }
  // Measures every frame worked on, after the chain; none: no measuring.
  void SetMeasuring(std::optional<TMeasureOptions> options);
  const std::optional<TMeasureOptions>& Measuring() const { return measure_; }
  // Each frame measured from now on gets a row there; none: no more rows.
  void SetLog(std::shared_ptr<TMeasureLog> log);
  const std::shared_ptr<TMeasureLog>& Log() const { return log_; }
  // The frame on show as measured (see TLiveFrame).
  bool ShownMeasured() const { return shownMeasured_; }
  const std::shared_ptr<const TMeasurement>& ShownObjects() const { return shownObjects_; }
  // While held, frames are neither worked on nor shown: the picture on show stays.
  void Hold(bool held);

  // On the user-interface thread, for every frame: BGRx pixels (QImage::Format_RGB32).
  void Push(QImage frame);

  TLiveCounts Counts() const;

 signals:
  void FrameShown();

 protected:
  void customEvent(QEvent* event) override;

 private:
  using Clock = std::chrono::steady_clock;
  struct Job {
    QImage frame;
    std::optional<TChain> chain;
    int factor = 0;
    bool histogram = false;
    std::optional<TMeasureOptions> measure;
    std::shared_ptr<TMeasureLog> log;
    std::chrono::system_clock::time_point taken;
    Clock::time_point pushed;
    std::uint64_t sequence = 0;
  };
  struct Result {
    TLiveFrame frame;
    Clock::time_point pushed;
    std::uint64_t sequence = 0;
  };

  void Work();
  void Show();

  QPointer<TViewerWindow> viewer_;
  std::optional<TChain> chain_;
  std::optional<TMeasureOptions> measure_;
  std::shared_ptr<TMeasureLog> log_;
  bool shownMeasured_ = false;
  bool refusalShown_ = false;  // the notice shows why the chain refused the frames
  std::shared_ptr<const TMeasurement> shownObjects_;
  bool held_ = false;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::optional<Job> job_;
  std::optional<Result> result_;
  bool showPending_ = false;
  bool stopping_ = false;
  TLiveCounts counts_;
  std::thread worker_;
};
