#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sources ccdlab-cli's bash completion and completes command lines as bash splits them.
#   completion-check.sh COMPLETION_SCRIPT
set -uo pipefail
source "$1" || exit 1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir shots
touch shot.png 'my shot.jpg'
failures=0

# complete EXPECTED WORD ...: the words as COMP_WORDS holds them ("=" splits a word), the last
# being the one completed.
complete_words() {
  local expected=$1
  shift
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  _ccdlab_cli
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd' ')
  if [[ $got != "$expected" ]]; then
    echo "FAIL: ${*@Q}: got [$got], expected [$expected]" >&2
    failures=$((failures + 1))
  fi
}

complete -p ccdlab-cli >/dev/null || { echo "FAIL: no completion for ccdlab-cli" >&2; exit 1; }
methods='default huang intermodes isodata li maxentropy mean minerror minimum moments otsu percentile renyientropy shanbhag triangle yen'
formats='bmp jpg pgm png ppm tif'
# input and output: files
complete_words 'my shot.jpg shot.png shots' ccdlab-cli ''
complete_words 'shot.png shots' ccdlab-cli sh
complete_words 'shot.png shots' ccdlab-cli --quality 80 shot.png sh
complete_words 'shot.png shots' ccdlab-cli --format = png in.png sh
# options and their values
complete_words '--compression' ccdlab-cli --c
complete_words '--format' ccdlab-cli in.png out.png gray --f
complete_words "$formats" ccdlab-cli --format ''
complete_words 'pgm png ppm' ccdlab-cli --format = p
complete_words '--format=tif' ccdlab-cli --format=t
complete_words '' ccdlab-cli --quality ''
# steps, then the methods after binarize=
complete_words 'binarize= close dilate edges erode fill-holes gray invert median open outline sharpen skeletonize smooth sobel watershed' ccdlab-cli in.png out.png ''
complete_words 'edges erode' ccdlab-cli --time in.png out.png gray e
complete_words 'binarize=' ccdlab-cli in.png out.png b
complete_words "$methods" ccdlab-cli in.png out.png binarize =
complete_words 'otsu' ccdlab-cli in.png out.png binarize = ot
complete_words 'binarize=otsu' ccdlab-cli in.png out.png binarize=ot
complete_words 'maxentropy mean minerror minimum moments' ccdlab-cli in.png out.png binarize = 128 binarize = m
# after --, words starting with a dash are files and steps
complete_words 'edges erode' ccdlab-cli -- -in.png out.png e

((failures == 0)) && echo "completion: all checks passed"
exit $((failures > 0))
