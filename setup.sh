#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up a Debian 12 machine for ccdlab and builds it, then starts it or runs the tests.
#   ./setup.sh run    install what building and running need (the compiler, CMake and Ninja, the
#                     development files of Qt, GStreamer, Highway and the picture libraries, the
#                     GStreamer plugins, fonts and Qt's Chinese texts; those only running needs
#                     while building), build the two programs and their module into build/ (no
#                     tests, benchmarks or fuzzers), start the program
#   ./setup.sh test   install all that and what only the tests need (GoogleTest, Xvfb, weston,
#                     clang, valgrind, the arm64 cross compiler with qemu-user, Google Benchmark and
#                     OpenCV, lintian and the other packaging checks; the arm64 architecture is
#                     added to dpkg for Highway's arm64 package), build everything, run every test
#                     on a virtual X server; then the same tests built with AddressSanitizer and
#                     UndefinedBehaviorSanitizer (build-asan/), then the picture intake under
#                     valgrind (build-valgrind/), then the Qt-free core cross-built for arm64 and
#                     tested under qemu-aarch64 (build-arm64/); every stage runs even when one
#                     before it failed, and the last lines list each stage's result
set -euo pipefail
cd "$(dirname "$0")"

mode=${1:-}
if [[ $mode != run && $mode != test ]]; then
  echo "usage: ./setup.sh run|test" >&2
  exit 2
fi

# What building and running need.
run_packages=(
  # build; the pixel kernels are written with Google Highway
  g++ cmake ninja-build pkg-config libhwy-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev libxcb1-dev
  # the programs' messages, help and manual pages in Traditional Chinese (lrelease; not
  # qt6-tools-dev, whose CMake package brings in Qt's designer, assistant and qdoc)
  qt6-l10n-tools
  # picture files: PNG, JPEG and TIFF through their own libraries
  libspng-dev libjpeg62-turbo-dev libtiff-dev zlib1g-dev
  # camera: GStreamer with videotestsrc, videoconvert, appsink (base), v4l2src and jpegdec (good),
  # PipeWire cameras
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
)
# What only running needs: ./setup.sh run installs these while the programs build.
runtime_packages=(
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-pipewire
  # the faces the forms were designed with stand in as these
  fonts-arphic-ukai fonts-noto-cjk
  # the toolkit's own dialogs and buttons in Traditional Chinese, and its Wayland platform
  qt6-translations-l10n qt6-wayland
)
# What only the tests need.
test_packages=(
  # tests; the window tests on a virtual X server and once more on a Wayland compositor; the tests
  # write interlaced PNGs with libpng
  libgtest-dev libgmock-dev xvfb xauth weston libpng-dev
  # the core and its tests cross-built for arm64 and run there under emulation: the cross
  # compiler, GoogleTest's sources, Highway for arm64 (beside the native one), qemu-aarch64
  g++-aarch64-linux-gnu googletest libhwy-dev:arm64 qemu-user
  # the sanitizer build and the fuzzers (clang with its sanitizer and libFuzzer runtimes), valgrind
  clang libclang-rt-14-dev valgrind
  # another program holding a picture on the clipboard
  xclip
  # benchmarks (bench/): OpenCV's core and imgproc only, not all of libopencv-dev
  libbenchmark-dev libopencv-core-dev libopencv-imgproc-dev jq
  # the package and what it installs: the Debian package's dependencies (dpkg-shlibdeps) and
  # lintian, the desktop entry, the software centres' metadata, the manual pages
  dpkg-dev lintian desktop-file-utils appstream man-db
)
missing_of() {
  local package
  for package; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      echo "$package"
  done
}
mapfile -t missing < <(missing_of "${run_packages[@]}")
mapfile -t missing_later < <(missing_of "${runtime_packages[@]}")
if [[ $mode == test ]]; then
  missing+=("${missing_later[@]}")
  missing_later=()
  mapfile -t -O ${#missing[@]} missing < <(missing_of "${test_packages[@]}")
fi
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
apt_install() {
  # dpkg does not sync each file it writes (a power cut during the install may leave the new
  # packages' files empty, to be installed again).
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y --no-install-recommends -o Dpkg::Options::=--force-unsafe-io "$@"
}
if ((${#missing[@]} + ${#missing_later[@]})); then
  echo "Installing: ${missing[*]} ${missing_later[*]}"
  # The password asked now, not by the install running beside the build.
  ((${#sudo[@]} == 0)) || sudo -v
  if [[ $mode == test ]] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
    "${sudo[@]}" dpkg --add-architecture arm64
  fi
  # No translated package descriptions.
  "${sudo[@]}" apt-get update -o Acquire::Languages=none
  ((${#missing[@]} == 0)) || apt_install "${missing[@]}"
fi

if [[ $mode == run ]]; then
  # dpkg unpacks on one core: what only running needs installs while the build has the others.
  installing=
  if ((${#missing_later[@]})); then
    log=$(mktemp)
    echo "Installing while building (output in $log): ${missing_later[*]}"
    apt_install "${missing_later[@]}" >"$log" 2>&1 &
    installing=$!
  fi
  # The build yields to it: the install is the longer of the two.
  build=(cmake --build --preset run)
  [[ -z $installing ]] || build=(nice -n 10 "${build[@]}")
  built=0
  cmake --preset run && "${build[@]}" || built=$?
  if [[ -n $installing ]]; then
    if ! wait "$installing"; then
      cat "$log" >&2
      echo "./setup.sh: installing ${missing_later[*]} failed" >&2
      exit 1
    fi
    rm -f "$log"
  fi
  ((built == 0)) || exit "$built"
  exec build/bin/ccdlab
fi

# Every stage runs, whatever became of the ones before (those that need the normal build wait for
# it); the last lines say how each went, and the exit status is 1 if any failed.
set +e
results=()
failed=0
stage() {
  local name=$1
  shift
  echo "=== $name"
  if "$@"; then
    results+=("passed   $name")
  else
    results+=("FAILED   $name")
    failed=1
  fi
}
not_run() {
  results+=("not run  $1 ($2)")
  failed=1
}

# -noreset: the server must not restart between two test programs, or the next one finds no display.
on_x=(xvfb-run -a -s "-screen 0 1280x1024x24 -noreset")

build_default() { cmake --preset default && cmake --build --preset default; }
tests_on_x() { "${on_x[@]}" ctest --preset default -j2; }
# The window tests on a headless Wayland compositor, with no X server to fall back on.
tests_on_wayland() {
  local dir pid status
  dir=$(mktemp -d)
  chmod 700 "$dir"
  XDG_RUNTIME_DIR=$dir weston --backend=headless-backend.so --socket=ccdlab-test \
    --idle-time=0 >"$dir/weston.log" 2>&1 &
  pid=$!
  for _ in $(seq 100); do [[ -S $dir/ccdlab-test ]] && break; sleep 0.1; done
  (unset DISPLAY; XDG_RUNTIME_DIR=$dir WAYLAND_DISPLAY=ccdlab-test ctest --preset wayland -j2)
  status=$?
  kill "$pid"
  wait "$pid" 2>/dev/null
  rm -rf "$dir"
  return $status
}
sanitizers() {
  cmake --preset asan && cmake --build --preset asan && "${on_x[@]}" ctest --preset asan -j2
}
# A build of the picture intake of its own, whose kernels are those the programs run under
# valgrind, without the SIMD library's run-time part.
under_valgrind() {
  cmake --preset valgrind && cmake --build --preset valgrind &&
    "${on_x[@]}" ctest --preset valgrind -j2
}
arm64() { cmake --preset arm64 && cmake --build --preset arm64 && ctest --preset arm64 -j2; }

stage "build" build_default
if [[ ${results[-1]} == passed* ]]; then
  stage "tests on X" tests_on_x
  stage "window tests on Wayland" tests_on_wayland
else
  not_run "tests on X" "no build"
  not_run "window tests on Wayland" "no build"
fi
stage "tests with the sanitizers" sanitizers
stage "picture intake under valgrind" under_valgrind
stage "core on arm64 under qemu" arm64

echo
echo "./setup.sh test:"
printf '  %s\n' "${results[@]}"
exit $failed
