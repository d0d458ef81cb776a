// SPDX-License-Identifier: GPL-3.0-or-later
// One step of the threshold dialog's slider on a 6000 × 4000 preview, as the operator drags it:
// the change handler thresholds the whole preview and repaints the dialog at once. Runs on Qt's
// offscreen platform, so the repaint is real painting without a screen.
#include <benchmark/benchmark.h>

#include <QByteArray>

#include "Application.h"
#include "Bitmap.h"
#include "Unit1.h"
#include "Unit2.h"

// The forms on Qt's offscreen platform, for the benchmarks that use them.
void StartForms() {
  static bool started = false;
  if (started)
    return;
  started = true;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  Application->Initialize();
  Application->CreateForm(&Form1);
  Application->CreateForm(&BinaryDlg);
}

void SliderStep(benchmark::State& state) {
  StartForms();
  TBitmap picture(6000, 4000, TPixelFormat::pf8bit);
  picture.SetPalette(TPalette::Grey());
  for (int i = 0; i < picture.Height(); ++i)
    for (int j = 0; j < picture.Width(); ++j)
      picture.ScanLine(i)[j] = static_cast<std::uint8_t>((i / 16 + j / 24) * 3 + (i * j) % 31);
  Form1->Image2->Picture()->Assign(&picture);
  // What the binarize command does before it shows the dialog.
  BinaryDlg->Image1->SetAutoSize(false);
  BinaryDlg->Image1->SetStretch(true);
  BinaryDlg->Image1->Picture()->Bitmap()->Assign(picture);
  BinaryDlg->show();

  int position = 100;
  for (auto _ : state) {
    position = position == 100 ? 101 : 100;
    BinaryDlg->ScrollBar1->setValue(position);
  }
  BinaryDlg->hide();
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * picture.Width() *
                          picture.Height());
}
