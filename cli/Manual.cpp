// SPDX-License-Identifier: GPL-3.0-or-later
#include "Manual.h"

#include <QCoreApplication>
#include <QLocale>
#include <cstdio>

#include "Arguments.h"
#include "AutoThreshold.h"
#include "ManualPage.h"
#include "PictureFormats.h"

namespace {

class Manual {
  Q_DECLARE_TR_FUNCTIONS(Manual)
};

// The completion; the words come from the tables that the parser reads as well.
constexpr char kCompletion[] =
    R"(# bash completion for ccdlab-cli                            -*- shell-script -*-
# Written by `ccdlab-cli --bash-completion` from the tool's tables of steps, threshold methods,
# output formats and options.

_ccdlab_cli() {
  local steps='@STEPS@' thresholds='@THRESHOLDS@'
  local methods='@METHODS@'
  local formats='@FORMATS@' options='@OPTIONS@' valued='@VALUED@'
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} key= joined=
  COMPREPLY=()
  # "key=value": bash splits the word at "=" (it is in COMP_WORDBREAKS) and completes the value
  # alone; where "=" does not split words, the whole word is completed.
  if [[ $cur == = ]]; then
    key=$prev cur=
  elif [[ $prev == = ]] && ((COMP_CWORD >= 3)); then
    key=${COMP_WORDS[COMP_CWORD-2]}
  elif [[ $cur == ?*=* ]]; then
    key=${cur%%=*} joined=${cur%%=*}= cur=${cur#*=}
  fi
  if [[ -n $key ]]; then
    if [[ " $thresholds " == *" $key "* ]]; then
      mapfile -t COMPREPLY < <(compgen -P "$joined" -W "$methods" -- "$cur")
    elif [[ $key == --format ]]; then
      mapfile -t COMPREPLY < <(compgen -P "$joined" -W "$formats" -- "$cur")
    fi
    return
  fi
  if [[ $prev == --format ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$formats" -- "$cur")
    return
  fi
  [[ " $valued " == *" $prev "* ]] && return

  # INPUT and OUTPUT come first among the words that are neither options nor their values.
  local i word positional=0 ended=
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if [[ $word == = ]]; then
      ((i++))
    elif [[ -n $ended || $word == - || $word != -* ]]; then
      ((positional++))
    elif [[ $word == -- ]]; then
      ended=1
    elif [[ " $valued " == *" $word "* ]]; then
      [[ ${COMP_WORDS[i+1]} == = ]] && ((i++))
      ((i++))
    fi
  done
  if [[ -z $ended && $cur == -?* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
  elif ((positional < 2)); then
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
  else
    mapfile -t COMPREPLY < <(compgen -W "$steps" -- "$cur"; compgen -S = -W "$thresholds" -- "$cur")
    [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *= ]] && compopt -o nospace 2>/dev/null
  fi
  return 0
}
complete -F _ccdlab_cli ccdlab-cli
)";

}  // namespace

QString BashCompletion() {
  QStringList steps;
  QStringList thresholds;
  for (const TOperationInfo& operation : Operations())
    (operation.takesThreshold ? thresholds : steps) << QLatin1String(operation.word);
  QStringList methods;
  for (const TThresholdMethodInfo& method : ThresholdMethods())
    methods << QLatin1String(method.word);
  QStringList formats;
  for (const PictureFormatInfo& format : PictureFormats())
    if (format.writable)
      formats << QLatin1String(format.name);
  QStringList options;
  QStringList valued;
  for (const HelpOption& option : HelpOptions(UsageText())) {
    options << option.name;
    if (!option.value.isEmpty())
      valued << option.name;
  }
  return QString::fromLatin1(kCompletion)
      .replace(QStringLiteral("@STEPS@"), steps.join(QLatin1Char(' ')))
      .replace(QStringLiteral("@THRESHOLDS@"), thresholds.join(QLatin1Char(' ')))
      .replace(QStringLiteral("@METHODS@"), methods.join(QLatin1Char(' ')))
      .replace(QStringLiteral("@FORMATS@"), formats.join(QLatin1Char(' ')))
      .replace(QStringLiteral("@OPTIONS@"), options.join(QLatin1Char(' ')))
      .replace(QStringLiteral("@VALUED@"), valued.join(QLatin1Char(' ')));
}

std::optional<int> WriteBuildDocument(const QStringList& arguments) {
  if (arguments.size() != 1)
    return std::nullopt;
  QString text;
  if (arguments[0] == QLatin1String("--bash-completion")) {
    text = BashCompletion();
  } else if (arguments[0].startsWith(QLatin1String("--manual-page="))) {
    const QLocale locale(arguments[0].section(QLatin1Char('='), 1));
    const bool chinese = locale.language() == QLocale::Chinese;
    InstallCommandLineLanguage(locale);
    text = ManualPageSource({QStringLiteral("ccdlab-cli"),
                             Manual::tr("run ccdlab's image operations on picture files"),
                             UsageText(),
                             {QStringLiteral("ccdlab(1)")},
                             chinese});
  } else {
    return std::nullopt;
  }
  const QByteArray bytes = text.toUtf8();
  return std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout) ==
                     static_cast<std::size_t>(bytes.size()) &&
                 std::fflush(stdout) == 0
             ? 0
             : 1;
}
