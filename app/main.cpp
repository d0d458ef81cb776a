#include "Application.h"
#include "Exception.h"
#include "Unit1.h"
#include "Unit2.h"

int main(int, char**) {
  try {
    Application->Initialize();
    Application->CreateForm(&Form1);
    Application->CreateForm(&BinaryDlg);
    Application->Run();
  } catch (const Exception& exception) {
    Application->ShowException(&exception);
  } catch (...) {
    const Exception exception(QString{});
    Application->ShowException(&exception);
  }
  return 0;
}
