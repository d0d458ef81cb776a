// SPDX-License-Identifier: GPL-3.0-or-later
#include "Unit2.h"

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QSignalBlocker>

#include "Commands.h"
#include "Threshold.h"
#include "ThresholdMethodMenu.h"
#include "Unit1.h"
#include "ViewerLink.h"
#include "Workbench.h"

TBinaryDlg* BinaryDlg = nullptr;

TBinaryDlg::TBinaryDlg(QWidget* parent)
    : QDialog(parent),
      methodMenu_(new TThresholdMethodMenu(TThresholdMethodMenu::TUse::Popup, this)) {
  setupUi(this);
  // A fixed dialog frame: title and close box only.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  OKBtn->setFocus();
  const TParameterInfo& range = *OperationInfo(TOperation::Binarize).parameter;
  {
    const QSignalBlocker quiet(ScrollBar1);
    ScrollBar1->setRange(range.minimum, range.maximum);
  }
  Bind(Form1 != nullptr ? Form1->Workbench() : new TWorkbench(this));

  methodMenu_->addSeparator();
  QAction* tryAll = methodMenu_->addAction(QStringLiteral("全部試試…"));
  tryAll->setObjectName(QStringLiteral("TryAllAction"));
  connect(tryAll, &QAction::triggered, this, &TBinaryDlg::OpenTryAll);
  connect(methodMenu_, &TThresholdMethodMenu::Chosen, this,
          [this](TThresholdMethod method) { ChooseMethod(method); });
  // The slider's own menu (scroll here, left edge, …) gives way to the methods.
  ScrollBar1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(ScrollBar1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { MethodMenu()->popup(ScrollBar1->mapToGlobal(at)); });
}

TBinaryDlg::~TBinaryDlg() = default;

void TBinaryDlg::Bind(TWorkbench* workbench) {
  if (workbench == workbench_)
    return;
  if (workbench_ != nullptr)
    disconnect(workbench_, nullptr, this, nullptr);
  workbench_ = workbench;
  connect(workbench_, &TWorkbench::BinarizeBegins, this, &TBinaryDlg::FillPreview);
  connect(workbench_, &TWorkbench::ThresholdTried, this, &TBinaryDlg::ShowThreshold);
  connect(workbench_, &TWorkbench::TrialChanged, this, [this](std::optional<int> threshold) {
    if (threshold)
      emit ThresholdShown(*threshold);
    else
      emit ThresholdHidden();
  });
  {
    const QSignalBlocker quiet(ScrollBar1);
    ScrollBar1->setValue(workbench_->TriedThreshold());
  }
  Edit1->setText(QString::number(workbench_->TriedThreshold()));
}

void TBinaryDlg::CentreOnScreen() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr)
    return;
  QRect frame = frameGeometry();
  frame.moveCenter(screen->geometry().center());
  move(frame.topLeft());
}

int TBinaryDlg::ShowModal() {
  CentreOnScreen();
  return exec();
}

void TBinaryDlg::OKBtnClick() {
  done(mrOk);
}

void TBinaryDlg::CancelBtnClick() {
  done(mrCancel);
}

// Esc and the close box end up here: both count as Cancel.
void TBinaryDlg::reject() {
  CancelBtn->click();
}

// No button is the default: Enter presses the button that has the focus and nothing else.
void TBinaryDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    if (auto* button = qobject_cast<QPushButton*>(focusWidget()))
      button->click();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TBinaryDlg::contextMenuEvent(QContextMenuEvent* event) {
  MethodMenu()->popup(event->globalPos());
}

void TBinaryDlg::FillPreview() {
  Image1->SetAutoSize(false);
  Image1->SetStretch(true);
  Image1->Picture()->Bitmap()->Assign(workbench_->ImageToThreshold());
}

TThresholdMethodMenu* TBinaryDlg::MethodMenu() {
  methodMenu_->Update(workbench_->ThresholdedHistogram(), workbench_->ChosenMethod());
  return methodMenu_;
}

void TBinaryDlg::OpenTryAll() {
  if (TViewerLink* link = TViewerLink::Showing(workbench_->ImageToThreshold()))
    link->OpenTryAll();
}

bool TBinaryDlg::ChooseMethod(TThresholdMethod method) {
  return workbench_->TryMethod(method);
}

void TBinaryDlg::TakeThreshold(TThresholdMethod method, int threshold) {
  workbench_->TakeThreshold(method, threshold);
}

std::optional<TThresholdMethod> TBinaryDlg::ChosenMethod() const {
  return workbench_->ChosenMethod();
}

std::optional<TThresholdMethod> TBinaryDlg::MethodInForce() const {
  return workbench_->MethodInForce();
}

TStep TBinaryDlg::ChosenStep() const {
  return workbench_->TriedStep();
}

void TBinaryDlg::ScrollBar1Change() {
  workbench_->TryThreshold(ScrollBar1->value());
}

void TBinaryDlg::ShowThreshold(int threshold) {
  if (ScrollBar1->value() != threshold) {
    const QSignalBlocker quiet(ScrollBar1);
    ScrollBar1->setValue(threshold);
  }
  Edit1->setText(QString::asprintf("%i", threshold));
  ThresholdInto(workbench_->ImageToThreshold(), *Image1->Picture()->Bitmap(), threshold);
  // At once, so that the preview follows a drag.
  repaint();
}
