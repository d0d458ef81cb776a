#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Renders the program's icon at the usual theme sizes from its drawing (needs librsvg2-bin).
# The PNGs are committed, so building never needs this.
set -euo pipefail
cd "$(dirname "$0")/hicolor"
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "${size}x${size}/apps"
  rsvg-convert -w "$size" -h "$size" scalable/apps/ccdlab.svg -o "${size}x${size}/apps/ccdlab.png"
done
