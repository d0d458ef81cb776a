// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <functional>
#include <memory>

#include "Bitmap.h"

// Holds at most one picture, always as a bitmap, and reports every change of it to its view. The
// bitmap is its own, or one that someone else owns and the holder shows (Bind).
class TPicture {
 public:
  TPicture() = default;
  ~TPicture();
  TPicture(const TPicture&) = delete;
  TPicture& operator=(const TPicture&) = delete;

  // The held bitmap; a picture that holds nothing gets a new, empty one. The holder owns it.
  TBitmap* Bitmap();
  // The held bitmap without creating one: nullptr while nothing is held.
  const TBitmap* Graphic() const { return bound_ != nullptr ? bound_ : bitmap_.get(); }

  // Replaces the held picture by an independent copy of `bitmap`; nullptr: by nothing (a bound
  // bitmap is emptied).
  void Assign(const TBitmap* bitmap);
  // Replaces the held picture by the one stored in the file. A file that cannot be read raises
  // an Exception before anything held changes.
  void LoadFromFile(const QString& fileName);

  void SetOnChange(std::function<void()> onChange);

  // Holds `bitmap`, owned elsewhere, instead of a bitmap of its own (nullptr: its own again): its
  // changes are reported, and Bitmap() and Graphic() give it. The owner keeps it until it is
  // unbound or the holder has gone.
  void Bind(TBitmap* bitmap);

 private:
  void Hold(TBitmap&& bitmap);

  std::unique_ptr<TBitmap> bitmap_;
  TBitmap* bound_ = nullptr;
  std::function<void()> onChange_;
};
