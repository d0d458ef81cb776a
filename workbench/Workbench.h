// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <optional>

#include "AutoThreshold.h"
#include "Bitmap.h"
#include "Commands.h"
#include "History.h"
#include "Measurement.h"

// What the window's commands work on: the main image and where it came from, the processed image
// with the chain that made it and its undo history, the threshold being tried and the method in
// force. Each command of the window is one call here; the forms only bind their widgets to it.
// The views show the two images in place and hear of every change of their pixels from them; what
// else changes is announced by signal.
class TWorkbench : public QObject {
  Q_OBJECT

 public:
  explicit TWorkbench(QObject* parent = nullptr);

  TBitmap& Main() { return main_; }
  const TBitmap& Main() const { return main_; }
  TBitmap& Processed() { return processed_; }
  const TBitmap& Processed() const { return processed_; }

  // The main image replaced by the picture in a file, or by a grabbed frame. A file that cannot be
  // read raises PictureFileError and changes nothing.
  void OpenFile(const QString& fileName);
  void TakeFrame(TBitmap&& frame);

  // Runs a step on the images as its operation says (grey, edges), for undo and in the chain.
  // Raises an Exception, changing nothing, where the operation does not take the picture.
  void Run(const TStep& step);

  // Binarize, tried before it is applied. Begin fills an empty processed image from the main one
  // (a change of its own, which Cancel keeps) and starts trying thresholds on the image to
  // threshold: the slider's (Try), a method's (TryMethod, TakeThreshold), the method in force
  // applied anew to the new picture. Accept applies the threshold being tried; Cancel leaves the
  // image as Begin left it.
  void BeginBinarize();
  void TryThreshold(int threshold);
  // Moves the threshold to the method's on the image to threshold and puts the method in force;
  // false, changing nothing, where the method gives none.
  bool TryMethod(TThresholdMethod method);
  // A threshold a method gave (1 … 256), perhaps on another picture: in force only where the
  // method gives the same on this one.
  void TakeThreshold(TThresholdMethod method, int threshold);
  void AcceptBinarize();
  void CancelBinarize();
  bool Binarizing() const { return binarizing_; }
  // The threshold being tried, within binarize's range; it stays from one use to the next.
  int TriedThreshold() const { return tried_; }
  // The method last chosen in this run.
  std::optional<TThresholdMethod> ChosenMethod() const { return chosen_; }
  // The method last chosen while the threshold still stands where it put it.
  std::optional<TThresholdMethod> MethodInForce() const;
  // The step the threshold being tried stands for: by the method in force, else the number.
  TStep TriedStep() const;
  // The image binarize works on, and what the methods see of it.
  const TBitmap& ImageToThreshold() const;
  const THistogram::Counts& ThresholdedHistogram() const;

  bool CanUndo() const { return history_.CanUndo(); }
  bool CanRedo() const { return history_.CanRedo(); }
  void Undo();
  void Redo();

  // The steps that made the processed image from the main image.
  const TChain& ProcessedChain() const { return made_.chain; }
  // What the live camera view runs on every frame: the processed image's chain (grey alone while
  // it has none), with a binarize step at the threshold being tried while binarize is tried.
  TChain LiveChain() const;
  // The command line that makes the processed image from the main image's file ("INPUT.png" for
  // a grabbed frame); empty while the processed image is empty or was made from another main
  // image than the one on show.
  QString ProcessedCommand() const;

  // How objects are measured, in the window and live: the options chosen and the scale set, which
  // hold for the rest of the run.
  const TMeasureOptions& MeasureOptions() const { return measure_; }
  // The options but the scale, which stays.
  void SetMeasureOptions(const TMeasureOptions& options);
  // Length units per pixel and the unit's name; an empty unit: pixels again.
  void SetScale(double unitsPerPixel, const QString& unit);

 signals:
  // Binarize is about to be tried on ImageToThreshold(): what shows it gets ready (and may fail,
  // which ends the command).
  void BinarizeBegins();
  // The threshold being tried was set, whether binarize is tried or not.
  void ThresholdTried(int threshold);
  // While binarize is tried: its threshold, at the start and at every change; none at the end.
  void TrialChanged(std::optional<int> threshold);
  void LiveChainChanged();
  void MeasureOptionsChanged();

 private:
  void RefuseUnlessTaken(const TStep& step) const;
  // Fills an empty processed image from the main one where the step's operation does; whether it
  // did.
  bool Fill(const TStep& step);
  // Runs `run`, noting `noted` in the chain (the same step, or binarize by its method).
  void Apply(const TStep& run, const TStep& noted, bool filled);
  void SetTried(int threshold, bool byMethod);
  void EndBinarize();
  void MainReplaced(const QString& fileName);
  void Changed();

  TBitmap main_;
  TBitmap processed_;
  TProvenance made_;
  TUndoHistory history_;
  std::uint64_t mainSource_ = 0;  // counts the main images
  QString mainFile_;              // the file the main image came from, or empty

  int tried_;
  bool binarizing_ = false;
  bool filled_ = false;
  std::optional<TThresholdMethod> chosen_;
  bool inForce_ = false;
  TMeasureOptions measure_;
  // Counted once for each picture binarize is tried on.
  mutable std::optional<THistogram::Counts> histogram_;
};
