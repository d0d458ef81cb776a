// SPDX-License-Identifier: GPL-3.0-or-later
#include "ScaleDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>

TScaleDialog::TScaleDialog(double pixels, QWidget* parent)
    : QDialog(parent),
      pixels_(pixels),
      length_(new QDoubleSpinBox(this)),
      unit_(new QComboBox(this)) {
  setObjectName(QStringLiteral("ScaleDialog"));
  setWindowTitle(QStringLiteral("設定比例"));
  length_->setObjectName(QStringLiteral("KnownLength"));
  length_->setDecimals(4);
  length_->setRange(0.0001, 1e9);
  length_->setValue(1);
  unit_->setObjectName(QStringLiteral("Unit"));
  unit_->setEditable(true);
  unit_->addItems({QStringLiteral("µm"), QStringLiteral("nm"), QStringLiteral("mm"),
                   QStringLiteral("cm"), QStringLiteral("m")});
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  QPushButton* remove =
      buttons->addButton(QStringLiteral("移除比例"), QDialogButtonBox::DestructiveRole);
  remove->setObjectName(QStringLiteral("RemoveScale"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(remove, &QPushButton::clicked, this, [this] {
    removed_ = true;
    accept();
  });
  auto* form = new QFormLayout(this);
  form->addRow(QStringLiteral("線長："),
               new QLabel(QStringLiteral("%1 像素").arg(pixels, 0, 'f', 2)));
  form->addRow(QStringLiteral("已知長度："), length_);
  form->addRow(QStringLiteral("單位："), unit_);
  form->addRow(buttons);
}

double TScaleDialog::UnitsPerPixel() const {
  return removed_ || pixels_ <= 0 ? 1 : length_->value() / pixels_;
}

QString TScaleDialog::UnitName() const {
  if (removed_)
    return {};
  QString unit = unit_->currentText();
  // The unit goes into tables' headers: nothing there that splits or quotes a field.
  unit.remove(QRegularExpression(QStringLiteral("[,\"\t\r\n]")));
  unit = unit.trimmed();
  if (unit == QLatin1String("um") || unit == QLatin1String("micron"))
    unit = QStringLiteral("µm");
  return unit;
}
