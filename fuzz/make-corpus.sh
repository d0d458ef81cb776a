#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Regenerates the seed corpus in fuzz/corpus/ from the generator in the normal build (build/).
# Inputs fuzzing found and that were fixed live in fuzz/regressions/ and are left alone.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build --target ccdlab-fuzz-corpus
rm -rf fuzz/corpus
build/fuzz/ccdlab-fuzz-corpus fuzz/corpus
