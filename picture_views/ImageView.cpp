// SPDX-License-Identifier: GPL-3.0-or-later
#include "ImageView.h"

#include <QPaintEvent>
#include <QPainter>

#include "QImageBridge.h"

TImage::TImage(QWidget* parent) : QWidget(parent) {
  picture_.SetOnChange([this] { PictureChanged(); });
}

void TImage::SetStretch(bool stretch) {
  if (stretch_ == stretch)
    return;
  stretch_ = stretch;
  update();
}

void TImage::SetAutoSize(bool autoSize) {
  if (autoSize_ == autoSize)
    return;
  autoSize_ = autoSize;
  PictureChanged();
}

void TImage::PictureChanged() {
  const TBitmap* bitmap = picture_.Graphic();
  if (autoSize_ && bitmap != nullptr && !bitmap->Empty())
    resize(bitmap->Width(), bitmap->Height());
  update();
  emit Changed();
}

void TImage::paintEvent(QPaintEvent* event) {
  const TBitmap* bitmap = picture_.Graphic();
  if (bitmap == nullptr || bitmap->Empty())
    return;
  QPainter painter(this);
  if (stretch_) {
    const qreal ratio = devicePixelRatioF();
    QImage sampled = SampleBitmap(*bitmap, size() * ratio);
    sampled.setDevicePixelRatio(ratio);
    painter.drawImage(QPoint(0, 0), sampled);
    return;
  }
  const QRect shown = QRect(0, 0, bitmap->Width(), bitmap->Height()).intersected(event->rect());
  if (shown.isEmpty())
    return;
  painter.drawImage(shown.topLeft(), WrapBitmap(*bitmap, shown));
}
