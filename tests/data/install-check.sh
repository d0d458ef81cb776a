#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
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

# Installed, the programs say where they are and under which licence.
for program in ccdlab ccdlab-cli; do
  "$scratch/usr/bin/$program" --version | grep -q 'GPL-3.0-or-later' ||
    fail "$program --version does not name the licence"
done
# Without a display the program's advice names it where it was installed.
advice=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_RUNTIME_DIR="$scratch" \
  "$scratch/usr/bin/ccdlab" 2>&1 >/dev/null || true)
[[ $advice == *"xvfb-run -a $scratch/usr/bin/ccdlab"* ]] ||
  fail "without a display the installed program says: $advice"

# man finds the pages where they were installed; the Chinese ones for that language (-L: as under
# a zh_TW locale, which this machine need not have).
manpath=$scratch/usr/share/man
for program in ccdlab ccdlab-cli; do
  [[ $(MANPATH=$manpath LC_ALL=C.UTF-8 man -w "$program" 2>/dev/null) == \
    "$manpath/man1/$program.1.gz" ]] || fail "man does not find $program's page"
  [[ $(MANPATH=$manpath LC_ALL=C.UTF-8 man -L zh_TW -w "$program" 2>/dev/null) == \
    "$manpath/zh_TW/man1/$program.1.gz" ]] || fail "man does not find $program's Chinese page"
done
# bash-completion loads a command's completion from the file of its name.
[[ -f $scratch/usr/share/bash-completion/completions/ccdlab-cli ]] || fail "no bash completion"
# The software centres' metadata and the menu entry, together as a software centre reads them.
appstreamcli validate-tree --no-net "$scratch/usr" >/dev/null ||
  fail "appstreamcli does not accept the installed metadata"

# The Debian package: the same files under /usr, and the run-time packages it needs.
(cd "$scratch" && cpack -G DEB -B "$scratch/package" --config "$build/CPackConfig.cmake" >/dev/null)
deb=$(ls "$scratch"/package/ccdlab_*.deb)
contents=$(dpkg-deb -c "$deb")
module=lib/ccdlab/ccdlab-toolkit-formats.so
[[ -f $scratch/usr/$module ]] || fail "$module is not installed"
for path in ./usr/bin/ccdlab ./usr/bin/ccdlab-cli ./usr/share/applications/ccdlab.desktop \
  ./usr/share/icons/hicolor/48x48/apps/ccdlab.png ./usr/$module \
  ./usr/share/man/man1/ccdlab.1.gz ./usr/share/man/zh_TW/man1/ccdlab-cli.1.gz \
  ./usr/share/bash-completion/completions/ccdlab-cli ./usr/share/doc/ccdlab/copyright \
  ./usr/share/doc/ccdlab/changelog.gz; do
  grep -q " $path\$" <<<"$contents" || fail "the package lacks $path"
done
grep -q ' ./usr/share/metainfo/[^/]*\.metainfo\.xml$' <<<"$contents" || fail "the package lacks metainfo"
# Its binaries stripped of symbols and of the compiler's notes, hardened as Debian's are.
unpacked=$scratch/unpacked
dpkg-deb -x "$deb" "$unpacked"
for binary in usr/bin/ccdlab usr/bin/ccdlab-cli usr/$module; do
  sections=$(readelf -SW "$unpacked/$binary")
  for section in .symtab .comment; do
    ! grep -qF " $section " <<<"$sections" || fail "$binary keeps its $section section"
  done
  readelf -lW "$unpacked/$binary" | grep -q GNU_RELRO || fail "$binary is not linked with relro"
  readelf -dW "$unpacked/$binary" | grep -q 'BIND_NOW\|FLAGS.*NOW' || fail "$binary binds lazily"
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
