// SPDX-License-Identifier: GPL-3.0-or-later
// The viewer window on a 6000 × 4000 picture: one repaint of its picture at a given zoom, as the
// operator pans or zooms, in a window of 1600 × 900 on Qt's offscreen platform; the histogram of
// such a picture, counted once per change of it; and the reduced copy a zoom below 50 % draws
// from, made once per change; the sixteen tiles of "try all" for such a picture.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QWindow>
#include <cstring>

#include "Application.h"
#include "BenchPictures.h"
#include "Bitmap.h"
#include "Histogram.h"
#include "PictureCanvas.h"
#include "ReducedPicture.h"
#include "TryAllWindow.h"
#include "Unit1.h"
#include "ViewerWindow.h"

// SliderStepBench.cpp
void StartForms();

namespace {

TBitmap Photo(TPixelFormat format) {
  return PhotoLike(format, 7);
}

// The viewer of the main image holding a photograph, at `zoom` (0: fitted), centred.
TPictureCanvas* Viewer(TPixelFormat format, double zoom) {
  StartForms();
  // The offscreen platform says, for every new window, which window hints it cannot pass on.
  static const QtMessageHandler previous = qInstallMessageHandler(
      [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
        if (!message.startsWith(QStringLiteral("This plugin does not support")))
          previous(type, context, message);
      });
  Form1->Image1->Picture()->Bitmap()->Assign(Photo(format));
  auto* viewer = new TViewerWindow(Form1->Image1, QStringLiteral("擷取影像"));
  viewer->setAttribute(Qt::WA_DeleteOnClose);
  viewer->resize(1600, 900);
  viewer->show();
  // Painting starts once the window is exposed.
  while (!viewer->windowHandle()->isExposed())
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  TPictureCanvas* canvas = viewer->Canvas();
  if (zoom == 0)
    canvas->Fit();
  else
    canvas->ZoomTo(zoom);
  // The first repaint after a change makes the reduced copy; the others only draw.
  canvas->repaint();
  return canvas;
}

void Paint(benchmark::State& state, TPixelFormat format, double zoom) {
  TPictureCanvas* canvas = Viewer(format, zoom);
  for (auto _ : state)
    canvas->repaint();
  state.counters["zoom_percent"] = canvas->Zoom() * 100;
  canvas->window()->close();
}

}  // namespace

void ViewerPaintFit(benchmark::State& state) {
  Paint(state, TPixelFormat::pf24bit, 0);
}

void ViewerPaintZoom(benchmark::State& state) {
  Paint(state, TPixelFormat::pf24bit, state.range(0) / 100.0);
}

void ViewerReduce(benchmark::State& state) {
  const TBitmap picture = Photo(TPixelFormat::pf24bit);
  for (auto _ : state)
    benchmark::DoNotOptimize(ReduceBitmap(picture, 4));
}

void Histogram(benchmark::State& state) {
  const TBitmap picture = Photo(TPixelFormat::pf8bit);
  for (auto _ : state)
    benchmark::DoNotOptimize(ComputeHistogram(picture));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * picture.Width() *
                          picture.Height());
}

void HistogramRgb(benchmark::State& state) {
  const TBitmap picture = Photo(TPixelFormat::pf24bit);
  for (auto _ : state)
    benchmark::DoNotOptimize(ComputeHistogram(picture));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * picture.Width() *
                          picture.Height() * 3);
}

// The whole picture's histogram, then sixteen thresholded tiles from one small sample of it.
void TryAll(benchmark::State& state) {
  const TBitmap picture = Photo(TPixelFormat::pf8bit);
  for (auto _ : state)
    benchmark::DoNotOptimize(TryAllThresholds(picture, TTryAllWindow::SampleSize));
}

void TryAllRgb(benchmark::State& state) {
  const TBitmap picture = Photo(TPixelFormat::pf24bit);
  for (auto _ : state)
    benchmark::DoNotOptimize(TryAllThresholds(picture, TTryAllWindow::SampleSize));
}
