// SPDX-License-Identifier: GPL-3.0-or-later
#include "ViewerWindow.h"

#include <QAction>
#include <QKeyEvent>
#include <QPainter>
#include <QShowEvent>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

#include "HistogramPane.h"
#include "ImageView.h"
#include "PictureCanvas.h"
#include "ReducedPicture.h"
#include "ScaleDialog.h"
#include "TryAllWindow.h"
#include "ViewedPicture.h"
#include "WindowPlacement.h"

namespace {

QString Percent(double zoom) {
  const double percent = zoom * 100;
  if (std::abs(percent - std::round(percent)) < 0.05)
    return QString::number(std::lround(percent));
  return QString::number(percent, 'f', percent < 1 ? 2 : 1);
}

}  // namespace

TStatusLabel::TStatusLabel(QWidget* parent) : QLabel(parent) {
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

QSize TStatusLabel::minimumSizeHint() const {
  const QMargins margins = contentsMargins();
  return QSize(fontMetrics().horizontalAdvance(QStringLiteral("…")) + margins.left() +
                   margins.right() + 2 * margin(),
               QLabel::minimumSizeHint().height());
}

QString TStatusLabel::ShownText() const {
  return fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width() - 2 * margin());
}

void TStatusLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(palette().color(foregroundRole()));
  painter.drawText(contentsRect().marginsRemoved(QMargins(margin(), margin(), margin(), margin())),
                   static_cast<int>(alignment()), ShownText());
}

TViewerWindow::TViewerWindow(TImage* view, const QString& title, QWidget* parent)
    : QWidget(parent, Qt::Window),
      view_(view),
      title_(title),
      canvas_(new TPictureCanvas(view, this)),
      histogram_(new THistogramPane(view, this)),
      status_(new QStatusBar(this)),
      zoomLabel_(new TStatusLabel(this)),
      pictureLabel_(new TStatusLabel(this)),
      pixelLabel_(new TStatusLabel(this)),
      scaleAction_(new QAction(QStringLiteral("設定比例…"), this)) {
  setObjectName(QStringLiteral("ViewerWindow"));
  setWindowTitle(title);
  zoomLabel_->setObjectName(QStringLiteral("ZoomLabel"));
  pictureLabel_->setObjectName(QStringLiteral("PictureLabel"));
  pixelLabel_->setObjectName(QStringLiteral("PixelLabel"));

  status_->addWidget(pixelLabel_, 1);
  status_->addPermanentWidget(pictureLabel_);
  status_->addPermanentWidget(zoomLabel_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(canvas_, 1);
  layout->addWidget(histogram_);
  layout->addWidget(status_);

  connect(canvas_, &TPictureCanvas::ZoomChanged, this, &TViewerWindow::UpdateStatus);
  connect(canvas_, &TPictureCanvas::Hovered, this, [this](std::optional<QPoint> pixel) {
    hovered_ = pixel;
    UpdateStatus();
  });
  if (view != nullptr)
    connect(view, &TImage::Changed, this, &TViewerWindow::PictureChanged);
  connect(histogram_, &THistogramPane::TryAllRequested, this, &TViewerWindow::OpenTryAll);
  scaleAction_->setObjectName(QStringLiteral("ScaleAction"));
  connect(scaleAction_, &QAction::triggered, this, &TViewerWindow::BeginScale);
  connect(canvas_, &TPictureCanvas::LineDrawn, this, &TViewerWindow::LineDrawn);
  // The window's actions are its menu; windows that add to them add to it.
  addAction(scaleAction_);
  setContextMenuPolicy(Qt::ActionsContextMenu);

  ShowHistogramByDefault();
  canvas_->setFocus();
  canvas_->PictureChanged();
  UpdateStatus();
  PlaceAtPictureSize();
}

void TViewerWindow::PlaceAtPictureSize() {
  // The picture at its own size where there is room for all of it beside the main window (on a
  // small screen, more than the toolkit's two thirds of it), else at most two thirds of the screen.
  const QSize whole = sizeHint().expandedTo(minimumSizeHint());
  resize(whole);
  PlaceBesideMainWindow(this, mainWindow_);
  if (size() != whole) {
    adjustSize();
    PlaceBesideMainWindow(this, mainWindow_);
  }
  // The status line takes its height as the window shows: sized again then, unless resized since.
  placedSize_ = isVisible() ? std::nullopt : std::optional<QSize>(size());
}

TViewerWindow::~TViewerWindow() {
  delete tryAll_.data();
}

TTryAllWindow* TViewerWindow::TryAllWindow() const {
  return tryAll_;
}

TTryAllWindow* TViewerWindow::OpenTryAll() {
  if (tryAll_ == nullptr) {
    // A window of its own, like the viewer, so that it can stand beside it.
    tryAll_ = new TTryAllWindow(view_, title_);
    tryAll_->setAttribute(Qt::WA_DeleteOnClose);
    connect(tryAll_, &TTryAllWindow::ThresholdChosen, this, &TViewerWindow::ThresholdChosen);
    tryAll_->adjustSize();
    PlaceBesideMainWindow(tryAll_, mainWindow_);
  }
  tryAll_->show();
  tryAll_->raise();
  tryAll_->activateWindow();
  return tryAll_;
}

void TViewerWindow::AddPane(QWidget* pane) {
  auto* box = static_cast<QVBoxLayout*>(layout());
  box->insertWidget(box->indexOf(status_), pane);
}

void TViewerWindow::BeginScale() {
  canvas_->BeginLine();
  canvas_->setFocus();
  status_->showMessage(QStringLiteral("拖曳一條已知長度的線（Esc 取消）"));
}

void TViewerWindow::LineDrawn(std::optional<QLineF> line) {
  status_->clearMessage();
  if (!line) {
    canvas_->EndLine();
    return;
  }
  // Asked once the mouse button's event is over, rather than in a loop of its own inside it.
  QTimer::singleShot(0, this, [this, pixels = line->length()] {
    QPointer<TViewerWindow> self(this);
    QPointer<TScaleDialog> dialog = new TScaleDialog(pixels, this);
    const bool accepted = dialog->exec() == QDialog::Accepted;
    // The viewer may have gone with the main window while the dialog was up.
    if (self == nullptr || dialog == nullptr)
      return;
    const double unitsPerPixel = dialog->UnitsPerPixel();
    const QString unit = dialog->UnitName();
    delete dialog.data();
    canvas_->EndLine();
    if (accepted)
      emit ScaleChosen(unitsPerPixel, unit);
  });
}

void TViewerWindow::PictureChanged() {
  canvas_->PictureChanged();
  histogram_->PictureChanged();
  ShowHistogramByDefault();
  UpdateStatus();
}

// Grey and palette pictures are what the threshold works on: their histogram shows unasked.
void TViewerWindow::ShowHistogramByDefault() {
  const TBitmap* bitmap = ViewedPicture(view_);
  const bool shown =
      histogramChosen_.value_or(bitmap != nullptr && bitmap->PixelFormat() == TPixelFormat::pf8bit);
  histogram_->setVisible(shown);
}

bool TViewerWindow::HistogramShown() const {
  return histogram_->isVisibleTo(this);
}

void TViewerWindow::ToggleHistogram() {
  histogramChosen_ = !HistogramShown();
  histogram_->setVisible(*histogramChosen_);
}

void TViewerWindow::AdoptPaintAids(TPaintAids aids) {
  if (aids.factor != 0)
    canvas_->AdoptReduced(aids.factor, std::move(aids.level));
  if (aids.histogram)
    histogram_->AdoptHistogram(*aids.histogram);
}

void TViewerWindow::SetNotice(const QString& notice) {
  canvas_->SetNotice(notice);
}

TPaintAids MakePaintAids(const TBitmap& picture, int factor, bool histogram) {
  TPaintAids aids;
  if (factor == 1)
    aids.level = Rgb32Part(picture, QRect(0, 0, picture.Width(), picture.Height()));
  else if (factor > 1)
    aids.level = ReduceBitmap(picture, factor);
  if (!aids.level.isNull())
    aids.factor = factor;
  if (histogram)
    aids.histogram = ComputeHistogram(picture);
  return aids;
}

void TViewerWindow::SetThreshold(std::optional<int> threshold) {
  histogram_->SetThreshold(threshold);
}

QString TViewerWindow::ZoomText() const {
  return QStringLiteral("縮放 %1 %").arg(Percent(canvas_->Zoom()));
}

QString TViewerWindow::PictureText() const {
  const TBitmap* bitmap = ViewedPicture(view_);
  if (bitmap == nullptr)
    return QStringLiteral("沒有影像");
  QString depth;
  switch (bitmap->PixelFormat()) {
    case TPixelFormat::pf8bit:
      depth = IsGreyRamp(*bitmap)
                  ? QStringLiteral("8 位元灰階")
                  : QStringLiteral("8 位元索引色（%1 色）").arg(bitmap->Palette()->Count());
      break;
    case TPixelFormat::pf24bit:
      depth = QStringLiteral("24 位元全彩");
      break;
    case TPixelFormat::pf32bit:
      depth = QStringLiteral("32 位元全彩含透明度");
      break;
  }
  return QStringLiteral("%1 × %2，%3").arg(bitmap->Width()).arg(bitmap->Height()).arg(depth);
}

QString TViewerWindow::PixelText() const {
  const TBitmap* bitmap = ViewedPicture(view_);
  if (bitmap == nullptr || !hovered_ || hovered_->x() >= bitmap->Width() ||
      hovered_->y() >= bitmap->Height())
    return {};
  const QString at = QStringLiteral("(%1, %2)　").arg(hovered_->x()).arg(hovered_->y());
  const std::uint8_t* p = bitmap->ScanLine(hovered_->y()) + hovered_->x() * bitmap->BytesPerPixel();
  const auto rgb = [](int r, int g, int b) {
    return QStringLiteral("R %1  G %2  B %3").arg(r).arg(g).arg(b);
  };
  switch (bitmap->PixelFormat()) {
    case TPixelFormat::pf8bit: {
      if (IsGreyRamp(*bitmap))
        return at + QStringLiteral("灰階 %1").arg(p[0]);
      TPaletteEntry e;
      if (!bitmap->GetPaletteEntry(p[0], e))
        return at + QStringLiteral("索引 %1（不在調色盤中，顯示為黑色）").arg(p[0]);
      return at + QStringLiteral("索引 %1：%2").arg(p[0]).arg(rgb(e.peRed, e.peGreen, e.peBlue));
    }
    case TPixelFormat::pf24bit:
      return at + rgb(p[2], p[1], p[0]);
    case TPixelFormat::pf32bit:
      return at + rgb(p[2], p[1], p[0]) + QStringLiteral("  A %1").arg(p[3]);
  }
  return {};
}

void TViewerWindow::UpdateStatus() {
  zoomLabel_->setText(ZoomText());
  pictureLabel_->setText(PictureText());
  pixelLabel_->setText(PixelText());
}

void TViewerWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (placedSize_ == size() && !event->spontaneous())
    PlaceAtPictureSize();
}

void TViewerWindow::keyPressEvent(QKeyEvent* event) {
  if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
    return QWidget::keyPressEvent(event);
  switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
      canvas_->ZoomIn();
      break;
    case Qt::Key_Minus:
    case Qt::Key_Underscore:
      canvas_->ZoomOut();
      break;
    case Qt::Key_1:
      canvas_->ZoomTo(1.0);
      break;
    case Qt::Key_F:
      canvas_->Fit();
      break;
    case Qt::Key_H:
      ToggleHistogram();
      break;
    default:
      return QWidget::keyPressEvent(event);
  }
}
