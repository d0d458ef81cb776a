#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs ccdlab-bench (5 repetitions, single-threaded) and prints the medians and their ratios to
# the goals as a Markdown table. Extra arguments go to the benchmark, for example
#   bench/run.sh --benchmark_filter=threshold
# The executable is build/bin/ccdlab-bench unless CCDLAB_BENCH names another.
set -euo pipefail
cd "$(dirname "$0")/.."

bench=${CCDLAB_BENCH:-build/bin/ccdlab-bench}
if [[ ! -x $bench ]]; then
  echo "$bench not found: build first (cmake --preset default && cmake --build build)" >&2
  exit 1
fi
json=$(mktemp)
trap 'rm -f "$json"' EXIT
"$bench" --benchmark_format=json --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true "$@" >"$json"

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
jq -r --arg cpu "$cpu" '"Machine: \($cpu), \(.context.num_cpus) cores; kernels at \(.context.ccdlab_simd // "?"); OpenCV \(.context.opencv // "?"). Medians of 5 runs, wall-clock time."' "$json"
echo

# name <TAB> median in milliseconds
jq -r '.benchmarks[] | select(.aggregate_name == "median")
  | [.run_name, (.real_time * ({"ns": 1e-6, "us": 1e-3, "ms": 1, "s": 1e3}[.time_unit]))] | @tsv' \
  "$json" | awk -F'\t' '
  { ms[$1] = $2; order[++n] = $1 }
  function goal(name, base, limit, fixed,   ratio) {
    if (!(name in ms)) return
    if (fixed) {
      printf "| | | ≤ %s ms | | %s |\n", limit, (ms[name] <= limit ? "yes" : "**no**")
      return
    }
    if (!(base in ms)) return
    ratio = ms[name] / ms[base]
    printf "| | | ≤ %.2f × `%s` | %.2f | %s |\n", limit, base, ratio, (ratio <= limit ? "yes" : "**no**")
  }
  END {
    print "| benchmark | median (ms) | goal | ratio | met |"
    print "|---|---:|---|---:|---|"
    for (i = 1; i <= n; ++i) {
      name = order[i]
      printf "| `%s` | %.2f | | | |\n", name, ms[name]
      if (name == "ccdlab/threshold") { goal(name, "memcpy", 1.25); goal(name, "opencv/threshold", 1.0) }
      if (name == "ccdlab/grayscale_indexed") { goal(name, "memcpy", 1.25); goal(name, "opencv/grayscale_indexed", 1.0) }
      # Three bytes read for each one written: twice the traffic of memcpy.
      if (name == "ccdlab/grayscale_rgb") { goal(name, "memcpy", 2.25); goal(name, "opencv/grayscale_rgb", 1.0) }
      if (name == "ccdlab/laplacian") { goal(name, "memcpy", 1.25); goal(name, "opencv/laplacian", 0.25) }
      if (name == "ccdlab/invert") { goal(name, "memcpy", 1.0); goal(name, "opencv/invert", 1.0) }
      if (name ~ /^ccdlab\/(smooth|sharpen|sobel|median)$/) {
        goal(name, "memcpy", 2.0); goal(name, "opencv/" substr(name, 8), 1.0)
      }
      if (name ~ /^ccdlab\/(erode|dilate|open|close)$/) { goal(name, "memcpy", 2.0); goal(name, "opencv/" substr(name, 8), 1.0) }
      if (name == "ccdlab/watershed") { goal(name, "", 1000, 1); goal(name, "opencv/watershed", 1.0) }
      if (name == "ccdlab/slider_step") goal(name, "", 16, 1)
      if (name == "ccdlab/open_png") goal(name, "", 400, 1)
      if (name == "ccdlab/open_jpeg") goal(name, "", 200, 1)
      if (name == "ccdlab/preview_jpeg") goal(name, "", 100, 1)
      if (name ~ /^ccdlab\/viewer_paint/) goal(name, "", 16, 1)
      if (name == "ccdlab/histogram") goal(name, "", 10, 1)
      if (name == "ccdlab/threshold_histogram") goal(name, "memcpy_8bit", 1.5)
      if (name == "ccdlab/threshold_histogram_rgb") goal(name, "memcpy_24bit", 1.5)
      if (name ~ /^ccdlab\/measure/) goal(name, "opencv/connected_components", 1.0)
      if (name ~ /^ccdlab\/live_chain_1080p/) goal(name, "", 4, 1)
      if (name ~ /^ccdlab\/live_measure_1080p/) goal(name, "", 6, 1)
      if (name ~ /^ccdlab\/live_chain_2160p/) goal(name, "", 16, 1)
    }
  }'
