// SPDX-License-Identifier: GPL-3.0-or-later
#include "PictureCanvas.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "Bitmap.h"
#include "ImageView.h"
#include "Measurement.h"
#include "NoticeBand.h"
#include "QImageBridge.h"
#include "ViewedPicture.h"

namespace {

// The zoom steps of +, - and the wheel, as common viewers offer them.
constexpr double kLadder[] = {1.0 / 128, 1.0 / 96, 1.0 / 64, 1.0 / 48, 1.0 / 32, 1.0 / 24, 1.0 / 16,
                              1.0 / 12,  1.0 / 8,  1.0 / 6,  1.0 / 4,  1.0 / 3,  1.0 / 2,  2.0 / 3,
                              1,         1.5,      2,        3,        4,        6,        8,
                              12,        16,       24,       32,       48,       64};

const QColor kBackground(64, 64, 64);

// Transparent parts show as the usual grey checkerboard.
QBrush Checkerboard() {
  QImage tile(16, 16, QImage::Format_RGB32);
  tile.fill(QColor(204, 204, 204));
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      if ((x < 8) != (y < 8))
        tile.setPixel(x, y, qRgb(153, 153, 153));
  return QBrush(tile);
}

}  // namespace

TPictureCanvas::TPictureCanvas(TImage* view, QWidget* parent) : QWidget(parent), view_(view) {
  setObjectName(QStringLiteral("PictureCanvas"));
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setCursor(Qt::OpenHandCursor);
}

const TBitmap* TPictureCanvas::Picture() const {
  return ViewedPicture(view_);
}

QSizeF TPictureCanvas::PictureSize() const {
  const TBitmap* bitmap = Picture();
  return bitmap ? QSizeF(bitmap->Width(), bitmap->Height()) : QSizeF();
}

double TPictureCanvas::Scale() const {
  return zoom_ / devicePixelRatioF();
}

// Reduced, the picture ends on whole screen pixels too, so that no edge row or column is blended
// with the background: it is stretched by less than a screen pixel to do so.
QSizeF TPictureCanvas::Stretch() const {
  const double scale = Scale();
  const QSizeF size = PictureSize();
  if (zoom_ >= 1.0 || size.isEmpty())
    return {scale, scale};
  const double ratio = devicePixelRatioF();
  const auto snap = [ratio](double extent) {
    return std::max(std::round(extent * ratio), 1.0) / ratio;
  };
  return {snap(size.width() * scale) / size.width(), snap(size.height() * scale) / size.height()};
}

// A length in picture pixels as a length on the canvas.
QPointF TPictureCanvas::Stretched(QPointF extent) const {
  const QSizeF stretch = Stretch();
  return {extent.x() * stretch.width(), extent.y() * stretch.height()};
}

QPointF TPictureCanvas::ToPicture(QPointF point) const {
  const QSizeF stretch = Stretch();
  const QPointF offset = point - origin_;
  return {offset.x() / stretch.width(), offset.y() / stretch.height()};
}

QPointF TPictureCanvas::ToCanvas(QPointF point) const {
  return origin_ + Stretched(point);
}

std::optional<QPoint> TPictureCanvas::PixelAt(QPointF point) const {
  const QSizeF size = PictureSize();
  // The pixel whose colour the screen pixel at `point` shows: the one under its centre.
  const QPointF p = ToPicture(point + QPointF(0.5, 0.5));
  if (size.isEmpty() || p.x() < 0 || p.y() < 0 || p.x() >= size.width() || p.y() >= size.height())
    return std::nullopt;
  return QPoint(static_cast<int>(p.x()), static_cast<int>(p.y()));
}

QSize TPictureCanvas::sizeHint() const {
  const QSizeF size = PictureSize() / devicePixelRatioF();
  return size.isEmpty() ? QSize(640, 480) : size.toSize().expandedTo(QSize(320, 240));
}

void TPictureCanvas::Fit(double limit) {
  fitted_ = true;
  fitLimit_ = std::clamp(limit, MinZoom, MaxZoom);
  const QSizeF size = PictureSize();
  const double ratio = devicePixelRatioF();
  zoom_ = size.isEmpty() ? 1.0
                         : std::clamp(std::min({width() * ratio / size.width(),
                                                height() * ratio / size.height(), fitLimit_}),
                                      MinZoom, MaxZoom);
  KeepInView();
  update();
  emit ZoomChanged(zoom_);
}

void TPictureCanvas::ZoomIn(std::optional<QPointF> anchor) {
  const double* next = std::upper_bound(std::begin(kLadder), std::end(kLadder), zoom_ * 1.000001);
  ZoomTo(next != std::end(kLadder) ? *next : MaxZoom, anchor);
}

void TPictureCanvas::ZoomOut(std::optional<QPointF> anchor) {
  const double* next = std::lower_bound(std::begin(kLadder), std::end(kLadder), zoom_ * 0.999999);
  ZoomTo(next != std::begin(kLadder) ? *(next - 1) : MinZoom, anchor);
}

void TPictureCanvas::ZoomTo(double zoom, std::optional<QPointF> anchor) {
  fitted_ = false;
  const QPointF at = anchor.value_or(QPointF(width() / 2.0, height() / 2.0));
  Place(std::clamp(zoom, MinZoom, MaxZoom), at, ToPicture(at));
}

void TPictureCanvas::Place(double zoom, QPointF anchor, QPointF pictureAnchor) {
  zoom_ = zoom;
  origin_ = anchor - Stretched(pictureAnchor);
  KeepInView();
  update();
  emit ZoomChanged(zoom_);
  ReportHover(mouse_);
}

// A picture smaller than the canvas sits in its middle, on a whole screen pixel so that its edges
// are not blended; a larger one leaves no gap at its edges.
void TPictureCanvas::KeepInView() {
  const QPointF corner = Stretched(QPointF(PictureSize().width(), PictureSize().height()));
  const QSizeF extent(corner.x(), corner.y());
  const double ratio = devicePixelRatioF();
  const auto place = [ratio](double origin, double extent, double room) {
    return extent <= room ? std::round((room - extent) / 2 * ratio) / ratio
                          : std::clamp(origin, room - extent, 0.0);
  };
  origin_ = QPointF(place(origin_.x(), extent.width(), width()),
                    place(origin_.y(), extent.height(), height()));
}

void TPictureCanvas::PictureChanged() {
  reduced_.Clear();
  const QSize size = PictureSize().toSize();
  if (size != laidOutFor_) {
    laidOutFor_ = size;
    if (fitted_)
      Fit(fitLimit_);
    else
      KeepInView();
  }
  update();
  ReportHover(mouse_);
}

void TPictureCanvas::ReportHover(std::optional<QPointF> point) {
  emit Hovered(point ? PixelAt(*point) : std::nullopt);
}

int TPictureCanvas::ReductionFactor() const {
  if (zoom_ >= 1.0)
    return 0;
  // The smallest reduced copy still at least as large as the picture on screen, so that the
  // smooth scaling never skips pixels.
  int factor = 1;
  while (factor < TReducedPicture::MaxFactor && zoom_ * factor * 2 <= 1.000001)
    factor *= 2;
  return factor;
}

void TPictureCanvas::AdoptReduced(int factor, QImage level) {
  if (!level.isNull())
    reduced_.Adopt(factor, std::move(level));
}

void TPictureCanvas::SetNotice(const QString& notice) {
  if (notice == notice_)
    return;
  notice_ = notice;
  update();
}

void TPictureCanvas::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.fillRect(event->rect(), kBackground);
  const TBitmap* bitmap = Picture();
  if (bitmap == nullptr && notice_.isEmpty()) {
    painter.setPen(QColor(200, 200, 200));
    painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("沒有影像"));
    return;
  }
  if (bitmap != nullptr)
    PaintPicture(painter, event->rect());
  if (bitmap != nullptr && objects_ != nullptr)
    PaintObjects(painter, event->rect());
  if (line_) {
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(255, 255, 0), 2));
    painter.drawLine(QLineF(ToCanvas(line_->p1()), ToCanvas(line_->p2())));
  }
  if (!notice_.isEmpty())
    PaintNoticeBand(painter, rect(), font(), notice_, bitmap != nullptr);
}

void TPictureCanvas::PaintPicture(QPainter& painter, const QRect& exposed) {
  const TBitmap* bitmap = Picture();
  const double scale = Scale();
  const QRectF onCanvas(origin_, ToCanvas(QPointF(bitmap->Width(), bitmap->Height())));
  const QRectF shown = onCanvas.intersected(QRectF(exposed));
  if (shown.isEmpty())
    return;
  if (bitmap->PixelFormat() == TPixelFormat::pf32bit) {
    painter.setBrushOrigin(origin_);
    painter.fillRect(shown, Checkerboard());
  }
  // The part of the picture on show, in picture pixels.
  const QRectF area(ToPicture(shown.topLeft()), ToPicture(shown.bottomRight()));
  const QRect pixels =
      area.toAlignedRect().intersected(QRect(0, 0, bitmap->Width(), bitmap->Height()));
  if (zoom_ >= 1.0) {
    // Sharp squares: the toolkit's nearest-neighbour scaling of the visible pixels only.
    painter.drawImage(QRectF(ToCanvas(pixels.topLeft()), QSizeF(pixels.size()) * scale),
                      WrapBitmap(*bitmap, pixels));
    return;
  }
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  const int factor = ReductionFactor();
  if (factor == 1) {
    // The toolkit's fast smooth scaling reads only its own pixel formats; converting the part on
    // show first costs less than its general path does.
    const QRectF target(ToCanvas(pixels.topLeft()), ToCanvas(pixels.bottomRight() + QPoint(1, 1)));
    if (const QImage* whole = reduced_.Find(1))
      painter.drawImage(target, *whole, QRectF(pixels));
    else
      painter.drawImage(target, Rgb32Part(*bitmap, pixels));
    return;
  }
  const QImage& level = reduced_.Level(*bitmap, factor);
  const QRect cells = QRectF(area.topLeft() / factor, area.size() / factor)
                          .toAlignedRect()
                          .intersected(level.rect());
  // The last cells of a row or column may stand for fewer pixels than `factor`.
  const QPointF from = QPointF(cells.topLeft()) * factor;
  const QPointF to(std::min((cells.right() + 1) * factor, bitmap->Width()),
                   std::min((cells.bottom() + 1) * factor, bitmap->Height()));
  painter.drawImage(QRectF(ToCanvas(from), ToCanvas(to)), level, QRectF(cells));
}

void TPictureCanvas::SetObjects(std::shared_ptr<const TMeasurement> objects, int selected) {
  objects_ = std::move(objects);
  selected_ = objects_ != nullptr && selected >= 0 &&
                      selected < static_cast<int>(objects_->particles.size())
                  ? selected
                  : -1;
  update();
}

void TPictureCanvas::PaintObjects(QPainter& painter, const QRect& exposed) {
  const double scale = Scale();
  const QRectF seen(ToPicture(exposed.topLeft()), QSizeF(exposed.size()) / scale);
  const auto& particles = objects_->particles;
  // Numbers only where they do not cover the objects they name.
  const bool numbered = particles.size() <= 5000;
  QPolygonF polygon;
  const QPen outline(QColor(0, 220, 255), 0);
  const QPen marked(QColor(255, 230, 0), 2);
  painter.setRenderHint(QPainter::Antialiasing, false);
  for (int i = 0; i < static_cast<int>(particles.size()); ++i) {
    const TParticle& p = particles[static_cast<std::size_t>(i)];
    const QRectF box(p.bx, p.by, p.width, p.height);
    const auto vertices = objects_->Outline(p);
    if (!box.intersects(seen) || vertices.empty())
      continue;
    polygon.resize(static_cast<qsizetype>(vertices.size()));
    for (std::size_t v = 0; v < vertices.size(); ++v)
      polygon[static_cast<qsizetype>(v)] = ToCanvas(QPointF(vertices[v].first, vertices[v].second));
    painter.setPen(i == selected_ ? marked : outline);
    painter.drawPolygon(polygon);
  }
  if (!numbered)
    return;
  QFont small = font();
  small.setPointSizeF(std::max(6.0, small.pointSizeF() * 0.8));
  painter.setFont(small);
  const int textHeight = QFontMetrics(small).height();
  for (int i = 0; i < static_cast<int>(particles.size()); ++i) {
    const TParticle& p = particles[static_cast<std::size_t>(i)];
    const QRectF box(p.bx, p.by, p.width, p.height);
    if (!box.intersects(seen) || (i != selected_ && box.height() * scale < textHeight))
      continue;
    painter.setPen(i == selected_ ? QColor(255, 230, 0) : QColor(255, 120, 40));
    painter.drawText(QRectF(ToCanvas(box.topLeft()), box.size() * scale).adjusted(-40, -40, 40, 40),
                     Qt::AlignCenter, QString::number(p.number));
  }
}

void TPictureCanvas::resizeEvent(QResizeEvent*) {
  if (fitted_)
    Fit(fitLimit_);
  else
    KeepInView();
}

void TPictureCanvas::wheelEvent(QWheelEvent* event) {
  wheelRest_ += event->angleDelta().y();
  // Fine-grained wheels and touchpads send parts of a step.
  for (; wheelRest_ >= 120; wheelRest_ -= 120)
    ZoomIn(event->position());
  for (; wheelRest_ <= -120; wheelRest_ += 120)
    ZoomOut(event->position());
  event->accept();
}

void TPictureCanvas::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton)
    return QWidget::mousePressEvent(event);
  pressedAt_ = event->position();
  if (lineMode_) {
    const QPointF at = ToPicture(event->position());
    line_ = QLineF(at, at);
    update();
    return;
  }
  dragFrom_ = event->position();
  setCursor(Qt::ClosedHandCursor);
}

void TPictureCanvas::mouseMoveEvent(QMouseEvent* event) {
  mouse_ = event->position();
  if (pressedAt_ &&
      (event->position() - *pressedAt_).manhattanLength() >= QApplication::startDragDistance())
    pressedAt_.reset();
  if (lineMode_ && line_ && (event->buttons() & Qt::LeftButton)) {
    line_->setP2(ToPicture(event->position()));
    update();
  } else if (dragFrom_) {
    origin_ += event->position() - *dragFrom_;
    dragFrom_ = event->position();
    KeepInView();
    update();
  }
  ReportHover(mouse_);
}

void TPictureCanvas::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton)
    return QWidget::mouseReleaseEvent(event);
  const bool click = pressedAt_.has_value();
  pressedAt_.reset();
  if (lineMode_ && line_) {
    line_->setP2(ToPicture(event->position()));
    // A click is no line: the next drag may still draw one.
    if (line_->length() > 0 && !click) {
      lineMode_ = false;
      setCursor(Qt::OpenHandCursor);
      emit LineDrawn(line_);
    }
    update();
    return;
  }
  dragFrom_.reset();
  setCursor(Qt::OpenHandCursor);
  if (click)
    if (const std::optional<QPoint> pixel = PixelAt(event->position()))
      emit Clicked(*pixel);
}

void TPictureCanvas::keyPressEvent(QKeyEvent* event) {
  if (lineMode_ && event->key() == Qt::Key_Escape) {
    EndLine();
    emit LineDrawn(std::nullopt);
    return;
  }
  QWidget::keyPressEvent(event);
}

void TPictureCanvas::BeginLine() {
  lineMode_ = true;
  line_.reset();
  dragFrom_.reset();
  setCursor(Qt::CrossCursor);
  update();
}

void TPictureCanvas::EndLine() {
  lineMode_ = false;
  line_.reset();
  setCursor(Qt::OpenHandCursor);
  update();
}

void TPictureCanvas::ShowArea(const QRectF& area) {
  const QSizeF room = QSizeF(size()) * devicePixelRatioF();
  // Some room around the area, so that its outline shows whole.
  const QSizeF wanted = area.size() + QSizeF(8, 8);
  if (wanted.width() * zoom_ > room.width() || wanted.height() * zoom_ > room.height())
    zoom_ = std::clamp(std::min(room.width() / wanted.width(), room.height() / wanted.height()),
                       MinZoom, MaxZoom);
  fitted_ = false;
  Place(zoom_, QPointF(width() / 2.0, height() / 2.0), area.center());
}

void TPictureCanvas::leaveEvent(QEvent*) {
  mouse_.reset();
  ReportHover(std::nullopt);
}
