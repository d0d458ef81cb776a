// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <deque>
#include <utility>

// A small plot of the count of objects over the last minutes of a live view.
class TCountPlot : public QWidget {
  Q_OBJECT

 public:
  static constexpr double Span = 120;  // seconds on show

  explicit TCountPlot(QWidget* parent = nullptr);

  // A frame's count at `seconds` from any fixed start.
  void Add(double seconds, int count);
  void Clear();
  const std::deque<std::pair<double, int>>& Points() const { return points_; }

  QSize sizeHint() const override { return QSize(320, 56); }
  QSize minimumSizeHint() const override { return QSize(80, 40); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::deque<std::pair<double, int>> points_;
};
