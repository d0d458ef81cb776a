// SPDX-License-Identifier: GPL-3.0-or-later
#include "Workbench.h"

#include <algorithm>
#include <cmath>

#include "Exception.h"
#include "PictureFile.h"

namespace {

const TParameterInfo& ThresholdRange() {
  return *OperationInfo(TOperation::Binarize).parameter;
}

}  // namespace

TWorkbench::TWorkbench(QObject* parent) : QObject(parent), tried_(ThresholdRange().initial) {
  setObjectName(QStringLiteral("Workbench"));
}

void TWorkbench::OpenFile(const QString& fileName) {
  main_.Assign(LoadPictureFile(fileName));
  MainReplaced(fileName);
}

void TWorkbench::TakeFrame(TBitmap&& frame) {
  main_.Assign(std::move(frame));
  MainReplaced({});
}

void TWorkbench::MainReplaced(const QString& fileName) {
  ++mainSource_;
  mainFile_ = fileName;
  histogram_.reset();
}

void TWorkbench::RefuseUnlessTaken(const TStep& step) const {
  if (const char* refusal = StepRefusal(step, main_, processed_))
    throw Exception(QString::fromUtf8(refusal));
}

bool TWorkbench::Fill(const TStep& step) {
  if (OperationInfo(step.operation).input != TInput::ProcessedOrMain || !processed_.Empty() ||
      main_.Empty())
    return false;
  // Filling the processed image is a change of its own: undo takes it back.
  history_.Record(processed_, made_);
  processed_.Assign(main_);
  made_ = {{}, mainSource_};
  return true;
}

void TWorkbench::Apply(const TStep& run, const TStep& noted, bool filled) {
  const TInput input = OperationInfo(run.operation).input;
  // An operation on the processed image alone changes nothing while it is empty.
  const bool changes = input != TInput::Processed || !processed_.Empty();
  if (changes && !filled)
    history_.Record(processed_, made_);
  RunStep(run, main_, processed_);
  // An operation reading the main image starts the chain anew.
  if (input == TInput::Main)
    made_ = {{noted}, mainSource_};
  else if (changes)
    made_.chain.push_back(noted);
  Changed();
}

void TWorkbench::Run(const TStep& step) {
  RefuseUnlessTaken(step);
  Apply(step, step, Fill(step));
}

void TWorkbench::Changed() {
  histogram_.reset();
  emit LiveChainChanged();
}

void TWorkbench::BeginBinarize() {
  if (binarizing_)
    return;
  const TStep binarize{TOperation::Binarize};
  RefuseUnlessTaken(binarize);
  filled_ = Fill(binarize);
  histogram_.reset();
  emit BinarizeBegins();
  binarizing_ = true;
  // A method in force when binarize last ended applies anew, as if chosen again.
  if (chosen_ && inForce_ && !TryMethod(*chosen_))
    inForce_ = false;
  emit TrialChanged(tried_);
  emit LiveChainChanged();
}

void TWorkbench::SetTried(int threshold, bool byMethod) {
  // T = 256 (every byte below it) lies beyond the range; 255 leaves only the bytes 255 white, the
  // nearest it holds.
  const int clamped = std::clamp(threshold, ThresholdRange().minimum, ThresholdRange().maximum);
  if (!byMethod && clamped != tried_)
    inForce_ = false;
  tried_ = clamped;
  emit ThresholdTried(tried_);
  if (binarizing_) {
    emit TrialChanged(tried_);
    emit LiveChainChanged();
  }
}

void TWorkbench::TryThreshold(int threshold) {
  SetTried(threshold, false);
}

bool TWorkbench::TryMethod(TThresholdMethod method) {
  const std::optional<int> threshold = AutoThreshold(method, ThresholdedHistogram());
  if (!threshold)
    return false;
  chosen_ = method;
  inForce_ = true;
  SetTried(*threshold, true);
  return true;
}

void TWorkbench::TakeThreshold(TThresholdMethod method, int threshold) {
  if (AutoThreshold(method, ThresholdedHistogram()) == threshold) {
    TryMethod(method);
    return;
  }
  // A threshold from another picture: a number only.
  inForce_ = false;
  SetTried(threshold, true);
}

std::optional<TThresholdMethod> TWorkbench::MethodInForce() const {
  return inForce_ ? chosen_ : std::nullopt;
}

TStep TWorkbench::TriedStep() const {
  // By the method only where it gives the very threshold being tried: the range stops at 255, a
  // method may say 256.
  const std::optional<TThresholdMethod> method = MethodInForce();
  if (method && AutoThreshold(*method, ThresholdedHistogram()) == tried_)
    return {TOperation::Binarize, tried_, method};
  return {TOperation::Binarize, tried_};
}

void TWorkbench::AcceptBinarize() {
  if (!binarizing_)
    return;
  const TStep tried = TriedStep();
  EndBinarize();
  Apply({TOperation::Binarize, tried.threshold}, tried, filled_);
}

void TWorkbench::CancelBinarize() {
  if (binarizing_)
    EndBinarize();
}

void TWorkbench::EndBinarize() {
  binarizing_ = false;
  emit TrialChanged(std::nullopt);
  Changed();
}

const TBitmap& TWorkbench::ImageToThreshold() const {
  return ::ImageToThreshold(main_, processed_);
}

const THistogram::Counts& TWorkbench::ThresholdedHistogram() const {
  if (!histogram_)
    histogram_ = ThresholdHistogram(ImageToThreshold());
  return *histogram_;
}

void TWorkbench::Undo() {
  history_.Undo(processed_, made_);
  Changed();
}

void TWorkbench::Redo() {
  history_.Redo(processed_, made_);
  Changed();
}

TChain TWorkbench::LiveChain() const {
  TChain chain = made_.chain;
  if (binarizing_)
    chain.push_back(TriedStep());
  else if (chain.empty())
    chain.push_back({TOperation::Grey});
  return chain;
}

QString TWorkbench::ProcessedCommand() const {
  if (processed_.Empty() || made_.source != mainSource_)
    return {};
  // A grabbed frame is not a file yet: the operator saves it under the name the line gives.
  const QString input = mainFile_.isEmpty() ? QStringLiteral("INPUT.png") : mainFile_;
  return QString::fromStdString(ChainCommand(made_.chain, input.toStdString(), "OUTPUT.png"));
}

void TWorkbench::SetMeasureOptions(const TMeasureOptions& options) {
  const double scale = measure_.scale;
  std::string unit = measure_.unit;
  measure_ = options;
  measure_.scale = scale;
  measure_.unit = std::move(unit);
  emit MeasureOptionsChanged();
}

void TWorkbench::SetScale(double unitsPerPixel, const QString& unit) {
  const bool scaled = !unit.isEmpty() && std::isfinite(unitsPerPixel) && unitsPerPixel > 0;
  measure_.scale = scaled ? unitsPerPixel : 1;
  measure_.unit = scaled ? unit.toStdString() : std::string();
  emit MeasureOptionsChanged();
}
