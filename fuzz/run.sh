#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fuzzes one target with libFuzzer under AddressSanitizer and UndefinedBehaviorSanitizer.
#   fuzz/run.sh TARGET [SECONDS]     TARGET: picture_file, clipboard or bitmap; SECONDS: 600
# Builds build-fuzz/ (the fuzz preset: clang), starts from the committed corpus, keeps the inputs
# it finds in build-fuzz/corpus/TARGET/ and any crashing input in build-fuzz/findings/TARGET/.
set -euo pipefail
cd "$(dirname "$0")/.."

target=${1:-}
seconds=${2:-600}
case $target in
  picture_file | clipboard)
    max_len=65536
    ;;
  bitmap)
    # The header, a palette of 256 entries and 64 x 64 pixels of 4 bytes.
    max_len=$((10 + 4 * 256 + 64 * 64 * 4))
    ;;
  *)
    echo "usage: fuzz/run.sh picture_file|clipboard|bitmap [SECONDS]" >&2
    exit 2
    ;;
esac

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${target}_fuzzer"

work=build-fuzz/corpus/$target
findings=build-fuzz/findings/$target
mkdir -p "$work" "$findings"
inputs=("$work" "fuzz/corpus/$target")
[[ -d fuzz/regressions/$target ]] && inputs+=("fuzz/regressions/$target")
options=()
if [[ $target != bitmap ]]; then
  cat fuzz/dict/*.dict > build-fuzz/pictures.dict
  options+=(-dict=build-fuzz/pictures.dict)
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
exec "build-fuzz/fuzz/${target}_fuzzer" "${options[@]}" -max_len=$max_len -max_total_time="$seconds" \
  -rss_limit_mb=4096 -timeout=30 -print_final_stats=1 -artifact_prefix="$findings/" "${inputs[@]}"
