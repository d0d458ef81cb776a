// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <optional>

#include "ImageView.h"

#include "AutoThreshold.h"
#include "Histogram.h"

class TThresholdMethodMenu;
class QMenu;
class QAction;

// The histogram of an image view's picture: how many pixels hold each byte value, one curve per
// colour channel. While a threshold is set, it is marked and the pane says what share of the
// pixels it would turn black. Counted when first drawn after the picture changed.
// Its context menu lists the automatic threshold methods with the threshold each would give here;
// choosing one (or resting the mouse on it) marks that threshold, and "全部試試" asks for the
// picture thresholded by all of them.
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

  // The method whose threshold is marked: the one chosen in the menu, or the one the mouse rests
  // on while the menu is open.
  void SetMarkedMethod(std::optional<TThresholdMethod> method);
  std::optional<TThresholdMethod> MarkedMethod() const { return hovered_ ? hovered_ : marked_; }
  // "Otsu（T = 129）", or an empty text without a marked method.
  QString MethodMarkText();

  // The menu as it pops up now, its entries showing this picture's thresholds.
  QMenu* Menu();
  TThresholdMethodMenu* MethodMenu() const { return methodMenu_; }
  QAction* TryAllAction() const { return tryAll_; }

  QSize sizeHint() const override { return QSize(400, 150); }

 signals:
  void TryAllRequested();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  // What the methods see of the picture, counted when first asked for after it changed.
  const THistogram::Counts& ThresholdCounts();
  std::optional<int> MethodThreshold(TThresholdMethod method);

  QPointer<TImage> view_;
  THistogram histogram_;
  bool counted_ = false;
  std::optional<THistogram::Counts> thresholdCounts_;
  std::optional<int> threshold_;
  std::optional<TThresholdMethod> marked_;
  std::optional<TThresholdMethod> hovered_;
  QMenu* menu_;
  TThresholdMethodMenu* methodMenu_;
  QAction* tryAll_;
};
