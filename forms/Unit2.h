#pragma once

#include <QDialog>
#include <optional>

#include "AutoThreshold.h"
#include "Commands.h"
#include "ui_Unit2.h"

class TThresholdMethodMenu;

// The threshold dialog: a stretched preview, a slider 0 … 255 and its read-out. The binarize
// command fills the preview, shows the dialog modally and applies the slider's position after OK.
// Its context menu (on the dialog and on the slider) "自動門檻" moves the slider to the threshold
// an automatic method gives on the picture being thresholded.
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
  // The binarize step the slider stands for: by the method in force, else at its threshold.
  TStep ChosenStep();

  // Moves the slider to the method's threshold on the picture being thresholded, as the menu does;
  // false, leaving the slider alone, where the method gives none.
  bool ChooseMethod(TThresholdMethod method);
  // Moves the slider to a threshold a method gave (1 … 256); the method is in force when it gives
  // the same threshold on the picture being thresholded.
  void TakeThreshold(TThresholdMethod method, int threshold);
  // The method last chosen in this run, checked in the menu.
  std::optional<TThresholdMethod> ChosenMethod() const { return chosen_; }
  // The method last chosen while the slider still stands where it put it.
  std::optional<TThresholdMethod> MethodInForce() const;
  // The menu as it pops up now, its entries showing the picture's thresholds.
  TThresholdMethodMenu* MethodMenu();
  // "全部試試…" of the menu: the viewer's window of the picture being thresholded, whose clicks
  // move the slider.
  void OpenTryAll();

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
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void CentreOnScreen();
  // What the methods see of the picture being thresholded, counted once per opening.
  // The view holding the picture being thresholded: the processed image, or the main one while
  // the processed one is empty.
  TImage* SourceView() const;
  const THistogram::Counts& SourceHistogram();
  void MoveSliderTo(int threshold);

  TThresholdMethodMenu* methodMenu_;
  std::optional<THistogram::Counts> histogram_;
  std::optional<TThresholdMethod> chosen_;
  bool inForce_ = false;
  bool movingByMethod_ = false;
};

extern TBinaryDlg* BinaryDlg;
