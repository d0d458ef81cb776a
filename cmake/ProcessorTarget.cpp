// SPDX-License-Identifier: GPL-3.0-or-later
// Prints the widest Highway target, of those x86-64 has, that this processor (or the one valgrind
// presents to its guest) runs: the kernels of the programs valgrind runs are built for it alone.
#include <cpuid.h>

#include <cstdio>

namespace {

bool Bit(unsigned word, int bit) {
  return (word >> bit & 1) != 0;
}

}  // namespace

int main() {
  unsigned a = 0, b = 0, c1 = 0, d = 0, c7 = 0, b7 = 0;
  if (__get_cpuid(1, &a, &b, &c1, &d) == 0) {
    std::puts("SCALAR");
    return 0;
  }
  __get_cpuid_count(7, 0, &a, &b7, &c7, &d);
  // The operating system saves the AVX (and AVX-512) registers.
  unsigned saved = 0;
  if (Bit(c1, 27)) {
    unsigned high = 0;
    __asm__("xgetbv" : "=a"(saved), "=d"(high) : "c"(0));
  }
  const bool ssse3 = Bit(c1, 9);
  const bool sse4 = ssse3 && Bit(c1, 19) && Bit(c1, 20) && Bit(c1, 1) && Bit(c1, 25);
  const bool avx2 = sse4 && (saved & 6) == 6 && Bit(c1, 28) && Bit(c1, 12) && Bit(c1, 29) &&
                    Bit(b7, 3) && Bit(b7, 5) && Bit(b7, 8);
  const bool avx3 =
      avx2 && (saved & 0xe0) == 0xe0 && Bit(b7, 16) && Bit(b7, 17) && Bit(b7, 30) && Bit(b7, 31);
  std::puts(avx3 ? "AVX3" : avx2 ? "AVX2" : sse4 ? "SSE4" : ssse3 ? "SSSE3" : "SCALAR");
  return 0;
}
