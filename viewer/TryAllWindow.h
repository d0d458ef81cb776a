// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QPointer>
#include <QWidget>
#include <optional>
#include <vector>

#include "AutoThreshold.h"
#include "ImageView.h"

// One method's part of "try all": its threshold on the whole picture, and a small copy of the
// picture thresholded there (none where the method gives no threshold).
struct TTryAllResult {
  TThresholdMethod method;
  std::optional<int> threshold;
  QImage picture;
};

// Every method on `picture`, in ImageJ's order: the thresholds from the whole picture's histogram,
// the copies thresholded from one nearest-neighbour sample of it that fits `size`.
std::vector<TTryAllResult> TryAllThresholds(const TBitmap& picture, QSize size);

// One method's picture captioned with its name and threshold; a click on it chooses the threshold.
class TTryAllTile : public QWidget {
  Q_OBJECT

 public:
  explicit TTryAllTile(QWidget* parent = nullptr);

  void Show(TTryAllResult result);
  TThresholdMethod Method() const { return result_.method; }
  std::optional<int> Threshold() const { return result_.threshold; }
  QString Caption() const;
  const QImage& Picture() const { return result_.picture; }

  QSize sizeHint() const override;

 signals:
  void Clicked(TThresholdMethod method, int threshold);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  TTryAllResult result_{TThresholdMethod::Default, std::nullopt, QImage()};
  bool hovered_ = false;
};

// "全部試試": an image view's picture thresholded by every automatic method side by side, 4 × 4,
// each captioned with its method and threshold. It follows the view's picture.
class TTryAllWindow : public QWidget {
  Q_OBJECT

 public:
  static constexpr int Columns = 4;
  // The copies the tiles show are sampled to fit this, about twice a tile's size on screen.
  static constexpr QSize SampleSize{480, 360};

  TTryAllWindow(TImage* view, const QString& title, QWidget* parent = nullptr);
  ~TTryAllWindow() override;

  const std::vector<TTryAllTile*>& Tiles() const { return tiles_; }

 signals:
  // A tile was clicked: its method and threshold (1 … 256).
  void ThresholdChosen(TThresholdMethod method, int threshold);

 private:
  void PictureChanged();

  QPointer<TImage> view_;
  std::vector<TTryAllTile*> tiles_;
};
