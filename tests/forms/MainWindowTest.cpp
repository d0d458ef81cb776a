// SPDX-License-Identifier: GPL-3.0-or-later
#include "Unit1.h"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>

namespace {

class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    form_ = std::make_unique<TForm1>();
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  }
  std::unique_ptr<TForm1> form_;
};

struct Placement {
  const char* name;
  QRect rect;
  const char* caption;
  const char* family;  // the face actually used for the caption
};

const char* const kKai = "AR PL UKai TW";
const char* const kSans = "Noto Sans CJK TC";

const Placement kLayout[] = {
    {"Image1", {400, 56, 249, 185}, nullptr, nullptr},
    {"Label1", {224, 24, 61, 16}, "CCD影像", kKai},
    {"Label2", {488, 24, 68, 16}, "擷取影像", kKai},
    {"Bevel1", {8, 40, 105, 169}, nullptr, nullptr},
    {"Bevel2", {24, 296, 289, 217}, nullptr, nullptr},
    {"Label3", {24, 264, 102, 16}, "影像處理功能", kKai},
    {"Image2", {400, 296, 249, 185}, nullptr, nullptr},
    {"Label4", {496, 272, 51, 16}, "處理後", kKai},
    {"Panel1", {128, 56, 249, 185}, "CCD監視器", kKai},
    {"Button1", {16, 48, 89, 33}, "開啟攝影機", kSans},
    {"Button2", {16, 88, 89, 33}, "擷取畫面", kSans},
    {"Button3", {16, 128, 89, 33}, "關閉攝影機", kSans},
    {"Button4", {40, 312, 89, 33}, "灰階化", kSans},
    {"Button5", {40, 360, 89, 33}, "二值化", kSans},
    {"Button6", {40, 408, 89, 33}, "邊緣化", kSans},
    {"Button7", {16, 168, 89, 33}, "開啟圖檔", kSans},
};

TEST_F(MainWindow, WindowHasItsStoredCaptionSizeAndPosition) {
  EXPECT_EQ(form_->windowTitle(), "Form1");
  EXPECT_EQ(form_->size(), QSize(688, 537));
  // Wayland leaves the placing of windows to the compositor; a screen too small for the stored
  // position moves the window within it.
  const QRect stored(QPoint(207, 124), form_->frameGeometry().size());
  if (QGuiApplication::platformName() != QLatin1String("wayland") &&
      form_->screen()->availableGeometry().contains(stored)) {
    EXPECT_EQ(form_->pos(), QPoint(207, 124));
  }
}

TEST_F(MainWindow, EveryComponentSitsAtItsStoredPlaceWithCaptionAndFont) {
  for (const Placement& p : kLayout) {
    auto* widget = form_->findChild<QWidget*>(p.name);
    ASSERT_NE(widget, nullptr) << p.name;
    EXPECT_EQ(widget->geometry(), p.rect) << p.name;
    if (p.caption == nullptr)
      continue;
    const QString caption = widget->property("text").toString();
    EXPECT_EQ(caption, QString::fromUtf8(p.caption)) << p.name;
    EXPECT_EQ(QFontInfo(widget->font()).family(), p.family) << p.name;
  }
}

TEST_F(MainWindow, LabelsAndPanelUseTheBoldKaiFaceAt16PixelsButtonsTheSansAt11) {
  const QFontInfo label(form_->Label1->font());
  EXPECT_TRUE(label.bold());
  EXPECT_EQ(label.pixelSize(), 16);
  EXPECT_EQ(QFontInfo(form_->Button4->font()).pixelSize(), 11);
}

TEST_F(MainWindow, NothingMovesWhenTheWindowIsResized) {
  form_->resize(1000, 800);
  QApplication::processEvents();
  EXPECT_EQ(form_->Image2->geometry(), QRect(400, 296, 249, 185));
  EXPECT_EQ(form_->Button6->geometry(), QRect(40, 408, 89, 33));
}

TEST_F(MainWindow, PanelIsRaisedWithItsCaptionCentredAndBevelsAreLowered) {
  EXPECT_EQ(form_->Panel1->frameShape(), QFrame::Panel);
  EXPECT_EQ(form_->Panel1->frameShadow(), QFrame::Raised);
  EXPECT_EQ(form_->Panel1->alignment(), Qt::AlignCenter);
  EXPECT_EQ(form_->Panel1->focusPolicy(), Qt::NoFocus);
  for (QFrame* bevel : {form_->Bevel1, form_->Bevel2}) {
    EXPECT_EQ(bevel->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(bevel->frameShape(), QFrame::Panel);
  }
}

TEST_F(MainWindow, ButtonsLieAboveTheBevelsThatFrameThem) {
  const QWidgetList order = [&] {
    QWidgetList widgets;
    for (QObject* child : form_->children())
      if (auto* w = qobject_cast<QWidget*>(child))
        widgets.append(w);
    return widgets;
  }();
  EXPECT_LT(order.indexOf(form_->Bevel1), order.indexOf(form_->Button1));
  EXPECT_LT(order.indexOf(form_->Bevel2), order.indexOf(form_->Button4));
  EXPECT_EQ(form_->childAt(60, 330), form_->Button4);
}

TEST_F(MainWindow, Button1HasTheFocusAndTabFollowsTheStoredOrder) {
  QApplication::setActiveWindow(form_.get());
  EXPECT_EQ(QApplication::focusWidget(), form_->Button1);
  QPushButton* const expected[] = {form_->Button2, form_->Button3, form_->Button4, form_->Button5,
                                   form_->Button6, form_->Button7, form_->Button1};
  for (QPushButton* next : expected) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
  }
}

TEST_F(MainWindow, NoButtonIsADefaultButton) {
  for (auto* button : form_->findChildren<QPushButton*>()) {
    EXPECT_FALSE(button->isDefault()) << button->objectName().toStdString();
    EXPECT_FALSE(button->autoDefault()) << button->objectName().toStdString();
  }
}

// The stored bindings name their slots in strings: a renamed handler would silently unbind.
TEST_F(MainWindow, EveryButtonIsBoundToItsOwnHandler) {
  for (int i = 1; i <= 7; ++i) {
    auto* button = form_->findChild<QPushButton*>(QStringLiteral("Button%1").arg(i));
    ASSERT_NE(button, nullptr);
    const QByteArray slot = QByteArray("1Button") + QByteArray::number(i) + "Click()";
    EXPECT_TRUE(QObject::disconnect(button, SIGNAL(clicked()), form_.get(), slot.constData()))
        << "Button" << i;
  }
}

TEST_F(MainWindow, ImageViewsStartEmptyWithoutStretchOrAutoSize) {
  for (TImage* view : {form_->Image1, form_->Image2}) {
    EXPECT_TRUE(view->Picture()->Bitmap()->Empty());
    EXPECT_FALSE(view->Stretch());
    EXPECT_FALSE(view->AutoSize());
  }
}

}  // namespace
