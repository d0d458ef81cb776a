#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <optional>

#include "ImageView.h"

#include "Histogram.h"

// The histogram of an image view's picture: how many pixels hold each byte value, one curve per
// colour channel. While a threshold is set, it is marked and the pane says what share of the
// pixels it would turn black. Counted when first drawn after the picture changed.
class THistogramPane : public QWidget {
  Q_OBJECT

 public:
  explicit THistogramPane(TImage* view, QWidget* parent = nullptr);

  void PictureChanged();
  // The histogram of the picture just changed to, counted elsewhere.
  void AdoptHistogram(const THistogram& histogram);
  void SetThreshold(std::optional<int> threshold);
  std::optional<int> Threshold() const { return threshold_; }

  const THistogram& Histogram();
  // What the mark says, or an empty text without a threshold or a picture.
  QString ThresholdText();

  QSize sizeHint() const override { return QSize(400, 150); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPointer<TImage> view_;
  THistogram histogram_;
  bool counted_ = false;
  std::optional<int> threshold_;
};
