#pragma once

#include <QWidget>

#include "Commands.h"
#include "History.h"
#include "OpenPictureDialog.h"
#include "ui_Unit1.h"

// The main window: acquisition buttons, camera panel, main and processed image views. The
// layout lives in Unit1.ui; the handlers pick the images from the components and call the
// imaging and acquisition code.
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
  // Loads a picture file into the main image, as a confirmed open dialog or a dropped file does.
  void OpenPictureFile(const QString& fileName);

  // The steps that made the processed image from the main image.
  const TChain& ProcessedChain() const { return made_.chain; }
  // What the live camera view runs on every frame: the processed image's chain (grey alone while
  // it has none), with a binarize step at the slider's value while the threshold dialog is open.
  TChain LiveChain() const;

  // The processed image's context menu: undo and redo of the commands on it, and the command
  // line that makes it from the picture on show in the main image.
  bool CanUndo() const { return history_.CanUndo(); }
  bool CanRedo() const { return history_.CanRedo(); }
  void Undo();
  void Redo();
  // Empty while the processed image is empty or was made from another main image than the one
  // on show.
  QString ProcessedCommand() const;
  void CopyProcessedCommand() const;

 signals:
  void LiveChainChanged();

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // Before a command changes the processed image.
  void Record();
  // The main image has been replaced: a file's picture (its name) or a frame (no name).
  void MainReplaced(const QString& fileName);

  TProvenance made_;
  TUndoHistory history_;
  std::uint64_t mainSource_ = 0;  // counts the main images
  QString mainFile_;              // the file the main image came from, or empty
};

extern TForm1* Form1;
