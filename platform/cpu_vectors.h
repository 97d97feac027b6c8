// Whether this processor may run AVX2 code right now. The instruction set is
// not enough: the system must also have switched the wide registers on
// (OSXSAVE and the YMM state in XCR0), which firmware often leaves off. Same
// code in the firmware and on Linux; the answer is taken once per run.
#ifndef PLATFORM_CPU_VECTORS_H_
#define PLATFORM_CPU_VECTORS_H_

#if defined(__x86_64__) && defined(__GNUC__)
#include <cpuid.h>
#endif

#include <cstdint>

namespace plat {

#if defined(__x86_64__) && defined(__GNUC__)
inline bool DetectAvx2() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0) return false;
  constexpr unsigned kOsXsave = 1u << 27, kAvx = 1u << 28;
  if ((c & kOsXsave) == 0 || (c & kAvx) == 0) return false;
  unsigned xcr0 = 0, xcr0_high = 0;
  __asm__ volatile("xgetbv" : "=a"(xcr0), "=d"(xcr0_high) : "c"(0));
  constexpr unsigned kSseAndYmmState = 0x6;
  if ((xcr0 & kSseAndYmmState) != kSseAndYmmState) return false;
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid_count(7, 0, a, b, c, d);
  constexpr unsigned kAvx2 = 1u << 5;
  return (b & kAvx2) != 0;
}
#else
inline bool DetectAvx2() { return false; }
#endif

inline bool CpuRunsAvx2() {
  // 0 not asked yet, 1 no, 2 yes: constant-initialised, no start-up code.
  static uint8_t answer = 0;
  if (answer == 0) answer = DetectAvx2() ? 2 : 1;
  return answer == 2;
}

}  // namespace plat

#endif  // PLATFORM_CPU_VECTORS_H_
