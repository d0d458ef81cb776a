// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>
#include <algorithm>

// A number of a PNM header and the one separator after it, as the toolkit's reader takes them: a
// comment runs to the next line feed (a carriage return does not end it), and the separator is
// whitespace, since a comment right after the number would move the pixels on to the next line.
// False where the bytes end first or the header is not so. `next(char&)` reads one byte.
template <typename Next>
bool ReadPnmNumber(Next&& next, qint64& value) {
  const auto space = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
  };
  char c = 0;
  for (;;) {
    if (!next(c))
      return false;
    if (c == '#') {
      while (c != '\n')
        if (!next(c))
          return false;
    } else if (!space(c)) {
      break;
    }
  }
  if (c < '0' || c > '9')
    return false;
  value = 0;
  while (c >= '0' && c <= '9') {
    value = std::min<qint64>(value * 10 + (c - '0'), qint64{1} << 40);
    if (!next(c))
      return false;
  }
  return space(c);
}
