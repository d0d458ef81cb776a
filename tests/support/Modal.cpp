// SPDX-License-Identifier: GPL-3.0-or-later
#include "Modal.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>

void OnNextModal(std::function<void(QWidget*)> action) {
  QPointer<QWidget> before = QApplication::activeModalWidget();
  auto* timer = new QTimer(qApp);
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, before, action = std::move(action)] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == before)
      return;
    timer->stop();
    timer->deleteLater();
    action(modal);
  });
  timer->start();
}

bool TakeTheKeyboard(QWidget* window, int timeoutMs) {
  QElapsedTimer waited;
  waited.start();
  // Where the platform has no activation at all (Wayland), a window on show is all there is, and
  // the wait settles for that.
  while (!QTest::qWaitForWindowActive(window, 250)) {
    if (waited.hasExpired(timeoutMs))
      return false;
    window->activateWindow();
  }
  return true;
}

MessageBoxCatcher::MessageBoxCatcher()
    : seen_(std::make_shared<bool>(false)), text_(std::make_shared<QString>()) {
  OnNextModal([seen = seen_, text = text_](QWidget* modal) {
    *seen = true;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      *text = box->text();
      // Ends the box's own loop whatever the window system did with it so far (a compositor
      // may not have shown it yet, and closing a window not yet shown is ignored).
      box->done(QMessageBox::Ok);
      return;
    }
    modal->close();
  });
}
