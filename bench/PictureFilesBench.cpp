// SPDX-License-Identifier: GPL-3.0-or-later
// The open command on 24-megapixel photos, from the file to the repainted view, and the open
// dialog's preview of one. The photos are made once per run, photo-like (smooth shapes and
// noise), by the program's own writers.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdint>

#include "BenchPictures.h"
#include "Bitmap.h"
#include "PictureFile.h"
#include "QImageBridge.h"
#include "Unit1.h"

// SliderStepBench.cpp
void StartForms();

namespace {

// The photo as a file of the format, made on first use.
QString PhotoFile(const char* format) {
  static QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("photo.") + QLatin1String(format));
  if (!QFile::exists(path)) {
    static const TBitmap photo = PhotoLike(TPixelFormat::pf24bit, 12345);
    SavePictureFile(photo, path);
  }
  return path;
}

void OpenCommand(benchmark::State& state, const char* format) {
  StartForms();
  const QString path = PhotoFile(format);
  for (auto _ : state) {
    Form1->OpenPictureFile(path);
    Form1->Image1->repaint();
  }
  Form1->Image1->Picture()->Assign(nullptr);
}

}  // namespace

void OpenPng(benchmark::State& state) {
  OpenCommand(state, "png");
}

void OpenJpeg(benchmark::State& state) {
  OpenCommand(state, "jpg");
}

// What the dialog's preview pane does with the file under the cursor.
void PreviewJpeg(benchmark::State& state) {
  const QString path = PhotoFile("jpg");
  const QSize box(200, 200);
  for (auto _ : state) {
    const PicturePreview preview = PreviewPictureFile(path, box);
    QImage shown = QImageFromBitmap(preview.picture)
                       .scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    benchmark::DoNotOptimize(shown.constBits());
  }
}
