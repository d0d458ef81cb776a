#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Packages the build and has lintian look at the package as a Debian maintainer would: it may
# report nothing, down to its informational tags. Skipped (77) where lintian is not installed.
#   lintian-check.sh BUILD_DIR
set -euo pipefail
if ! command -v lintian >/dev/null; then
  echo "lintian is not installed"
  exit 77
fi
build=$(realpath "$1")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
(cd "$scratch" && cpack -G DEB -B "$scratch/package" --config "$build/CPackConfig.cmake" >/dev/null)
deb=$(ls "$scratch"/package/ccdlab_*.deb)
status=0
report=$(lintian --display-info --info --fail-on error,warning,info "$deb" 2>&1) || status=$?
grep -v '^running with root privileges' <<<"$report" || true
((status == 0)) && echo "lintian: nothing to report on $(basename "$deb")"
exit $status
