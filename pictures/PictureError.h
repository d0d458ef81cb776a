// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSize>
#include <QString>

#include "Exception.h"

// Why a picture could not be read or written.
enum class PictureFault {
  NotFound,            // no such file
  NotRegularFile,      // a folder, named pipe, socket or device
  NoPermission,        // the file or its folder may not be read or written
  NotAPicture,         // no picture format this program reads
  EmptyFile,           // nothing in it at all
  Damaged,             // cut short or corrupt: the file does not hold what its header promises
  TooLarge,            // declared size beyond kMaxPictureSide x kMaxPictureSide
  UnsupportedSamples,  // samples of a kind the image model cannot hold (Number(): bits, if known)
  UnsupportedColours,  // a colour model the program cannot convert (Detail(): its name)
  ReadError,           // the system failed to read it (Detail(): the system's reason)
  OutOfMemory,         // the picture fits the limits but not into memory
  TooManyScans,        // a progressive picture of more scans than Number() (too long to decode)
  NoFolder,            // the folder to write into does not exist (Detail(): the folder)
  CannotWrite,         // the target could not be written (Detail(): the system's reason)
  DiskFull,            // no space left for the file (Detail(): the system's reason)
  UnsupportedSaveFormat,
  NothingToSave,
};

// What was being done when it failed.
enum class PictureAction { Open, Save };

// A failure to read or write a picture. It carries what failed, the file (empty for pictures
// handed over in memory) and the reason as separate fields, so that each place that reports it
// composes its own sentence; Message() is the main window's.
class PictureFileError : public Exception {
 public:
  PictureFileError(PictureAction action, QString fileName, PictureFault fault, QString detail = {},
                   QSize declared = {}, int number = 0);

  PictureAction Action() const { return action_; }
  const QString& FileName() const { return fileName_; }
  PictureFault Fault() const { return fault_; }
  // The system's words for a system failure, the name of an unsupported colour model.
  const QString& Detail() const { return detail_; }
  // For TooLarge: the size the picture declares, when known.
  QSize Declared() const { return declared_; }
  // For UnsupportedSamples: the bits per sample, when that is what is unsupported; for
  // TooManyScans: the most scans read.
  int Number() const { return number_; }

 private:
  PictureAction action_;
  QString fileName_;
  PictureFault fault_;
  QString detail_;
  QSize declared_;
  int number_;
};

// The reason in the words of the user interface, without the file: "圖檔已損毀或不完整。"
QString PictureFailureReason(const PictureFileError& error);
// The same reason in the language of the translators installed, English without one, for the
// command line: "the picture is damaged or incomplete".
QString PictureFailureReasonInLocale(const PictureFileError& error);
// Installs the Traditional Chinese of those reasons, for a program that speaks the user's language.
void InstallPictureFailureLanguage();

// The sentence a message box shows: what failed, the file and the reason; the reason alone for a
// picture without a file.
QString PictureFailureSentence(const PictureFileError& error);
