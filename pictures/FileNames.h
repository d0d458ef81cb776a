// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// File names as the system has them: bytes, mostly UTF-8 but not always. The toolkit decodes
// every byte that is not UTF-8 to U+FFFD and so loses it; here each such byte b is kept as the
// lone surrogate U+DC00 + b, which no UTF-8 text decodes to, so that a name goes back to the file
// system byte for byte. A name that is UTF-8 is the same QString either way.
QString FileNameFromBytes(QByteArrayView bytes);
QByteArray FileNameBytes(const QString& name);

// The name as a message shows it: each byte that is not UTF-8 written \xff.
QString ShownFileName(const QString& name);
