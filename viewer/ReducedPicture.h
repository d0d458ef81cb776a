// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QRect>
#include <map>
#include <utility>

#include "Bitmap.h"

// The picture reduced by `factor` (a power of two, 2 … 128) for drawing it small: each pixel the
// average colour of the factor × factor pixels it stands for (fewer at the right and bottom
// edges). RGB32, or premultiplied ARGB32 for a picture with alpha.
QImage ReduceBitmap(const TBitmap& bitmap, int factor);

// The part `rect` of the picture in the form the toolkit scales smoothly fastest: RGB32, or
// premultiplied ARGB32 for a picture with alpha.
QImage Rgb32Part(const TBitmap& bitmap, const QRect& rect);

// The reduced copies of one picture, each made on first use after the picture last changed. A
// smaller copy is made from the next larger one when that exists, which costs a quarter of it.
class TReducedPicture {
 public:
  static constexpr int MaxFactor = 128;

  void Clear() { levels_.clear(); }
  const QImage& Level(const TBitmap& bitmap, int factor);
  // A copy made elsewhere for the same picture; factor 1 holds the whole picture in RGB32.
  void Adopt(int factor, QImage level) { levels_[factor] = std::move(level); }
  const QImage* Find(int factor) const {
    const auto found = levels_.find(factor);
    return found == levels_.end() ? nullptr : &found->second;
  }

 private:
  std::map<int, QImage> levels_;
};
