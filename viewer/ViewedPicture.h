// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ImageView.h"

// The picture an image view holds, or nullptr while it holds none or the view is gone.
inline const TBitmap* ViewedPicture(const TImage* view) {
  if (view == nullptr)
    return nullptr;
  const TBitmap* bitmap = view->Picture()->Graphic();
  return bitmap != nullptr && !bitmap->Empty() ? bitmap : nullptr;
}
