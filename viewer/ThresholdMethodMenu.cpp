// SPDX-License-Identifier: GPL-3.0-or-later
#include "ThresholdMethodMenu.h"

#include <QActionGroup>

QString ThresholdMethodText(TThresholdMethod method, std::optional<int> threshold) {
  const QString name = QString::fromLatin1(ThresholdMethodInfo(method).name);
  if (!threshold)
    return QStringLiteral("%1（無門檻）").arg(name);
  return QStringLiteral("%1（T = %2）").arg(name).arg(*threshold);
}

TThresholdMethodMenu::TThresholdMethodMenu(TUse use, QWidget* parent) : QMenu(parent) {
  static_assert(kCount == static_cast<std::size_t>(TThresholdMethod::Yen) + 1);
  setObjectName(QStringLiteral("ThresholdMethodMenu"));
  setTitle(QStringLiteral("自動門檻"));
  if (use == TUse::Popup)
    addSection(title());
  auto* group = new QActionGroup(this);
  group->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
  for (const TThresholdMethodInfo& info : ThresholdMethods()) {
    QAction* action = addAction(ThresholdMethodText(info.method, std::nullopt));
    action->setObjectName(QStringLiteral("ThresholdMethod_%1").arg(QLatin1String(info.word)));
    action->setCheckable(true);
    group->addAction(action);
    const TThresholdMethod method = info.method;
    connect(action, &QAction::triggered, this, [this, method] {
      if (const std::optional<int> t = Threshold(method))
        emit Chosen(method, *t);
    });
    connect(action, &QAction::hovered, this, [this, method] {
      if (const std::optional<int> t = Threshold(method))
        emit Hovered(method, *t);
    });
    actions_[static_cast<std::size_t>(method)] = action;
  }
}

void TThresholdMethodMenu::Update(const THistogram::Counts& histogram,
                                  std::optional<TThresholdMethod> checked) {
  for (const TThresholdMethodInfo& info : ThresholdMethods()) {
    const auto k = static_cast<std::size_t>(info.method);
    thresholds_[k] = AutoThreshold(info.method, histogram);
    actions_[k]->setText(ThresholdMethodText(info.method, thresholds_[k]));
    actions_[k]->setEnabled(thresholds_[k].has_value());
    actions_[k]->setChecked(checked == info.method);
  }
}

QAction* TThresholdMethodMenu::Action(TThresholdMethod method) const {
  return actions_[static_cast<std::size_t>(method)];
}

std::optional<int> TThresholdMethodMenu::Threshold(TThresholdMethod method) const {
  return thresholds_[static_cast<std::size_t>(method)];
}
