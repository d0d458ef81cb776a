// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QDoubleSpinBox;

// "設定比例": what a line drawn over the picture measures in a unit of length. Accepted, it gives
// the length units per pixel; "移除比例" gives none (pixels again).
class TScaleDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TScaleDialog(double pixels, QWidget* parent = nullptr);

  QDoubleSpinBox* Length() const { return length_; }
  QComboBox* Unit() const { return unit_; }

  // After exec: units per pixel and the unit, or an empty unit where the scale was removed.
  double UnitsPerPixel() const;
  QString UnitName() const;

 private:
  double pixels_;
  bool removed_ = false;
  QDoubleSpinBox* length_;
  QComboBox* unit_;
};
