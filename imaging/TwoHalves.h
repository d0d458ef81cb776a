// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "Bitmap.h"

// Below this a picture is worked on in one piece: starting a thread costs tens of microseconds.
inline constexpr std::size_t kSplitBytes = std::size_t{4} << 20;

// Whether InTwoHalves splits a picture of `rows` rows and `bytes` bytes.
inline bool SplitsInTwo(int rows, std::size_t bytes) {
  // Asked once: the standard library reads it from the system on every call.
  static const bool twoCores = std::thread::hardware_concurrency() >= 2;
  return rows >= 2 && bytes >= kSplitBytes && twoCores;
}

// The bytes of a picture's pixels, as InTwoHalves judges it.
inline std::size_t PixelBytes(const TBitmap& bitmap) {
  return bitmap.RowBytes() * static_cast<std::size_t>(bitmap.Height());
}

// Rows [first, last) of a picture that InTwoHalves splits, clipped to the picture, as they are
// now, RowBytes() each one after another: the rows a band reads beyond its own, which the other
// band may overwrite before it gets there. None where the picture is worked on in one piece.
inline std::vector<std::uint8_t> RowsAsTheyWere(const TBitmap& bitmap, int first, int last) {
  std::vector<std::uint8_t> rows;
  if (!SplitsInTwo(bitmap.Height(), PixelBytes(bitmap)))
    return rows;
  first = std::max(first, 0);
  last = std::min(last, bitmap.Height());
  const std::size_t count = bitmap.RowBytes();
  rows.resize(static_cast<std::size_t>(std::max(last - first, 0)) * count);
  for (int i = first; i < last; ++i)
    std::copy_n(bitmap.ScanLine(i), count,
                rows.data() + static_cast<std::size_t>(i - first) * count);
  return rows;
}

// Runs first() on a thread of its own and second() here, at once where `atOnce`, else or where no
// thread can be started one after the other. A failure in either is thrown here once both have
// ended.
template <class First, class Second>
void BothAtOnce(bool atOnce, First first, Second second) {
  if (!atOnce) {
    first();
    second();
    return;
  }
  std::exception_ptr firstFailure;
  std::optional<std::thread> helper;
  try {
    helper.emplace([&] {
      try {
        first();
      } catch (...) {
        firstFailure = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    first();
  }
  std::exception_ptr secondFailure;
  try {
    second();
  } catch (...) {
    secondFailure = std::current_exception();
  }
  if (helper)
    helper->join();
  if (firstFailure)
    std::rethrow_exception(firstFailure);
  if (secondFailure)
    std::rethrow_exception(secondFailure);
}

// Runs work(first, last) over the rows [0, rows): as two halves at once, [0, rows / 2) on a
// thread of its own, where SplitsInTwo; in one piece otherwise. Where no thread can be started
// the halves run one after the other. A failure in either half is thrown here once both have
// ended.
template <class Work>
void InTwoHalves(int rows, std::size_t bytes, Work work) {
  if (!SplitsInTwo(rows, bytes)) {
    work(0, rows);
    return;
  }
  const int middle = rows / 2;
  BothAtOnce(
      true, [&] { work(0, middle); }, [&] { work(middle, rows); });
}
