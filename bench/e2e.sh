#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Whole jobs on 24-megapixel picture files: ccdlab-cli beside libvips' vips and ImageMagick's
# convert, turn by turn in one run, so that all three meet the same machine. Prints a Markdown
# table: median wall time, its ratio to vips, peak memory and the output's size.
#   bench/e2e.sh [RUNS]        RUNS per tool and job, 3 unless given
# Needs vips (libvips-tools) and convert (imagemagick): measuring sticks only, which the program
# never links. The executable is build/bin/ccdlab-cli unless CCDLAB_CLI names another.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-3}
cli=${CCDLAB_CLI:-build/bin/ccdlab-cli}
for tool in "$cli" vips convert /usr/bin/time; do
  command -v "$tool" >/dev/null || {
    echo "$tool not found (build first; apt-get install libvips-tools imagemagick time)" >&2
    exit 1
  }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A photo-like picture: smooth shapes at every scale (a plasma, enlarged) and sensor noise, with
# 8 bits a sample as cameras write them (ImageMagick would otherwise keep its own 16).
convert -size 600x400 -seed 7 plasma:fractal -resize 6000x4000\! -seed 11 -attenuate 0.3 \
  +noise Gaussian -depth 8 "$work/photo.ppm"
convert "$work/photo.ppm" "$work/photo.png"
convert "$work/photo.ppm" -quality 92 "$work/photo.jpg"
rm "$work/photo.ppm"

# job name, then the command line of each tool for it, IN and OUT standing for the files.
jobs=(
  "grey PNG → PNG|png|png|$cli IN OUT gray|vips colourspace IN OUT b-w|convert IN -colorspace Gray OUT"
  "grey JPEG → JPEG|jpg|jpg|$cli IN OUT gray|vips colourspace IN OUT b-w|convert IN -colorspace Gray OUT"
  "JPEG → PNG|jpg|png|$cli IN OUT|vips copy IN OUT|convert IN OUT"
)
tools=(ccdlab-cli vips convert)

# One run: wall seconds and peak kilobytes.
measure() {
  local command=$1 output=$2
  rm -f "$output"
  /usr/bin/time -f '%e %M' -o "$work/time" $command >/dev/null 2>&1
  cat "$work/time"
}

median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(nproc) cores;" \
  "$(vips --version), $(convert -version | head -1 | cut -d' ' -f2-3). Medians of $runs runs."
echo
echo "| job | tool | wall (s) | × vips | peak memory (MB) | output (MB) |"
echo "|---|---|---:|---:|---:|---:|"
for job in "${jobs[@]}"; do
  IFS='|' read -r name from to commands[0] commands[1] commands[2] <<<"$job"
  declare -A walls=() peaks=()
  for ((run = 0; run < runs; ++run)); do
    for i in 0 1 2; do
      out="$work/out-$i.$to"
      command=${commands[$i]//IN/$work/photo.$from}
      read -r wall peak < <(measure "${command//OUT/$out}" "$out")
      walls[$i]+="$wall "
      peaks[$i]+="$peak "
    done
  done
  vips_wall=$(tr ' ' '\n' <<<"${walls[1]}" | grep . | median)
  for i in 0 1 2; do
    wall=$(tr ' ' '\n' <<<"${walls[$i]}" | grep . | median)
    peak=$(tr ' ' '\n' <<<"${peaks[$i]}" | grep . | median)
    size=$(stat -c %s "$work/out-$i.$to")
    awk -v n="$name" -v t="${tools[$i]}" -v w="$wall" -v v="$vips_wall" -v p="$peak" -v s="$size" \
      'BEGIN {printf "| %s | %s | %.2f | %.2f | %.0f | %.1f |\n", n, t, w, w / v, p / 1024, s / 1e6}'
  done
  unset walls peaks
done
