// SPDX-License-Identifier: GPL-3.0-or-later
#include "Dialogs.h"

#include <QApplication>
#include <QMessageBox>

void ShowMessage(const QString& text) {
  // Captioned with the program's name, as its failure messages are.
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok,
                  QApplication::activeWindow());
  box.exec();
}
