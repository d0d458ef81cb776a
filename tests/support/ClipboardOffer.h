// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>
#include <QByteArray>
#include <QClipboard>
#include <QMimeData>

// Puts `bytes` on the system clipboard under the MIME type `type`, as another program would.
inline void Offer(const char* type, const QByteArray& bytes) {
  auto* data = new QMimeData;
  data->setData(QString::fromLatin1(type), bytes);
  QApplication::clipboard()->setMimeData(data);
}
