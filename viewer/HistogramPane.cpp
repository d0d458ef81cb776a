// SPDX-License-Identifier: GPL-3.0-or-later
#include "HistogramPane.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "ImageView.h"
#include "ThresholdMethodMenu.h"
#include "ViewedPicture.h"

namespace {

const QColor kMark(230, 110, 0);
const QColor kMethodMark(20, 90, 220);

// The count the plot's top stands for: the highest bin, unless one bin towers over all others
// (a background, or a black-and-white picture), which would flatten the rest of the curves.
double PlotTop(const std::vector<const THistogram::Counts*>& curves) {
  std::uint64_t highest = 0, second = 0;
  for (const THistogram::Counts* counts : curves) {
    for (const std::uint64_t n : *counts) {
      if (n > highest) {
        second = highest;
        highest = n;
      } else if (n > second) {
        second = n;
      }
    }
  }
  if (second > 0 && highest > 2 * second)
    return 1.5 * static_cast<double>(second);
  return std::max<double>(static_cast<double>(highest), 1);
}

}  // namespace

THistogramPane::THistogramPane(TImage* view, QWidget* parent)
    : QWidget(parent),
      view_(view),
      menu_(new QMenu(this)),
      methodMenu_(new TThresholdMethodMenu(TThresholdMethodMenu::TUse::Submenu, menu_)) {
  setObjectName(QStringLiteral("HistogramPane"));
  setMinimumHeight(100);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  menu_->setObjectName(QStringLiteral("HistogramMenu"));
  menu_->addMenu(methodMenu_);
  tryAll_ = menu_->addAction(QStringLiteral("全部試試…"));
  tryAll_->setObjectName(QStringLiteral("TryAllAction"));
  connect(tryAll_, &QAction::triggered, this, &THistogramPane::TryAllRequested);
  connect(methodMenu_, &TThresholdMethodMenu::Chosen, this, [this](TThresholdMethod method, int) {
    hovered_.reset();
    // Choosing the marked method again takes its mark away.
    SetMarkedMethod(marked_ == method ? std::nullopt : std::optional(method));
  });
  connect(methodMenu_, &TThresholdMethodMenu::Hovered, this, [this](TThresholdMethod method, int) {
    hovered_ = method;
    update();
  });
  connect(menu_, &QMenu::aboutToHide, this, [this] {
    hovered_.reset();
    update();
  });
}

void THistogramPane::PictureChanged() {
  counted_ = false;
  thresholdCounts_.reset();
  update();
}

void THistogramPane::AdoptHistogram(const THistogram& histogram) {
  histogram_ = histogram;
  counted_ = true;
  update();
}

void THistogramPane::SetMarkedMethod(std::optional<TThresholdMethod> method) {
  marked_ = method;
  update();
}

const THistogram::Counts& THistogramPane::ThresholdCounts() {
  if (!thresholdCounts_) {
    const TBitmap* bitmap = ViewedPicture(view_);
    thresholdCounts_ = bitmap ? ThresholdHistogram(*bitmap) : THistogram::Counts{};
  }
  return *thresholdCounts_;
}

std::optional<int> THistogramPane::MethodThreshold(TThresholdMethod method) {
  return AutoThreshold(method, ThresholdCounts());
}

QString THistogramPane::MethodMarkText() {
  const std::optional<TThresholdMethod> method = MarkedMethod();
  if (!method)
    return {};
  return ThresholdMethodText(*method, MethodThreshold(*method));
}

QMenu* THistogramPane::Menu() {
  methodMenu_->Update(ThresholdCounts(), marked_);
  return menu_;
}

void THistogramPane::contextMenuEvent(QContextMenuEvent* event) {
  Menu()->popup(event->globalPos());
}

void THistogramPane::SetThreshold(std::optional<int> threshold) {
  if (threshold_ == threshold)
    return;
  threshold_ = threshold;
  update();
}

const THistogram& THistogramPane::Histogram() {
  if (!counted_) {
    const TBitmap* bitmap = ViewedPicture(view_);
    histogram_ = bitmap ? ComputeHistogram(*bitmap) : THistogram();
    counted_ = true;
  }
  return histogram_;
}

QString THistogramPane::ThresholdText() {
  const THistogram& h = Histogram();
  if (!threshold_ || h.pixels == 0)
    return {};
  const double share = 100.0 * static_cast<double>(CountBelow(h.brightest, *threshold_)) /
                       static_cast<double>(h.pixels);
  // Thresholding writes byte 0, which only a grey or colour picture shows as black.
  const TBitmap* bitmap = ViewedPicture(view_);
  const bool indexed = h.channels == 1 && (bitmap == nullptr || !IsGreyRamp(*bitmap));
  return QStringLiteral("閥值 %1：%2 % 的像素%3")
      .arg(*threshold_)
      .arg(share, 0, 'f', 1)
      .arg(indexed ? QStringLiteral("變為索引 0") : QStringLiteral("變黑"));
}

void THistogramPane::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().window());
  const int labels = fontMetrics().height();
  const QRectF plot = QRectF(rect()).adjusted(8, 6, -8, -6 - labels);
  painter.fillRect(plot, Qt::white);
  painter.setPen(palette().color(QPalette::Mid));
  painter.drawRect(plot);
  const double bin = plot.width() / THistogram::Levels;
  painter.setPen(palette().color(QPalette::WindowText));
  for (const int v : {0, 64, 128, 192, 255}) {
    QRectF label(plot.left() + (v + 0.5) * bin - 20, plot.bottom() + 2, 40, labels);
    Qt::Alignment align = Qt::AlignHCenter;
    // The end labels stay inside the pane.
    if (v == 0) {
      label.moveLeft(plot.left());
      align = Qt::AlignLeft;
    } else if (v == THistogram::Levels - 1) {
      label.moveRight(plot.right());
      align = Qt::AlignRight;
    }
    painter.drawText(label, align | Qt::AlignTop, QString::number(v));
  }

  const THistogram& h = Histogram();
  if (h.pixels == 0) {
    painter.drawText(plot, Qt::AlignCenter, QStringLiteral("沒有影像"));
    return;
  }
  struct Curve {
    const THistogram::Counts* counts;
    QColor colour;
  };
  std::vector<Curve> curves;
  if (h.channels == 1) {
    curves.push_back({&h.channel[0], QColor(60, 60, 60)});
  } else {
    curves.push_back({&h.channel[2], QColor(220, 0, 0)});
    curves.push_back({&h.channel[1], QColor(0, 160, 0)});
    curves.push_back({&h.channel[0], QColor(0, 0, 230)});
  }
  std::vector<const THistogram::Counts*> counts;
  for (const Curve& c : curves)
    counts.push_back(c.counts);
  const double top = PlotTop(counts);

  painter.setRenderHint(QPainter::Antialiasing);
  painter.setClipRect(plot);
  for (const Curve& curve : curves) {
    QPainterPath path(QPointF(plot.left(), plot.bottom()));
    for (int v = 0; v < THistogram::Levels; ++v) {
      const double y = plot.bottom() - plot.height() * std::min(1.0, (*curve.counts)[v] / top);
      path.lineTo(plot.left() + v * bin, y);
      path.lineTo(plot.left() + (v + 1) * bin, y);
    }
    path.lineTo(plot.right(), plot.bottom());
    QColor fill = curve.colour;
    fill.setAlpha(curves.size() == 1 ? 255 : 50);
    painter.fillPath(path, fill);
    if (curves.size() > 1)
      painter.strokePath(path, QPen(curve.colour, 1.2));
  }

  if (const std::optional<TThresholdMethod> method = MarkedMethod()) {
    if (const std::optional<int> t = MethodThreshold(*method)) {
      // Dashed, in a colour of its own: where a method would cut, not the threshold in use.
      const double x = plot.left() + std::clamp(*t, 0, THistogram::Levels) * bin;
      painter.setPen(QPen(kMethodMark, 2, Qt::DashLine));
      painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
      const QString text = ThresholdMethodText(*method, t);
      QRectF box = fontMetrics().boundingRect(text).adjusted(-4, -2, 4, 2);
      // Beside the mark, on the side with room, below the threshold's own text.
      box.moveTop(plot.top() + 8 + labels);
      if (x + 4 + box.width() <= plot.right())
        box.moveLeft(x + 4);
      else
        box.moveRight(x - 4);
      painter.fillRect(box, QColor(255, 255, 255, 220));
      painter.setPen(kMethodMark.darker(130));
      painter.drawText(box, Qt::AlignCenter, text);
    }
  }

  if (!threshold_)
    return;
  // Bytes below the threshold turn black: shade them, and draw the mark where white begins.
  const double x = plot.left() + std::clamp(*threshold_, 0, THistogram::Levels) * bin;
  painter.fillRect(QRectF(plot.topLeft(), QPointF(x, plot.bottom())), QColor(0, 0, 0, 40));
  painter.setPen(QPen(kMark, 2));
  painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
  const QString text = ThresholdText();
  QRectF box = fontMetrics().boundingRect(text).adjusted(-4, -2, 4, 2);
  box.moveTopLeft(plot.topLeft() + QPointF(4, 4));
  painter.setClipping(false);
  painter.fillRect(box, QColor(255, 255, 255, 220));
  painter.setPen(kMark.darker(130));
  painter.drawText(box, Qt::AlignCenter, text);
}
