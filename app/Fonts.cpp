// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fonts.h"

#include <QApplication>
#include <QFont>

void InstallFontSubstitutes() {
  const QString sans = QStringLiteral("Noto Sans CJK TC");
  QFont::insertSubstitution(QStringLiteral("標楷體"), QStringLiteral("AR PL UKai TW"));
  QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), sans);
  // Message boxes and file dialogs carry Chinese text as well.
  QFont font = QApplication::font();
  font.setFamilies({sans});
  QApplication::setFont(font);
}
