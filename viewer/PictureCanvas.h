// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLineF>
#include <QPointF>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>
#include <optional>

#include "ImageView.h"
#include "ReducedPicture.h"

// The picture of an image view at any zoom: fitted to the canvas, zoomed around a point, panned
// by dragging. Above 100 % each picture pixel is a sharp square; below, the picture is drawn
// smoothly from a reduced copy. Only the part on show is drawn.
struct TMeasurement;

class TPictureCanvas : public QWidget {
  Q_OBJECT

 public:
  static constexpr double MinZoom = 1.0 / TReducedPicture::MaxFactor;
  static constexpr double MaxZoom = 64.0;

  explicit TPictureCanvas(TImage* view, QWidget* parent = nullptr);

  // Picture pixels per screen pixel.
  double Zoom() const { return zoom_; }
  // True while the zoom follows the canvas's size (after Fit, until the next zoom).
  bool Fitted() const { return fitted_; }

  // The whole picture in the canvas, enlarged to fill it up to `limit` (F: up to the largest zoom;
  // a viewer opens fitted up to 100 %, so that a picture with room to spare shows pixel for pixel).
  void Fit(double limit = MaxZoom);
  // One step up or down the zoom ladder, around `anchor` (canvas coordinates), or around the
  // centre of the canvas.
  void ZoomIn(std::optional<QPointF> anchor = std::nullopt);
  void ZoomOut(std::optional<QPointF> anchor = std::nullopt);
  void ZoomTo(double zoom, std::optional<QPointF> anchor = std::nullopt);

  // Canvas coordinates to picture coordinates and back (a pixel (x, y) covers [x, x + 1)).
  QPointF ToPicture(QPointF point) const;
  QPointF ToCanvas(QPointF point) const;
  // The pixel under a canvas point, if the point lies on the picture.
  std::optional<QPoint> PixelAt(QPointF point) const;

  // The picture at its own size, for the window's first size.
  QSize sizeHint() const override;

  // The view's picture has changed: drop the reduced copies, keep the zoom (or the fit).
  void PictureChanged();
  // The reduced copy the zoom draws from: 0 above 100 %, where the picture's own pixels are
  // drawn, 1 for the whole picture in RGB32, else the factor.
  int ReductionFactor() const;
  // That copy, made elsewhere for the picture just changed to.
  void AdoptReduced(int factor, QImage level);

  // A line drawn across the picture (what a camera is doing), or none when empty.
  void SetNotice(const QString& notice);
  QString Notice() const { return notice_; }

  // Objects outlined and numbered over the picture, one of them marked (an index into their
  // particles, or -1); none: nothing drawn.
  void SetObjects(std::shared_ptr<const TMeasurement> objects, int selected = -1);
  const std::shared_ptr<const TMeasurement>& Objects() const { return objects_; }
  int SelectedObject() const { return selected_; }

  // Brings `area` (picture coordinates) into view, centred, zooming out where it does not fit.
  void ShowArea(const QRectF& area);

  // The next drag draws a line instead of panning; Escape cancels. The line stays on show until
  // EndLine.
  void BeginLine();
  void EndLine();
  bool DrawingLine() const { return lineMode_; }
  // The line drawn, in picture coordinates.
  std::optional<QLineF> Line() const { return line_; }

 signals:
  void ZoomChanged(double zoom);
  // The pixel under the mouse, or none when the mouse is off the picture.
  void Hovered(std::optional<QPoint> pixel);
  // A left click that did not drag, on a pixel of the picture.
  void Clicked(QPoint pixel);
  // A line was drawn after BeginLine (picture coordinates); none when cancelled.
  void LineDrawn(std::optional<QLineF> line);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  const TBitmap* Picture() const;
  QSizeF PictureSize() const;
  // Screen pixels per picture pixel in the canvas's own (device-independent) coordinates.
  double Scale() const;
  // Canvas pixels per picture pixel across and down: Scale(), below 100 % stretched so that the
  // picture ends on whole screen pixels.
  QSizeF Stretch() const;
  QPointF Stretched(QPointF extent) const;
  void Place(double zoom, QPointF anchor, QPointF pictureAnchor);
  void KeepInView();
  void ReportHover(std::optional<QPointF> point);
  void PaintPicture(QPainter& painter, const QRect& exposed);
  void PaintObjects(QPainter& painter, const QRect& exposed);

  QPointer<TImage> view_;
  double zoom_ = 1.0;
  bool fitted_ = true;
  double fitLimit_ = 1.0;
  // Where the picture's top-left corner lies on the canvas.
  QPointF origin_;
  QSize laidOutFor_;
  std::optional<QPointF> dragFrom_;
  // Where the left button went down, until the mouse moved far enough to make it a drag.
  std::optional<QPointF> pressedAt_;
  bool lineMode_ = false;
  std::optional<QLineF> line_;
  std::optional<QPointF> mouse_;
  int wheelRest_ = 0;
  TReducedPicture reduced_;
  QString notice_;
  std::shared_ptr<const TMeasurement> objects_;
  int selected_ = -1;
};
