#pragma once

#include <QString>
#include <functional>
#include <memory>

#include "Bitmap.h"

// Holds at most one picture, always as a bitmap, and reports every change of it to its view.
class TPicture {
 public:
  TPicture() = default;
  TPicture(const TPicture&) = delete;
  TPicture& operator=(const TPicture&) = delete;

  // The held bitmap; a picture that holds nothing gets a new, empty one. The holder owns it.
  TBitmap* Bitmap();
  // The held bitmap without creating one: nullptr while nothing is held.
  const TBitmap* Graphic() const { return bitmap_.get(); }

  // Replaces the held picture by an independent copy of `bitmap`.
  void Assign(const TBitmap* bitmap);
  // Replaces the held picture by the one stored in the file. A file that cannot be read raises
  // an Exception before anything held changes.
  void LoadFromFile(const QString& fileName);

  void SetOnChange(std::function<void()> onChange);

 private:
  void Hold(TBitmap&& bitmap);

  std::unique_ptr<TBitmap> bitmap_;
  std::function<void()> onChange_;
};
