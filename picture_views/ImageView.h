// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include "Picture.h"

// An image view: shows its picture at its own size from the top-left corner, clipped to the view,
// or scaled to fill the view when stretched. It paints only what it shows, so a repaint costs the
// same for a 24-megapixel picture as for a small one.
class TImage : public QWidget {
  Q_OBJECT
  Q_PROPERTY(bool Stretch READ Stretch WRITE SetStretch)
  Q_PROPERTY(bool AutoSize READ AutoSize WRITE SetAutoSize)

 public:
  explicit TImage(QWidget* parent = nullptr);

  TPicture* Picture() { return &picture_; }
  const TPicture* Picture() const { return &picture_; }

  bool Stretch() const { return stretch_; }
  void SetStretch(bool stretch);
  bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool autoSize);

 signals:
  // After every change of the picture; windows showing it too follow it by this.
  void Changed();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void PictureChanged();

  TPicture picture_;
  bool stretch_ = false;
  bool autoSize_ = false;
};
