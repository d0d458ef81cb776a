#pragma once

#include <QPointer>
#include <QWidget>
#include <optional>

#include "ImageView.h"

class QLabel;
class TPictureCanvas;
class THistogramPane;

// A window of its own showing an image view's whole picture: zoom and pan, the value of the pixel
// under the mouse, and the histogram. It follows the view: whatever changes the view's picture
// shows here at once.
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

  // The status line: zoom; the picture's size and depth; the pixel under the mouse.
  QString ZoomText() const;
  QString PictureText() const;
  QString PixelText() const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void PictureChanged();
  void ShowHistogramByDefault();
  void UpdateStatus();

  QPointer<TImage> view_;
  TPictureCanvas* canvas_;
  THistogramPane* histogram_;
  QLabel* zoomLabel_;
  QLabel* pictureLabel_;
  QLabel* pixelLabel_;
  std::optional<QPoint> hovered_;
  // Set once the user has shown or hidden the histogram; until then it follows the depth.
  std::optional<bool> histogramChosen_;
};
