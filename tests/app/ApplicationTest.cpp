// SPDX-License-Identifier: GPL-3.0-or-later
#include "Application.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <stdexcept>

#include "Exception.h"
#include "Modal.h"

namespace {

// A failure thrown from a button's click handler, delivered by a real mouse click.
struct FailureCase {
  const char* what;
  std::function<void()> fail;
  QString shown;
};

TEST(MessageLoop, AFailureInAHandlerIsShownAndTheProgramGoesOn) {
  const FailureCase cases[] = {
      {"Exception", [] { throw Exception(QStringLiteral("無法開啟圖檔")); },
       QStringLiteral("無法開啟圖檔")},
      {"other failure", [] { throw std::runtime_error("internal"); }, QString()},
      {"out of memory", [] { throw std::bad_alloc(); },
       QStringLiteral("記憶體不足，無法完成這項操作。")},
  };
  for (const FailureCase& c : cases) {
    QPushButton button(QStringLiteral("go"));
    button.show();
    int afterwards = 0;
    QObject::connect(&button, &QPushButton::clicked, [&] {
      if (afterwards++ == 0)
        c.fail();
    });
    MessageBoxCatcher box;
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_TRUE(box.Seen()) << c.what;
    EXPECT_EQ(box.Text(), c.shown) << c.what;
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(afterwards, 2) << c.what << ": the button still works after the failure";
  }
}

TEST(MessageLoop, AFailureInsideANestedModalLoopIsShownAndTheDialogStaysUp) {
  QDialog dialog;
  auto* button = new QPushButton(QStringLiteral("fail"), &dialog);
  QObject::connect(button, &QPushButton::clicked, [] { throw Exception(QStringLiteral("x")); });
  bool stillVisible = false;
  QString text;
  OnNextModal([&](QWidget*) {
    OnNextModal([&](QWidget* box) {
      if (auto* message = qobject_cast<QMessageBox*>(box))
        text = message->text();
      box->close();
      QTimer::singleShot(0, &dialog, [&] {
        stillVisible = dialog.isVisible();
        dialog.accept();
      });
    });
    QTimer::singleShot(0, button, [button] { QTest::mouseClick(button, Qt::LeftButton); });
  });
  EXPECT_EQ(dialog.exec(), QDialog::Accepted);
  EXPECT_EQ(text, QStringLiteral("x"));
  EXPECT_TRUE(stillVisible);
}

TEST(MessageLoop, ShowExceptionShowsTheMessageText) {
  MessageBoxCatcher box;
  const Exception failure(QStringLiteral("攝影機已中斷"));
  Application->ShowException(&failure);
  EXPECT_TRUE(box.Seen());
  EXPECT_EQ(box.Text(), QStringLiteral("攝影機已中斷"));
}

}  // namespace
