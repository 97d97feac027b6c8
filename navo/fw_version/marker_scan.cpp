#include "navo/fw_version/marker_scan.h"

namespace {

constexpr uint32_t kMarkerBytes = 4;

#if defined(__GNUC__)
// 16-byte vectors: SSE2 on x86-64 (always present there), plain scalar code
// where the target has no vector unit. Neither the firmware nor the host has a
// usable memchr for us, and a byte-at-a-time loop is several times slower
// than a memory pass on a 32 MiB image.
typedef uint8_t Bytes16 __attribute__((vector_size(16)));
typedef uint64_t Words2 __attribute__((vector_size(16)));
constexpr uint32_t kBlock = 64;

inline Bytes16 Load16(const uint8_t *p) {
  Bytes16 v;
  __builtin_memcpy(&v, p, sizeof v);
  return v;
}

inline Bytes16 Splat(uint8_t b) {
  return Bytes16{b, b, b, b, b, b, b, b, b, b, b, b, b, b, b, b};
}

// Whether any offset in [p, p + 64) has the marker's first byte there and its
// last byte three further on. Reads p .. p + 66.
inline bool BlockMayHold(const uint8_t *p, Bytes16 first, Bytes16 last) {
  Bytes16 hit = (Load16(p) == first) & (Load16(p + 3) == last);
  hit |= (Load16(p + 16) == first) & (Load16(p + 19) == last);
  hit |= (Load16(p + 32) == first) & (Load16(p + 35) == last);
  hit |= (Load16(p + 48) == first) & (Load16(p + 51) == last);
  Words2 w = reinterpret_cast<Words2>(hit);
  return (w[0] | w[1]) != 0;
}
#endif

}  // namespace

bool FindMarker(const uint8_t *data, uint32_t size, uint32_t from, uint32_t limit,
                const char (&marker)[5], uint32_t *at) {
  // One past the last offset that still has four bytes behind it.
  const uint32_t end_of_starts = size >= kMarkerBytes ? size - (kMarkerBytes - 1) : 0;
  if (limit > end_of_starts) limit = end_of_starts;
  uint32_t p = from;

#if defined(__GNUC__)
  const Bytes16 first = Splat(static_cast<uint8_t>(marker[0]));
  const Bytes16 last = Splat(static_cast<uint8_t>(marker[3]));
  // limit <= size - 3, so a block of candidates [p, p + 64) reads at most up to
  // p + 66 < size.
  while (p < limit && limit - p >= kBlock) {
    if (BlockMayHold(data + p, first, last)) {
      for (uint32_t q = p; q < p + kBlock; ++q) {
        if (MarkerAt(data, q, marker)) {
          *at = q;
          return true;
        }
      }
    }
    p += kBlock;
  }
#endif

  for (; p < limit; ++p) {
    if (MarkerAt(data, p, marker)) {
      *at = p;
      return true;
    }
  }
  return false;
}
