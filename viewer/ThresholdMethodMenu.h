// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMenu>
#include <array>
#include <optional>

#include "AutoThreshold.h"

// How a method is listed and captioned: "Otsu（T = 129）", or "Huang（無門檻）" where the method
// gives no threshold.
QString ThresholdMethodText(TThresholdMethod method, std::optional<int> threshold);

// The menu "自動門檻": the automatic threshold methods by ImageJ's names, each with the threshold
// it gives on a histogram; a method that gives none is listed disabled.
class TThresholdMethodMenu : public QMenu {
  Q_OBJECT

 public:
  // A popup menu of its own shows its title as a heading; a submenu shows it in its parent.
  enum class TUse { Popup, Submenu };

  explicit TThresholdMethodMenu(TUse use, QWidget* parent = nullptr);

  // Lists each method's threshold on `histogram`; `checked` shows as checked.
  void Update(const THistogram::Counts& histogram, std::optional<TThresholdMethod> checked);
  QAction* Action(TThresholdMethod method) const;
  std::optional<int> Threshold(TThresholdMethod method) const;

 signals:
  // A method with a threshold was chosen, or the mouse rests on it.
  void Chosen(TThresholdMethod method, int threshold);
  void Hovered(TThresholdMethod method, int threshold);

 private:
  static constexpr std::size_t kCount = 16;
  std::array<QAction*, kCount> actions_{};
  std::array<std::optional<int>, kCount> thresholds_{};
};
