// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>
#include <memory>
#include <vector>

class Exception;
class QWidget;

// The application object: owns the toolkit and the program's forms, runs the message loop and
// shows failures.
class TApplication {
 public:
  TApplication();
  ~TApplication();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  // Prepares the toolkit. The command line is not handed to it: the program takes no options
  // but --help and --version (Options.h), not even the toolkit's own. Without a display it says
  // so on stderr, naming the program as it was run, and ends the process.
  void Initialize();

  // Constructs a form and stores it in *form. The first form created is the main window and is
  // shown by Run; the others stay hidden until shown.
  template <class TFormClass>
  void CreateForm(TFormClass** form) {
    auto* created = new TFormClass();
    *form = created;
    Adopt(created);
  }

  // Shows the main window and runs the message loop until it is closed, then destroys the forms.
  void Run();

  // A message box with the failure's text (stderr when there is no toolkit to show it with).
  void ShowException(const Exception* exception);

  // Destroys the forms, newest first, then the toolkit. Run ends with it.
  void Finalize();

  QWidget* MainForm() const { return forms_.empty() ? nullptr : forms_.front(); }

 private:
  void Adopt(QWidget* form);

  std::unique_ptr<QApplication> toolkit_;
  std::vector<QWidget*> forms_;
};

extern TApplication* const Application;

// The caption of the program's message boxes.
QString ApplicationTitle();
