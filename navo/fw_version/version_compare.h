// Ordering of firmware versions: Major, Minor, HotFix, Build as unsigned
// numbers; the first field that differs decides (12.0.70.1000 > 12.0.64.1551).
#ifndef NAVO_FW_VERSION_VERSION_COMPARE_H_
#define NAVO_FW_VERSION_VERSION_COMPARE_H_

#include "navo/types.h"

// Negative when a is older than b, 0 when equal, positive when a is newer.
constexpr int CompareFwVersion(const FwVersion &a, const FwVersion &b) {
  const uint16_t left[] = {a.Major, a.Minor, a.HotFix, a.Build};
  const uint16_t right[] = {b.Major, b.Minor, b.HotFix, b.Build};
  for (int i = 0; i < 4; ++i) {
    if (left[i] != right[i]) return left[i] < right[i] ? -1 : 1;
  }
  return 0;
}

#endif  // NAVO_FW_VERSION_VERSION_COMPARE_H_
