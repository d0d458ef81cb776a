#!/usr/bin/env bash
# Every source file names its licence in its first comment:
#   SPDX-License-Identifier: GPL-3.0-or-later
# The files are those git tracks (every file, outside a git checkout).
#   spdx-check.sh SOURCE_DIR
set -uo pipefail
cd "$1" || exit 1
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files -- '*.cpp' '*.h' '*CMakeLists.txt' '*.cmake' '*.sh' '*.ui' '*.ts')
else
  mapfile -t files < <(find . \( -path './build*' -o -path ./.git \) -prune -o -type f \
    \( -name '*.cpp' -o -name '*.h' -o -name CMakeLists.txt -o -name '*.cmake' -o -name '*.sh' \
    -o -name '*.ui' -o -name '*.ts' \) -print | sed 's|^\./||')
fi

# The first comment: after a "#!" line, an XML declaration or document type and blank lines, the
# comment lines of the file's language ("//" and "/* */", "#", or "<!-- -->") up to another line.
first_comment() {
  local line open close
  case $1 in
    *.cpp | *.h) line='//' open='/\*' close='\*/' ;;
    *.ui | *.ts) line='' open='<!--' close='-->' ;;
    *) line='#' open='' close='' ;;
  esac
  awk -v line="$line" -v open="$open" -v ending="$close" '
    !started && (/^#!/ && NR == 1 || /^<\?xml/ || /^<!DOCTYPE/ || /^[[:space:]]*$/) { next }
    inside { print; if ($0 ~ ending) inside = 0; next }
    line != "" && $0 ~ "^[[:space:]]*" line { started = 1; print; next }
    open != "" && $0 ~ "^[[:space:]]*" open { started = 1; print; if ($0 !~ ending) inside = 1; next }
    { exit }
  ' "$1"
}

missing=0
for file in "${files[@]}"; do
  if ! first_comment "$file" | grep -q 'SPDX-License-Identifier: GPL-3.0-or-later'; then
    echo "no SPDX-License-Identifier: GPL-3.0-or-later in the first comment of $file" >&2
    missing=$((missing + 1))
  fi
done
echo "${#files[@]} source files, $missing without the licence's identifier"
exit $((missing > 0))
