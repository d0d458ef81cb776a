# SPDX-License-Identifier: GPL-3.0-or-later
# Cross build for 64-bit Arm with Debian's cross compiler (g++-aarch64-linux-gnu). Libraries for
# the target come from Debian's arm64 packages installed beside the native ones (multiarch,
# e.g. libhwy-dev:arm64); the programs run under qemu-aarch64, which finds the arm64 C library
# the same way.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(hwy_DIR /usr/lib/aarch64-linux-gnu/cmake/hwy)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
