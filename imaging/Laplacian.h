// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Bitmap.h"

// Replaces the bitmap by its edge image: 8 × centre minus the eight neighbours, the picture
// wrapping around at its borders, clamped to 0 … 255, every output from the picture as it was
// before. Each colour channel is filtered on its own; alpha bytes are left as they are.
void Laplacian(TBitmap& bitmap);
