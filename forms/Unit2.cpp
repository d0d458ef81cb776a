#include "Unit2.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>

#include "Commands.h"
#include "Threshold.h"
#include "Unit1.h"

TBinaryDlg* BinaryDlg = nullptr;

TBinaryDlg::TBinaryDlg(QWidget* parent) : QDialog(parent) {
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
  emit ThresholdShown(ScrollBar1->value());
}

void TBinaryDlg::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  emit ThresholdHidden();
}

void TBinaryDlg::ScrollBar1Change() {
  TBitmap* preview = Image1->Picture()->Bitmap();
  const TBitmap& source =
      ImageToThreshold(*Form1->Image1->Picture()->Bitmap(), *Form1->Image2->Picture()->Bitmap());
  const int t = ScrollBar1->value();
  Edit1->setText(QString::asprintf("%i", t));
  ThresholdInto(source, *preview, t);
  if (isVisible())
    emit ThresholdShown(t);
  // At once, so that the preview follows a drag.
  repaint();
}

TStep TBinaryDlg::ChosenStep() const {
  return {TOperation::Binarize, ScrollBar1->value()};
}
