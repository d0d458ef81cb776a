// SPDX-License-Identifier: GPL-3.0-or-later
#include "TryAllWindow.h"

#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

#include "Commands.h"
#include "QImageBridge.h"
#include "ReducedPicture.h"
#include "Threshold.h"
#include "ThresholdMethodMenu.h"
#include "ViewedPicture.h"

namespace {

constexpr int kCaptionGap = 4;

}  // namespace

std::vector<TTryAllResult> TryAllThresholds(const TBitmap& picture, QSize size) {
  // The thresholds are the whole picture's; only the pictures they are shown on are small, which
  // keeps a 24-megapixel picture within one pass over its bytes.
  const THistogram::Counts histogram = ThresholdHistogram(picture);
  // One sample per pixel: its bytes are the picture's, so each method gives on it what it gives
  // on the picture.
  const QSize shown = QSize(picture.Width(), picture.Height())
                          .scaled(size, Qt::KeepAspectRatio)
                          .expandedTo(QSize(1, 1));
  const TBitmap sample = SampledBitmap(picture, shown.width(), shown.height());
  std::vector<TTryAllResult> results;
  TBitmap thresholded(sample.Width(), sample.Height(), sample.PixelFormat());
  if (const TPalette* palette = sample.Palette())
    thresholded.SetPalette(*palette);
  for (const TThresholdMethodInfo& info : ThresholdMethods()) {
    TTryAllResult result{info.method, AutoThreshold(info.method, histogram), QImage()};
    if (result.threshold && !sample.Empty()) {
      ThresholdInto(sample, thresholded, *result.threshold);
      result.picture = QImageFromBitmap(thresholded);
    }
    results.push_back(std::move(result));
  }
  return results;
}

TTryAllTile::TTryAllTile(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("TryAllTile"));
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void TTryAllTile::Show(TTryAllResult result) {
  result_ = std::move(result);
  setEnabled(result_.threshold.has_value());
  setCursor(result_.threshold ? Qt::PointingHandCursor : Qt::ArrowCursor);
  setToolTip(result_.threshold
                 ? QStringLiteral("按一下：二值化的閥值移到 %1")
                       .arg(std::min(*result_.threshold,
                                     OperationInfo(TOperation::Binarize).parameter->maximum))
                 : QString());
  update();
}

QString TTryAllTile::Caption() const {
  return ThresholdMethodText(result_.method, result_.threshold);
}

QSize TTryAllTile::sizeHint() const {
  return QSize(232, 174 + kCaptionGap + fontMetrics().height());
}

void TTryAllTile::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const int caption = fontMetrics().height();
  const QRect area = rect().adjusted(2, 2, -2, -2 - caption - kCaptionGap);
  if (!result_.picture.isNull()) {
    QRect target(QPoint(), result_.picture.size().scaled(area.size(), Qt::KeepAspectRatio));
    target.moveCenter(area.center());
    // Smooth where the copy is drawn smaller, so that fine detail reads as grey, not as noise;
    // sharp squares where a small picture is drawn larger.
    painter.setRenderHint(QPainter::SmoothPixmapTransform,
                          target.width() < result_.picture.width());
    painter.drawImage(target, result_.picture);
    // A frame keeps white parts apart from the window around them.
    const bool highlight = hovered_ && isEnabled();
    painter.setPen(
        QPen(palette().color(highlight ? QPalette::Highlight : QPalette::Mid), highlight ? 3 : 1));
    painter.drawRect(target.adjusted(-1, -1, 0, 0));
  } else {
    painter.fillRect(area, palette().color(QPalette::Mid));
    painter.setPen(palette().color(QPalette::Window));
    painter.drawText(area, Qt::AlignCenter, QStringLiteral("無門檻"));
  }
  painter.setPen(
      palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
  painter.drawText(QRect(0, area.bottom() + kCaptionGap, width(), caption),
                   Qt::AlignHCenter | Qt::AlignTop, Caption());
}

void TTryAllTile::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
      result_.threshold)
    emit Clicked(result_.method, *result_.threshold);
}

void TTryAllTile::enterEvent(QEnterEvent*) {
  hovered_ = true;
  update();
}

void TTryAllTile::leaveEvent(QEvent*) {
  hovered_ = false;
  update();
}

TTryAllWindow::TTryAllWindow(TImage* view, const QString& title, QWidget* parent)
    : QWidget(parent, Qt::Window), view_(view) {
  setObjectName(QStringLiteral("TryAllWindow"));
  setWindowTitle(QStringLiteral("全部試試 — %1").arg(title));
  auto* layout = new QVBoxLayout(this);
  auto* grid = new QGridLayout();
  grid->setSpacing(8);
  for (std::size_t k = 0; k < ThresholdMethods().size(); ++k) {
    auto* tile = new TTryAllTile(this);
    grid->addWidget(tile, static_cast<int>(k) / Columns, static_cast<int>(k) % Columns);
    connect(tile, &TTryAllTile::Clicked, this, &TTryAllWindow::ThresholdChosen);
    tiles_.push_back(tile);
  }
  layout->addLayout(grid, 1);
  auto* hint =
      new QLabel(QStringLiteral("二值化對話框開著時，按一下任一格，閥值就移到那一格的 T。"), this);
  hint->setObjectName(QStringLiteral("TryAllHint"));
  // Wrapped rather than setting the window's width.
  hint->setWordWrap(true);
  layout->addWidget(hint);
  if (view != nullptr)
    connect(view, &TImage::Changed, this, &TTryAllWindow::PictureChanged);
  PictureChanged();
}

TTryAllWindow::~TTryAllWindow() = default;

void TTryAllWindow::PictureChanged() {
  static const TBitmap none;
  const TBitmap* picture = ViewedPicture(view_);
  std::vector<TTryAllResult> results = TryAllThresholds(picture ? *picture : none, SampleSize);
  for (std::size_t k = 0; k < tiles_.size(); ++k)
    tiles_[k]->Show(std::move(results[k]));
}
