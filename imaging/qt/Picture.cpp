#include "Picture.h"

#include "PictureFile.h"

TBitmap* TPicture::Bitmap() {
  if (!bitmap_) {
    bitmap_ = std::make_unique<TBitmap>();
    bitmap_->SetOnChange(onChange_);
  }
  return bitmap_.get();
}

void TPicture::Assign(const TBitmap* bitmap) {
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
}
