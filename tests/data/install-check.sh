#!/usr/bin/env bash
# Installs the build into a scratch prefix and packages it, then checks what a desktop finds there.
#   install-check.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

cmake --install "$build" --prefix "$scratch/usr" >/dev/null
for program in ccdlab ccdlab-cli; do
  [[ -x $scratch/usr/bin/$program ]] || fail "bin/$program is not installed"
done
entry=$scratch/usr/share/applications/ccdlab.desktop
[[ -f $entry ]] || fail "no desktop entry"
desktop-file-validate "$entry" || fail "the desktop entry does not validate"
exec_line=$(sed -n 's/^Exec=//p' "$entry")
[[ -x $scratch/usr/bin/${exec_line%% *} ]] || fail "the entry runs '$exec_line', which is not installed"
icon=$(sed -n 's/^Icon=//p' "$entry")
for size in 16 22 24 32 48 64 128 256; do
  png=$scratch/usr/share/icons/hicolor/${size}x${size}/apps/$icon.png
  if [[ ! -f $png ]]; then
    fail "no ${size}x${size} icon"
    continue
  fi
  # A PNG's width and height are the big-endian words at offsets 16 and 20.
  read -r width height < <(od -An -tu1 -j16 -N8 "$png" |
    awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
  [[ $width == "$size" && $height == "$size" ]] || fail "the ${size}x${size} icon is ${width}x${height}"
done
[[ -f $scratch/usr/share/icons/hicolor/scalable/apps/$icon.svg ]] || fail "no scalable icon"

# The installed command-line tool finds the small formats' module where it was installed.
cli=$scratch/usr/bin/ccdlab-cli
icon16=$scratch/usr/share/icons/hicolor/16x16/apps/$icon.png
if ! "$cli" "$icon16" "$scratch/icon.bmp" || ! "$cli" "$scratch/icon.bmp" "$scratch/icon.png"; then
  fail "the installed ccdlab-cli cannot read a BMP"
fi

# The Debian package: the same files under /usr, and the run-time packages it needs.
(cd "$scratch" && cpack -G DEB -B "$scratch/package" --config "$build/CPackConfig.cmake" >/dev/null)
deb=$(ls "$scratch"/package/ccdlab_*_amd64.deb)
contents=$(dpkg-deb -c "$deb")
module=lib/ccdlab/ccdlab-toolkit-formats.so
[[ -f $scratch/usr/$module ]] || fail "$module is not installed"
for path in ./usr/bin/ccdlab ./usr/bin/ccdlab-cli ./usr/share/applications/ccdlab.desktop \
  ./usr/share/icons/hicolor/48x48/apps/ccdlab.png ./usr/$module; do
  grep -q " $path\$" <<<"$contents" || fail "the package lacks $path"
done
depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6widgets6 libgstreamer1.0-0 gstreamer1.0-plugins-base gstreamer1.0-plugins-good \
  fonts-arphic-ukai fonts-noto-cjk qt6-translations-l10n; do
  grep -q "\b$package\b" <<<"$depends" || fail "the package does not depend on $package"
done
# Every library the programs and the module link directly comes from a package it depends on.
for program in bin/ccdlab bin/ccdlab-cli $module; do
  resolved=$(ldd "$scratch/usr/$program")
  while read -r soname; do
    library=$(awk -v name="$soname" '$1 == name {print $3}' <<<"$resolved")
    # The dynamic loader itself comes with libc6.
    if [[ $soname == ld-linux* ]]; then
      continue
    fi
    # dpkg knows a library by the path its package installed, before or after /usr merging.
    owner=$( (dpkg -S "$library" || dpkg -S "$(realpath "$library")" ||
      dpkg -S "${library#/usr}") 2>/dev/null | head -1 | cut -d: -f1 || true)
    if [[ -z $owner ]]; then
      fail "$program links $library, which no package owns"
      continue
    fi
    grep -q "\b$owner\b" <<<"$depends" || fail "$program links $library from $owner, not a dependency"
  done < <(objdump -p "$scratch/usr/$program" | awk '$1 == "NEEDED" {print $2}')
done

((failures == 0)) && echo "install and package: all checks passed"
exit $((failures > 0))
