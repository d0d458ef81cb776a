// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Bitmap.h"

// Gives the bitmap the clipboard's picture: its size, its depth as handed over (whatever depth
// the bitmap had before), its palette and pixels. Raises an Exception, leaving the bitmap as it
// was, when the clipboard holds no picture or one that cannot be read.
void AssignClipboardPicture(TBitmap* bitmap);
