// SPDX-License-Identifier: GPL-3.0-or-later
#include "ManualPage.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTranslator>

namespace {

class ManualPageText {
  Q_DECLARE_TR_FUNCTIONS(ManualPage)
};

struct Block {
  QString term;  // empty: a paragraph
  QStringList lines;
};

struct Section {
  QString title;  // empty: the description
  std::vector<Block> blocks;
};

struct Help {
  QString synopsis;
  std::vector<Section> sections;
};

Help Parse(const QString& text) {
  static const QRegularExpression item(QStringLiteral("^  (\\S.*?)(?:\\s{2,}(.*))?$"));
  QStringList lines = text.split(QLatin1Char('\n'));
  Help help;
  if (!lines.isEmpty()) {
    const QString usage = lines.takeFirst();
    const qsizetype colon = usage.indexOf(QRegularExpression(QStringLiteral("[:：]")));
    help.synopsis = usage.mid(colon + 1).trimmed();
  }
  help.sections.push_back({});
  bool open = false;  // whether the next line may go on the last block
  for (const QString& line : lines) {
    std::vector<Block>& blocks = help.sections.back().blocks;
    if (line.trimmed().isEmpty()) {
      open = false;
    } else if (const QRegularExpressionMatch match = item.match(line); match.hasMatch()) {
      blocks.push_back({match.captured(1).trimmed(), {}});
      if (!match.captured(2).isEmpty())
        blocks.back().lines << match.captured(2).trimmed();
      open = true;
    } else if (line.startsWith(QLatin1Char(' ')) && open && !blocks.back().term.isEmpty()) {
      blocks.back().lines << line.trimmed();
    } else if (!line.startsWith(QLatin1Char(' ')) &&
               (line.endsWith(QLatin1Char(':')) || line.endsWith(QChar(0xFF1A)))) {
      help.sections.push_back({line.chopped(1).trimmed(), {}});
      open = false;
    } else {
      if (!open || !blocks.back().term.isEmpty())
        blocks.push_back({});
      blocks.back().lines << line.trimmed();
      open = true;
    }
  }
  return help;
}

bool IsWide(QChar c) {
  const char16_t u = c.unicode();
  return (u >= 0x2E80 && u <= 0x9FFF) || (u >= 0xF900 && u <= 0xFAFF) ||
         (u >= 0xFE30 && u <= 0xFE4F) || (u >= 0xFF00 && u <= 0xFFEF);
}

// Chinese punctuation that no line may start with, and that no line may end with.
constexpr char16_t kClosing[] = u"，。、；：？！）」』】〕｝〉》…";
constexpr char16_t kOpening[] = u"（「『【〔｛〈《";

// Text as roff reads it literally; groff breaks lines only at spaces, so Chinese text, which has
// none, gets a break point between its characters wherever its punctuation allows one.
QString Escaped(const QString& text, bool breakWide = false) {
  QString out;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c == QLatin1Char('\\'))
      out += QStringLiteral("\\e");
    else if (c == QLatin1Char('-'))
      out += QStringLiteral("\\-");
    else
      out += c;
    if (breakWide && IsWide(c) && i + 1 < text.size() && !text[i + 1].isSpace() &&
        !QStringView(kOpening).contains(c) && !QStringView(kClosing).contains(text[i + 1]))
      out += QStringLiteral("\\:");
  }
  if (out.startsWith(QLatin1Char('.')) || out.startsWith(QLatin1Char('\'')))
    out.prepend(QStringLiteral("\\&"));
  return out;
}

// An option's or a step's name in bold, the value it takes in italics: "--format F",
// "binarize=T"; each of "-h, --help" so.
QString Term(const QString& term) {
  static const QRegularExpression split(QStringLiteral("^(-\\S*?[ =]|[^ =]+=)(.+)$"));
  QStringList forms;
  for (const QString& form : term.split(QStringLiteral(", "))) {
    const QRegularExpressionMatch match = split.match(form);
    if (!match.hasMatch()) {
      forms << QStringLiteral("\\fB%1\\fR").arg(Escaped(form));
      continue;
    }
    const QString name = match.captured(1);
    const bool spaced = name.endsWith(QLatin1Char(' '));
    forms << QStringLiteral("\\fB%1\\fR%2\\fI%3\\fR")
                 .arg(Escaped(spaced ? name.chopped(1) : name),
                      spaced ? QStringLiteral(" ") : QString(),
                      Escaped(match.captured(2).trimmed()));
  }
  return forms.join(QStringLiteral(", "));
}

// Lines of a paragraph as one; Chinese text has no space where its lines were broken.
QString Joined(const QStringList& lines) {
  QString text;
  for (const QString& line : lines) {
    if (!text.isEmpty() && !(IsWide(text.back()) && IsWide(line.front())))
      text += QLatin1Char(' ');
    text += line;
  }
  return text;
}

QString Heading(const QString& title) {
  return QStringLiteral(".SH \"%1\"\n").arg(Escaped(title.toUpper()));
}

}  // namespace

QString ManualPageSource(const ManualPage& page) {
  const bool wide = page.traditionalChinese;
  const Help help = Parse(page.help);
  QString out = QStringLiteral(
                    "'\\\" -*- coding: UTF-8 -*-\n"
                    ".\\\" Written by %1 from its --help text; edit that, not this.\n"
                    ".TH \"%2\" 1 \"%3\" \"ccdlab %4\" \"%5\"\n")
                    .arg(page.program, Escaped(page.program.toUpper()),
                         Escaped(QStringLiteral(CCDLAB_RELEASE_DATE)),
                         QStringLiteral(CCDLAB_VERSION), ManualPageText::tr("User Commands"));
  // Left-aligned and unhyphenated: spreading Chinese text over a line gaps it oddly.
  if (wide)
    out += QStringLiteral(".ad l\n.nh\n");
  out += Heading(ManualPageText::tr("Name"));
  out += QStringLiteral("%1 \\- %2\n").arg(Escaped(page.program), Escaped(page.summary));
  out += Heading(ManualPageText::tr("Synopsis"));
  QString synopsis = help.synopsis;
  if (synopsis.startsWith(page.program))
    synopsis = synopsis.mid(page.program.size()).trimmed();
  out += QStringLiteral(".B %1\n%2\n").arg(Escaped(page.program), Escaped(synopsis, wide));
  for (const Section& section : help.sections) {
    out += Heading(section.title.isEmpty() ? ManualPageText::tr("Description") : section.title);
    bool first = true;
    bool afterItem = false;
    for (const Block& block : section.blocks) {
      if (!block.term.isEmpty())
        out += QStringLiteral(".TP\n%1\n").arg(Term(block.term));
      else if (!first || afterItem)
        out += QStringLiteral(".PP\n");
      if (!block.lines.isEmpty())
        out += Escaped(Joined(block.lines), wide) + QLatin1Char('\n');
      first = false;
      afterItem = !block.term.isEmpty();
    }
  }
  out += Heading(ManualPageText::tr("Copyright"));
  QStringList licence = VersionText(page.program).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  licence.removeFirst();
  for (QString& line : licence)
    line = Escaped(line, wide);
  out += licence.join(QStringLiteral("\n.br\n")) + QLatin1Char('\n');
  if (!page.seeAlso.isEmpty()) {
    out += Heading(ManualPageText::tr("See also"));
    QStringList references;
    static const QRegularExpression reference(QStringLiteral("^(.+)\\((\\w+)\\)$"));
    for (const QString& other : page.seeAlso) {
      const QRegularExpressionMatch match = reference.match(other);
      references
          << QStringLiteral(".BR %1 (%2)").arg(Escaped(match.captured(1)), match.captured(2));
    }
    out += references.join(QStringLiteral(" ,\n")) + QLatin1Char('\n');
  }
  return out;
}

std::vector<HelpOption> HelpOptions(const QString& help) {
  std::vector<HelpOption> options;
  for (const Section& section : Parse(help).sections)
    for (const Block& block : section.blocks) {
      if (!block.term.startsWith(QLatin1Char('-')))
        continue;
      for (const QString& form : block.term.split(QStringLiteral(", "))) {
        const qsizetype end = form.indexOf(QRegularExpression(QStringLiteral("[ =]")));
        options.push_back({form.left(end), end < 0 ? QString() : form.mid(end + 1).trimmed()});
      }
    }
  return options;
}

QString VersionText(const QString& program) {
  return QStringLiteral("%1 %2\n").arg(program, QStringLiteral(CCDLAB_VERSION)) +
         ManualPageText::tr(
             "Copyright (C) %1\n"
             "License GPL-3.0-or-later: GNU GPL version 3 or later "
             "<https://gnu.org/licenses/gpl.html>.\n"
             "This is free software: you are free to change and redistribute it.\n"
             "There is NO WARRANTY, to the extent permitted by law.\n")
             .arg(QStringLiteral(CCDLAB_COPYRIGHT));
}

void InstallManualPageLanguage() {
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (translator->load(QStringLiteral(":/i18n/ccdlab-manual_zh_TW.qm")))
    QCoreApplication::installTranslator(translator);
  else
    delete translator;
}
