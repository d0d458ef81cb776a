#pragma once

#include <QWidget>

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

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
};

extern TForm1* Form1;
