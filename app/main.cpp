// SPDX-License-Identifier: GPL-3.0-or-later
#include "Application.h"
#include "Exception.h"
#include "Options.h"
#include "Unit1.h"
#include "Unit2.h"

int main(int argc, char** argv) {
  if (const std::optional<int> status = HandleCommandLine(argc, argv))
    return *status;
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
