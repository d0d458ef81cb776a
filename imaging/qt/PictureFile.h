#pragma once

#include <QString>

#include "Bitmap.h"

// Reads a picture file into a bitmap. A file that cannot be read completely and correctly raises
// an Exception whose text names the file and the reason.
TBitmap LoadPictureFile(const QString& fileName);
