// SPDX-License-Identifier: GPL-3.0-or-later
#include "Picture.h"

#include "PictureFile.h"

TPicture::~TPicture() {
  // The bound bitmap outlives its view, which must hear of it no more.
  if (bound_ != nullptr)
    bound_->SetOnChange({});
}

TBitmap* TPicture::Bitmap() {
  if (bound_ != nullptr)
    return bound_;
  if (!bitmap_) {
    bitmap_ = std::make_unique<TBitmap>();
    bitmap_->SetOnChange(onChange_);
  }
  return bitmap_.get();
}

void TPicture::Assign(const TBitmap* bitmap) {
  if (bitmap == nullptr && bound_ != nullptr) {
    bound_->Assign(TBitmap());
    return;
  }
  if (bitmap == nullptr) {
    bitmap_.reset();
    if (onChange_)
      onChange_();
    return;
  }
  Bitmap()->Assign(*bitmap);
}

void TPicture::LoadFromFile(const QString& fileName) {
  Hold(LoadPictureFile(fileName));
}

void TPicture::Hold(TBitmap&& bitmap) {
  Bitmap()->Assign(std::move(bitmap));
}

void TPicture::SetOnChange(std::function<void()> onChange) {
  onChange_ = std::move(onChange);
  if (bitmap_)
    bitmap_->SetOnChange(onChange_);
  if (bound_ != nullptr)
    bound_->SetOnChange(onChange_);
}

void TPicture::Bind(TBitmap* bitmap) {
  if (bitmap == bound_)
    return;
  if (bound_ != nullptr)
    bound_->SetOnChange({});
  bitmap_.reset();
  bound_ = bitmap;
  if (bound_ != nullptr)
    bound_->SetOnChange(onChange_);
  if (onChange_)
    onChange_();
}
