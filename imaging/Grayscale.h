// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

#include "Bitmap.h"

// The grey level of a colour: t = (R × 0.299 + G × 0.587) + B × 0.114, formed with a 64-bit
// significand as an x87 unit forms it, rounded to double, clamped to 0 … 255 and truncated.
// Every grey (v, v, v) gives exactly v.
std::uint8_t GreyLevel(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

// The same value from integer arithmetic alone: (299 R + 587 G + 114 B) / 1000, less one for the
// three colours where the extended-precision sum stays just below a whole number. What the fast
// kernels compute.
std::uint8_t GreyLevelInteger(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

// Makes `result` the grey image of `source`: the source's width and height, 8 bits per pixel,
// the grey palette. An 8-bit source is looked up in its palette (an index beyond a short palette
// takes the grey of the last colour found in this run, 255 before any); an 8-bit source without
// a palette is read as grey levels; a 24- or 32-bit source by each pixel's own colour (alpha is
// ignored). `result` may be `source` itself.
void ConvertToGrey(const TBitmap& source, TBitmap& result);

// The same for rows [first, last) only, into a `result` that already has the source's size, 8 bits
// per pixel and the grey palette: for a picture whose rows come one band after another. Bands
// converted in turn from the top give the bytes ConvertToGrey gives. `result` is not `source`.
void ConvertToGreyRows(const TBitmap& source, TBitmap& result, int first, int last);
