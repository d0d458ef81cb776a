// SPDX-License-Identifier: GPL-3.0-or-later
// The live view of the camera. What the feed's thread does with each BGRx frame under live
// processing (grey, binarize, edges, then what the viewer paints from: the whole frame in RGB32 or
// its reduced copy for a fitted view, and the histogram), beside memcpy of the frame, at 1080p
// and 2160p. And a 1080p 30 fps test source through the real capture window and live viewer for
// 10 s: the share of the frames delivered that were shown, and how far behind the camera. The same
// with the objects of every frame measured (grey, binarize, measure).
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QTemporaryDir>
#include <cstring>

#include "BenchPictures.h"
#include "CaptureWindow.h"
#include "LiveFeed.h"
#include "LiveViewer.h"
#include "PictureCanvas.h"
#include "QImageBridge.h"
#include "Unit1.h"
#include "Workbench.h"

// SliderStepBench.cpp
void StartForms();

namespace {

// A photograph-like BGRx frame, as the capture driver hands it over.
QImage Frame(int width, int height) {
  QImage frame(width, height, QImage::Format_RGB32);
  const TBitmap photo = PhotoLike(TPixelFormat::pf24bit, 5);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* in = photo.ScanLine(y % photo.Height());
    auto* out = reinterpret_cast<QRgb*>(frame.scanLine(y));
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* p = in + 3 * (x % photo.Width());
      out[x] = qRgb(p[2], p[1], p[0]);
    }
  }
  return frame;
}

const TChain kLiveChain{{TOperation::Grey}, {TOperation::Binarize, 128}, {TOperation::Edges}};
// Counting: the chain a user thresholds with, then every frame measured, outlines and all.
const TChain kMeasureChain{{TOperation::Grey}, {TOperation::Binarize, 128}};

void MemcpyFrame(benchmark::State& state) {
  const QImage frame = Frame(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  QImage copy(frame.size(), frame.format());
  for (auto _ : state) {
    std::memcpy(copy.bits(), frame.constBits(), frame.sizeInBytes());
    benchmark::ClobberMemory();
  }
}

// The factor a view fitted into a 1280 × 720 canvas draws from: 1 at 1080p, 2 at 2160p.
void LiveChain(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const QImage frame = Frame(width, static_cast<int>(state.range(1)));
  const int factor = width > 2560 ? 2 : 1;
  TLiveBuffers buffers;
  for (auto _ : state)
    benchmark::DoNotOptimize(WorkLiveFrame(frame, kLiveChain, factor, true, buffers));
}

void LiveMeasure(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const QImage frame = Frame(width, static_cast<int>(state.range(1)));
  const int factor = width > 2560 ? 2 : 1;
  TLiveBuffers buffers;
  const TMeasureOptions options;
  std::size_t objects = 0;
  for (auto _ : state) {
    const TLiveFrame ready = WorkLiveFrame(frame, kMeasureChain, factor, true, buffers, options);
    objects = ready.objects->particles.size();
  }
  state.counters["objects"] = static_cast<double>(objects);
}

// 10 s of a live 1080p camera at 30 fps, processing on (and measuring, with a log being
// written); each repetition opens the camera and the viewer anew.
void LiveCamera(benchmark::State& state, bool measuring) {
  qputenv("CCDLAB_CAPTURE_SOURCE",
          "videotestsrc is-live=true pattern=ball ! video/x-raw,width=1920,height=1080,"
          "framerate=30/1");
  StartForms();
  using namespace capture;
  // What "開啟攝影機" does, without its notice.
  CaptureWnd =
      capCreateCaptureWindowA("Capture Window", WS_CHILD | WS_VISIBLE, 0, 0, Form1->Panel1->width(),
                              Form1->Panel1->height(), Form1->Panel1, 0);
  SendMessageA(CaptureWnd, WM_CAP_DRIVER_CONNECT, 0, 0);
  SendMessageA(CaptureWnd, WM_CAP_SET_OVERLAY, 1, 0);
  SendMessageA(CaptureWnd, WM_CAP_SET_SCALE, 1, 0);
  TLiveViewerLink* link = TLiveViewerLink::Of(Form1);
  TViewerWindow* viewer = link->Open();
  viewer->resize(1280, 800);
  link->ProcessingAction()->setChecked(true);
  QTemporaryDir logs;
  if (measuring) {
    // A live chain that counts: grey and binarize, as the window's commands make it.
    TWorkbench* workbench = Form1->Workbench();
    workbench->TakeFrame(TBitmap(8, 8, TPixelFormat::pf24bit));
    workbench->Run({TOperation::Grey});
    workbench->BeginBinarize();
    workbench->TryThreshold(128);
    workbench->AcceptBinarize();
    link->StartLog(logs.filePath(QStringLiteral("live.csv")));
  }
  const auto run = [](int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  };
  // The first frames start the pipeline; counting starts once it streams.
  run(1500);
  TCaptureWindow* camera = CaptureWindowFromHandle(CaptureWnd);
  TLiveCounts before{}, after{};
  std::uint64_t delivered = 0, logged = 0;
  // The log has had rows since the start; only those of the counted span are compared.
  const auto rows = [&] { return measuring ? link->Log()->Rows() : 0; };
  for (auto _ : state) {
    before = link->Feed()->Counts();
    const std::uint64_t deliveredBefore = camera->FramesDelivered();
    const std::uint64_t rowsBefore = rows();
    run(10000);
    after = link->Feed()->Counts();
    logged = rows() - rowsBefore;
    delivered = camera->FramesDelivered() - deliveredBefore;
  }
  const double shown = static_cast<double>(after.shown - before.shown);
  state.counters["delivered"] = static_cast<double>(delivered);
  state.counters["shown"] = shown;
  state.counters["shown_percent"] = 100.0 * shown / static_cast<double>(delivered);
  state.counters["latency_mean_ms"] = (after.latencyMs - before.latencyMs) / shown;
  state.counters["latency_max_ms"] = after.latencyMaxMs;
  state.counters["behind_max_frames"] = static_cast<double>(after.behindMax);
  state.counters["work_ms"] =
      (after.workMs - before.workMs) / static_cast<double>(after.worked - before.worked);
  if (measuring) {
    state.counters["measured"] = static_cast<double>(after.measured - before.measured);
    state.counters["logged"] = static_cast<double>(logged);
    link->StopLog();
  }
  viewer->close();
  DestroyWindow(CaptureWnd);
  CaptureWnd = 0;
  // The viewer and the capture window go now, not at some later repetition's event loop, which
  // would take the feed from under it.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace

void RegisterLiveBenchmarks() {
  for (const auto& [width, height] : {std::pair{1920, 1080}, std::pair{3840, 2160}}) {
    const std::string size = std::to_string(height) + "p";
    benchmark::RegisterBenchmark(("memcpy_frame_" + size).c_str(), MemcpyFrame)
        ->Args({width, height})
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("ccdlab/live_chain_" + size).c_str(), LiveChain)
        ->Args({width, height})
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("ccdlab/live_measure_" + size).c_str(), LiveMeasure)
        ->Args({width, height})
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("ccdlab/live_camera_1080p30", LiveCamera, false)
      ->Iterations(1)
      ->UseRealTime()
      ->Unit(benchmark::kSecond);
  benchmark::RegisterBenchmark("ccdlab/live_camera_measure_1080p30", LiveCamera, true)
      ->Iterations(1)
      ->UseRealTime()
      ->Unit(benchmark::kSecond);
}
