// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointer>
#include <QWidget>

class QAction;
class QMenu;

#include "Commands.h"
#include "MeasureWindow.h"
#include "OpenPictureDialog.h"
#include "Workbench.h"
#include "ui_Unit1.h"

// The main window: acquisition buttons, camera panel, main and processed image views. The
// layout lives in Unit1.ui; the views show the workbench's images, and each handler is a call on
// the workbench or the acquisition code.
class TForm1 : public QWidget, public Ui::TForm1 {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // Not a visible component: the picture open dialog the open-file command runs.
  TOpenPictureDialog* OpenPictureDialog1;

 public slots:
  void Button1Click();
  void Button3Click();
  void Button2Click();
  void Button4Click();
  void Button7Click();
  void Button5Click();
  void Button6Click();

 public:
  // What the commands work on; Image1 and Image2 show its two images.
  TWorkbench* Workbench() const { return workbench_; }

  // Loads a picture file into the main image, as a confirmed open dialog or a dropped file does.
  void OpenPictureFile(const QString& fileName);

  // The workbench's, for those who know the window only.
  const TChain& ProcessedChain() const { return workbench_->ProcessedChain(); }
  TChain LiveChain() const { return workbench_->LiveChain(); }

  // The processed image's context menu: undo and redo of the commands on it, and the command
  // line that makes it from the picture on show in the main image.
  bool CanUndo() const { return workbench_->CanUndo(); }
  bool CanRedo() const { return workbench_->CanRedo(); }
  void Undo() { workbench_->Undo(); }
  void Redo() { workbench_->Redo(); }
  QString ProcessedCommand() const { return workbench_->ProcessedCommand(); }
  void CopyProcessedCommand() const;

  // "量測…" (M in the processed image's viewer): the processed image's objects in a window of
  // their own, outlined in its viewer.
  TMeasureWindow* OpenMeasureWindow();
  TMeasureWindow* MeasureWindow() const { return measureWindow_; }

 signals:
  // The workbench's, passed on.
  void LiveChainChanged();

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void AddOperationMenus(QMenu* menu, QAction* before);

  TWorkbench* workbench_;
  QPointer<TMeasureWindow> measureWindow_;
};

extern TForm1* Form1;
