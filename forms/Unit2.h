// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <optional>

#include "AutoThreshold.h"
#include "Commands.h"
#include "ui_Unit2.h"

class TThresholdMethodMenu;
class TWorkbench;

// The threshold dialog: a stretched preview, a slider over binarize's range and its read-out,
// bound to the main window's workbench: the slider edits the threshold being tried and follows
// it, the preview shows it on the picture being thresholded. The binarize command shows the dialog
// modally and applies the threshold after OK. Its context menu (on the dialog and on the slider)
// "自動門檻" moves the threshold to the one an automatic method gives on that picture.
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
  // The workbench whose threshold the dialog shows and edits: the main window's when there is
  // one as the dialog is made, else one of its own until the main window binds it.
  TWorkbench* Workbench() const { return workbench_; }
  void Bind(TWorkbench* workbench);

  // The workbench's, for those who know the dialog only: the binarize step the slider stands for,
  // the method's threshold tried (false, leaving the slider alone, where it gives none), a
  // threshold a method gave, the method last chosen (checked in the menu) and the one in force.
  TStep ChosenStep() const;
  bool ChooseMethod(TThresholdMethod method);
  void TakeThreshold(TThresholdMethod method, int threshold);
  std::optional<TThresholdMethod> ChosenMethod() const;
  std::optional<TThresholdMethod> MethodInForce() const;
  // The menu as it pops up now, its entries showing the picture's thresholds.
  TThresholdMethodMenu* MethodMenu();
  // "全部試試…" of the menu: the viewer's window of the picture being thresholded, whose clicks
  // move the slider.
  void OpenTryAll();

 signals:
  // The workbench's threshold being tried, passed on: as binarize starts and at every move.
  void ThresholdShown(int threshold);
  // Binarize has ended.
  void ThresholdHidden();

 public slots:
  void ScrollBar1Change();
  void reject() override;

 private slots:
  void OKBtnClick();
  void CancelBtnClick();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void CentreOnScreen();
  // The picture to threshold, unthresholded, as binarize starts.
  void FillPreview();
  // The slider, its read-out and the preview at the threshold being tried.
  void ShowThreshold(int threshold);

  // The main window outlives the dialog: forms go newest first.
  TWorkbench* workbench_ = nullptr;
  TThresholdMethodMenu* methodMenu_;
};

extern TBinaryDlg* BinaryDlg;
