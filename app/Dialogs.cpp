#include "Dialogs.h"

#include <QApplication>
#include <QMessageBox>

#include "Application.h"

void ShowMessage(const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), text, QMessageBox::Ok,
                  QApplication::activeWindow());
  box.exec();
}
