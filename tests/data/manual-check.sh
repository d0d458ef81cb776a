#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Renders the programs' manual pages as man does, with its warnings on (as lintian does), and
# checks that each says what the program's --help says, in English and in Traditional Chinese.
#   manual-check.sh BUILD_DIR
set -uo pipefail
build=$(realpath "$1")
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

for program in ccdlab ccdlab-cli; do
  for language in en zh_TW; do
    if [[ $language == en ]]; then
      page=$build/man/man1/$program.1.gz locale=C.UTF-8 heading=NAME
    else
      page=$build/man/$language/man1/$program.1.gz locale=$language.UTF-8 heading=名稱
    fi
    if [[ ! -f $page ]]; then
      fail "no page $page"
      continue
    fi
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    [[ -z $warnings ]] || fail "$page: man warns: $warnings"
    # Wide, so that no word is broken at a line's end.
    text=$(LC_ALL=C.UTF-8 MANWIDTH=250 man -l "$page" 2>/dev/null)
    grep -q "^$heading\$" <<<"$text" || fail "$page: no section $heading"
    whatis=$(lexgrog "$page" 2>&1)
    [[ $whatis == *"\"$program - "* ]] || fail "$page: the NAME line does not parse: $whatis"
    # Every option and every word of the help's first column is on the page.
    help=$(LC_ALL=$locale "$build/bin/$program" --help)
    [[ -n $help ]] || fail "$program --help printed nothing"
    while read -r word; do
      grep -qF -- "$word" <<<"$text" || fail "$page: no '$word', which --help lists"
    done < <(sed -n 's/^  \([^ ]\+\).*/\1/p' <<<"$help"; grep -o -- '--[a-z-]\+' <<<"$help")
    usage=$(head -1 <<<"$help" | sed 's/^[^:：]*[:：] *//')
    grep -qF -- "$usage" <<<"$text" || fail "$page: no synopsis '$usage'"
  done
done

((failures == 0)) && echo "manual pages: all checks passed"
exit $((failures > 0))
