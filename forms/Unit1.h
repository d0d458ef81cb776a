#pragma once

#include <QWidget>

#include "Commands.h"
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
  const TChain& ProcessedChain() const { return chain_; }
  // What the live camera view runs on every frame: the processed image's chain (grey alone while
  // it has none), with a binarize step at the slider's value while the threshold dialog is open.
  TChain LiveChain() const;

 signals:
  void LiveChainChanged();

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  TChain chain_;
};

extern TForm1* Form1;
