#include "Unit1.h"

TForm1* Form1 = nullptr;

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
  setupUi(this);
  // The stored window position; uic applies only the size.
  move(207, 124);
  Button1->setFocus();
}

TForm1::~TForm1() = default;

void TForm1::Button1Click() {}

void TForm1::Button3Click() {}

void TForm1::Button2Click() {}

void TForm1::Button4Click() {}

void TForm1::Button7Click() {}

void TForm1::Button5Click() {}

void TForm1::Button6Click() {}
