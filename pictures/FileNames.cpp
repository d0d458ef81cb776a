// SPDX-License-Identifier: GPL-3.0-or-later
#include "FileNames.h"

namespace {

constexpr char16_t kKeptByte = 0xDC00;

// The length of the well-formed UTF-8 sequence at the start of `bytes`, 0 if there is none
// (Unicode's table of well-formed sequences: no overlong forms, no surrogates, nothing past
// U+10FFFF).
qsizetype SequenceLength(QByteArrayView bytes) {
  const auto at = [&](qsizetype i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = at(0);
  if (lead < 0x80)
    return 1;
  qsizetype length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  if (bytes.size() < length || at(1) < low || at(1) > high)
    return 0;
  for (qsizetype i = 2; i < length; ++i)
    if (at(i) < 0x80 || at(i) > 0xBF)
      return 0;
  return length;
}

bool IsKeptByte(QStringView name, qsizetype i) {
  const char16_t c = name[i].unicode();
  return c >= kKeptByte + 0x80 && c <= kKeptByte + 0xFF &&
         (i == 0 || !name[i - 1].isHighSurrogate());
}

// Runs `text` over each stretch of ordinary characters and `byte` over each kept byte.
template <class Text, class Byte>
void ForEachPart(const QString& name, Text&& text, Byte&& byte) {
  qsizetype start = 0;
  for (qsizetype i = 0; i < name.size(); ++i) {
    if (!IsKeptByte(name, i))
      continue;
    if (i > start)
      text(QStringView(name).sliced(start, i - start));
    byte(static_cast<unsigned char>(name[i].unicode() - kKeptByte));
    start = i + 1;
  }
  if (start < name.size())
    text(QStringView(name).sliced(start));
}

}  // namespace

QString FileNameFromBytes(QByteArrayView bytes) {
  QString name;
  qsizetype start = 0;
  qsizetype i = 0;
  while (i < bytes.size()) {
    const qsizetype length = SequenceLength(bytes.sliced(i));
    if (length > 0) {
      i += length;
      continue;
    }
    name += QString::fromUtf8(bytes.sliced(start, i - start));
    name += QChar(static_cast<char16_t>(kKeptByte + static_cast<unsigned char>(bytes[i])));
    start = ++i;
  }
  return name + QString::fromUtf8(bytes.sliced(start));
}

QByteArray FileNameBytes(const QString& name) {
  QByteArray bytes;
  ForEachPart(
      name, [&](QStringView text) { bytes += text.toUtf8(); },
      [&](unsigned char byte) { bytes += static_cast<char>(byte); });
  return bytes;
}

QString ShownFileName(const QString& name) {
  QString shown;
  ForEachPart(
      name, [&](QStringView text) { shown += text; },
      [&](unsigned char byte) {
        shown += QStringLiteral("\\x%1").arg(static_cast<unsigned>(byte), 2, 16, QLatin1Char('0'));
      });
  return shown;
}
