// SPDX-License-Identifier: GPL-3.0-or-later
#include "CountPlot.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <vector>

TCountPlot::TCountPlot(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("CountPlot"));
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  setFixedHeight(56);
}

void TCountPlot::Add(double seconds, int count) {
  points_.emplace_back(seconds, count);
  while (!points_.empty() && points_.front().first < seconds - Span)
    points_.pop_front();
  update();
}

void TCountPlot::Clear() {
  points_.clear();
  update();
}

void TCountPlot::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(32, 32, 32));
  const QString caption = QStringLiteral("物件數（最近 %1 分鐘）").arg(Span / 60);
  painter.setPen(QColor(160, 160, 160));
  painter.drawText(rect().adjusted(4, 2, -4, -2), Qt::AlignLeft | Qt::AlignTop, caption);
  if (points_.empty())
    return;
  int most = 0;
  for (const auto& point : points_)
    most = std::max(most, point.second);
  painter.drawText(rect().adjusted(4, 2, -4, -2), Qt::AlignRight | Qt::AlignTop,
                   QStringLiteral("最多 %1　現在 %2").arg(most).arg(points_.back().second));
  // Room above the curve for the captions.
  const double top = std::max(1, most) * 1.6;
  const QRectF area = QRectF(rect()).adjusted(4, 4, -4, -4);
  const double end = points_.back().first;
  // The first minutes fill the plot from the left; then it scrolls.
  const double span = std::clamp(end - points_.front().first, 10.0, Span);
  // One column of the plot per screen pixel: its least and greatest count.
  const int columns = std::max(1, static_cast<int>(area.width()));
  std::vector<std::pair<int, int>> range(static_cast<std::size_t>(columns), {-1, -1});
  for (const auto& [seconds, count] : points_) {
    const int column = std::clamp(static_cast<int>((seconds - (end - span)) / span * (columns - 1)),
                                  0, columns - 1);
    auto& [low, high] = range[static_cast<std::size_t>(column)];
    low = low < 0 ? count : std::min(low, count);
    high = std::max(high, count);
  }
  const auto y = [&](int count) { return area.bottom() - area.height() * count / top; };
  QPainterPath path;
  bool started = false;
  for (int column = 0; column < columns; ++column) {
    const auto [low, high] = range[static_cast<std::size_t>(column)];
    if (low < 0)
      continue;
    const double x = area.left() + column;
    if (!started)
      path.moveTo(x, y(high));
    else
      path.lineTo(x, y(high));
    path.lineTo(x, y(low));
    started = true;
  }
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(QColor(0, 220, 255), 1.5));
  painter.drawPath(path);
}
