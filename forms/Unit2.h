#pragma once

#include <QDialog>

#include "Commands.h"
#include "ui_Unit2.h"

// The threshold dialog: a stretched preview, a slider 0 … 255 and its read-out. The binarize
// command fills the preview, shows the dialog modally and applies the slider's position after OK.
class TBinaryDlg : public QDialog, public Ui::TBinaryDlg {
  Q_OBJECT

 public:
  // The results a closed dialog reports.
  static constexpr int mrOk = 1;
  static constexpr int mrCancel = 2;

  explicit TBinaryDlg(QWidget* parent = nullptr);
  ~TBinaryDlg() override;

  // Shows the dialog centred on the screen and returns once it has closed, with its ModalResult.
  int ShowModal();
  // 1 after OK, 2 after Cancel, Esc or the close box; readable after the dialog has closed.
  int ModalResult() const { return result(); }
  // The binarize step the slider stands for.
  TStep ChosenStep() const;

 signals:
  // The threshold on show: as the dialog opens, and at every move of the slider.
  void ThresholdShown(int threshold);
  // The dialog has closed.
  void ThresholdHidden();

 public slots:
  void ScrollBar1Change();
  void reject() override;

 private slots:
  void OKBtnClick();
  void CancelBtnClick();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void CentreOnScreen();
};

extern TBinaryDlg* BinaryDlg;
