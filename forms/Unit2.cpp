#include "Unit2.h"

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <algorithm>

#include "Commands.h"
#include "Threshold.h"
#include "ThresholdMethodMenu.h"
#include "Unit1.h"
#include "ViewerLink.h"

TBinaryDlg* BinaryDlg = nullptr;

TBinaryDlg::TBinaryDlg(QWidget* parent)
    : QDialog(parent),
      methodMenu_(new TThresholdMethodMenu(TThresholdMethodMenu::TUse::Popup, this)) {
  setupUi(this);
  // A fixed dialog frame: title and close box only.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  OKBtn->setFocus();
  // The live camera view runs the threshold on show.
  if (Form1 != nullptr) {
    connect(this, &TBinaryDlg::ThresholdShown, Form1, &TForm1::LiveChainChanged);
    connect(this, &TBinaryDlg::ThresholdHidden, Form1, &TForm1::LiveChainChanged);
  }

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

void TBinaryDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  histogram_.reset();
  // A method in force when the dialog last closed is applied to the new picture, as it would
  // have been chosen again.
  if (chosen_ && inForce_ && !ChooseMethod(*chosen_))
    inForce_ = false;
  emit ThresholdShown(ScrollBar1->value());
}

void TBinaryDlg::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  emit ThresholdHidden();
}

void TBinaryDlg::contextMenuEvent(QContextMenuEvent* event) {
  MethodMenu()->popup(event->globalPos());
}

TImage* TBinaryDlg::SourceView() const {
  const TBitmap& source =
      ImageToThreshold(*Form1->Image1->Picture()->Bitmap(), *Form1->Image2->Picture()->Bitmap());
  return &source == Form1->Image2->Picture()->Graphic() ? Form1->Image2 : Form1->Image1;
}

const THistogram::Counts& TBinaryDlg::SourceHistogram() {
  if (!histogram_)
    histogram_ = ThresholdHistogram(*SourceView()->Picture()->Bitmap());
  return *histogram_;
}

TThresholdMethodMenu* TBinaryDlg::MethodMenu() {
  methodMenu_->Update(SourceHistogram(), chosen_);
  return methodMenu_;
}

void TBinaryDlg::OpenTryAll() {
  if (TViewerLink* link = TViewerLink::Of(SourceView()))
    link->OpenTryAll();
}

void TBinaryDlg::MoveSliderTo(int threshold) {
  movingByMethod_ = true;
  // T = 256 (every byte below it) is beyond a slider of 0 … 255; 255 leaves only the bytes 255
  // white, the nearest it can show.
  const int position = std::clamp(threshold, ScrollBar1->minimum(), ScrollBar1->maximum());
  if (ScrollBar1->value() == position)
    ScrollBar1Change();  // the preview may still show the picture unthresholded
  else
    ScrollBar1->setValue(position);
  movingByMethod_ = false;
}

bool TBinaryDlg::ChooseMethod(TThresholdMethod method) {
  const std::optional<int> threshold = AutoThreshold(method, SourceHistogram());
  if (!threshold)
    return false;
  chosen_ = method;
  inForce_ = true;
  MoveSliderTo(*threshold);
  return true;
}

void TBinaryDlg::TakeThreshold(TThresholdMethod method, int threshold) {
  if (AutoThreshold(method, SourceHistogram()) == threshold) {
    ChooseMethod(method);
    return;
  }
  // A threshold from another picture: a number only.
  inForce_ = false;
  MoveSliderTo(threshold);
}

std::optional<TThresholdMethod> TBinaryDlg::MethodInForce() const {
  return inForce_ ? chosen_ : std::nullopt;
}

void TBinaryDlg::ScrollBar1Change() {
  if (!movingByMethod_)
    inForce_ = false;
  TBitmap* preview = Image1->Picture()->Bitmap();
  const TBitmap& source = *SourceView()->Picture()->Bitmap();
  const int t = ScrollBar1->value();
  Edit1->setText(QString::asprintf("%i", t));
  ThresholdInto(source, *preview, t);
  if (isVisible())
    emit ThresholdShown(t);
  // At once, so that the preview follows a drag.
  repaint();
}

TStep TBinaryDlg::ChosenStep() {
  const int t = ScrollBar1->value();
  // By the method only where it gives the slider's very threshold: the slider stops at 255, a
  // method may say 256.
  const std::optional<TThresholdMethod> method = MethodInForce();
  if (method && AutoThreshold(*method, SourceHistogram()) == t)
    return {TOperation::Binarize, t, method};
  return {TOperation::Binarize, t};
}
