// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QWidget>
#include <optional>

#include "AutoThreshold.h"
#include "Histogram.h"
#include "ImageView.h"

class QAction;
class QStatusBar;
class TPictureCanvas;
class THistogramPane;
class TTryAllWindow;

// A part of a status line: as wide as its text where there is room, elided where there is not, so
// that no text sets the width of its window.
class TStatusLabel : public QLabel {
  Q_OBJECT

 public:
  explicit TStatusLabel(QWidget* parent = nullptr);
  QSize minimumSizeHint() const override;
  // The text as it shows at the label's width.
  QString ShownText() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// What a viewer paints a picture from besides the picture itself, made beside a picture that
// changes at a camera's rate, off the user-interface thread.
struct TPaintAids {
  int factor = 0;  // the canvas's reduction factor the level was made for (0: none made)
  QImage level;
  std::optional<THistogram> histogram;
};

// The aids a viewer wants for `picture`: the level for `factor` (see
// TPictureCanvas::ReductionFactor) and the histogram when it is shown.
TPaintAids MakePaintAids(const TBitmap& picture, int factor, bool histogram);

// A window of its own showing an image view's whole picture: zoom and pan, the value of the pixel
// under the mouse, and the histogram. It follows the view: whatever changes the view's picture
// shows here at once. The histogram's menu opens "全部試試", the picture thresholded by every
// automatic method, in a window of its own that closes with the viewer.
//   wheel: zoom around the mouse   + / -: zoom in / out   1: 100 %   F: fit   H: histogram
class TViewerWindow : public QWidget {
  Q_OBJECT

 public:
  TViewerWindow(TImage* view, const QString& title, QWidget* parent = nullptr);
  ~TViewerWindow() override;

  TImage* View() const { return view_; }
  TPictureCanvas* Canvas() const { return canvas_; }
  THistogramPane* HistogramPane() const { return histogram_; }

  // The threshold to mark in the histogram, or none.
  void SetThreshold(std::optional<int> threshold);
  bool HistogramShown() const;
  void ToggleHistogram();

  // Paint aids for the picture the view has just changed to.
  void AdoptPaintAids(TPaintAids aids);
  // A line over the picture: what the source of the picture is doing.
  void SetNotice(const QString& notice);
  // For windows that say more about their picture (in a TStatusLabel, which never widens it).
  QStatusBar* StatusBar() const { return status_; }
  // The window beside which the viewer and its "全部試試" window open.
  void SetMainWindow(QWidget* mainWindow) { mainWindow_ = mainWindow; }
  QWidget* MainWindow() const { return mainWindow_; }
  // Gives the window the picture's own size where there is room for it, beside the main window.
  void PlaceAtPictureSize();
  // A strip of its own under the picture, above the status line.
  void AddPane(QWidget* pane);

  // "設定比例…" (in the viewer's menu): a line dragged over a known length, then its length and
  // unit asked for.
  QAction* ScaleAction() const { return scaleAction_; }
  void BeginScale();
  // Shows the viewer's "全部試試" window, made now unless one is open, and brings it to the front.
  TTryAllWindow* OpenTryAll();
  TTryAllWindow* TryAllWindow() const;

  // The status line: zoom; the picture's size and depth; the pixel under the mouse.
  QString ZoomText() const;
  QString PictureText() const;
  QString PixelText() const;

 signals:
  // A threshold was chosen in the "全部試試" window: the method's on this picture (1 … 256).
  void ThresholdChosen(TThresholdMethod method, int threshold);
  // A scale was set: length units per pixel and the unit (empty: pixels again).
  void ScaleChosen(double unitsPerPixel, const QString& unit);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void PictureChanged();
  void ShowHistogramByDefault();
  void UpdateStatus();
  void LineDrawn(std::optional<QLineF> line);

  QPointer<TImage> view_;
  QString title_;
  TPictureCanvas* canvas_;
  THistogramPane* histogram_;
  QStatusBar* status_;
  TStatusLabel* zoomLabel_;
  TStatusLabel* pictureLabel_;
  TStatusLabel* pixelLabel_;
  QPointer<QWidget> mainWindow_;
  std::optional<QSize> placedSize_;
  std::optional<QPoint> hovered_;
  // Set once the user has shown or hidden the histogram; until then it follows the depth.
  std::optional<bool> histogramChosen_;
  QPointer<TTryAllWindow> tryAll_;
  QAction* scaleAction_;
};
