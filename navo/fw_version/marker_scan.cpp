#include "navo/fw_version/marker_scan.h"

#include "platform/cpu_vectors.h"

namespace {

constexpr uint32_t kMarkerBytes = 4;

// Offsets [from, to) one by one.
bool FindExact(const uint8_t *data, uint32_t from, uint32_t to, const char (&marker)[5], uint32_t *at) {
  for (uint32_t p = from; p < to; ++p) {
    if (MarkerAt(data, p, marker)) {
      *at = p;
      return true;
    }
  }
  return false;
}

bool MayStartMapped(const uint8_t *data, uint64_t p) {
  return data[p] == '$' && (data[p + 3] == 'D' || data[p + 3] == '2');
}

// Only the blocks the map marks; the rest cannot hold a mapped marker.
bool FindInMappedBlocks(const uint8_t *data, uint32_t from, uint32_t limit, const char (&marker)[5],
                        const uint64_t *map, uint32_t *at) {
  uint64_t p = from;
  while (p < limit) {
    const uint64_t block = p / kMarkerMapBlock;
    const uint64_t later = map[block / 64] >> (block % 64);
    if (later == 0) {
      p = (block / 64 + 1) * 64 * kMarkerMapBlock;
      continue;
    }
    const uint64_t marked = block + static_cast<uint64_t>(__builtin_ctzll(later));
    const uint64_t start = marked * kMarkerMapBlock;
    const uint64_t end = start + kMarkerMapBlock < limit ? start + kMarkerMapBlock : limit;
    if (start >= limit) return false;
    if (FindExact(data, static_cast<uint32_t>(start > p ? start : p), static_cast<uint32_t>(end), marker, at))
      return true;
    p = end;
  }
  return false;
}

}  // namespace

// Neither the firmware nor the host has a usable memchr for us, and a
// byte-at-a-time loop is several times slower than a memory pass. x86-64
// always has SSE2; AVX2 halves the work per byte where it runs.
#if defined(__x86_64__) && defined(__GNUC__)
#define MARKER_VECTOR_CODE 1

#define MARKER_VB 16
#define MARKER_NAME(x) x##16
#define MARKER_MASK(v) __builtin_ia32_pmovmskb128(v)
#define MARKER_SAD(v, zero) __builtin_ia32_psadbw128(v, zero)
#include "navo/fw_version/marker_kernels.inc"
#undef MARKER_VB
#undef MARKER_NAME
#undef MARKER_MASK
#undef MARKER_SAD

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
#define MARKER_VB 32
#define MARKER_NAME(x) x##32
#define MARKER_MASK(v) __builtin_ia32_pmovmskb256(v)
#define MARKER_SAD(v, zero) __builtin_ia32_psadbw256(v, zero)
#include "navo/fw_version/marker_kernels.inc"
#undef MARKER_VB
#undef MARKER_NAME
#undef MARKER_MASK
#undef MARKER_SAD
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#endif

MarkerVectors BestMarkerVectors() {
  return plat::CpuRunsAvx2() ? MarkerVectors::Bytes32 : MarkerVectors::Bytes16;
}

bool FindMarkerUsing(MarkerVectors vectors, const uint8_t *data, uint32_t size, uint32_t from,
                     uint32_t limit, const char (&marker)[5], uint32_t *at, const uint64_t *map) {
  // One past the last offset that still has four bytes behind it.
  const uint32_t end_of_starts = size >= kMarkerBytes ? size - (kMarkerBytes - 1) : 0;
  if (limit > end_of_starts) limit = end_of_starts;
  if (from >= limit) return false;
  if (map != nullptr && MarkerIsMapped(marker)) return FindInMappedBlocks(data, from, limit, marker, map, at);

  uint32_t p = from;
#if defined(MARKER_VECTOR_CODE)
  // limit <= size - 3, so a block of candidates [p, p + 64) reads at most up to
  // p + 66 < size.
  while (limit - p >= kMarkerMapBlock) {
    p = vectors == MarkerVectors::Bytes32 ? NextBlock32(data, p, limit, marker[0], marker[3])
                                          : NextBlock16(data, p, limit, marker[0], marker[3]);
    if (limit - p < kMarkerMapBlock) break;
    if (FindExact(data, p, p + kMarkerMapBlock, marker, at)) return true;
    p += kMarkerMapBlock;
  }
#else
  static_cast<void>(vectors);
#endif
  return FindExact(data, p, limit, marker, at);
}

uint32_t SumAndMapMarkersUsing(MarkerVectors vectors, const uint8_t *data, uint32_t size,
                               uint32_t running, uint64_t *map) {
  uint64_t block = 0;
#if defined(MARKER_VECTOR_CODE)
  running += static_cast<uint32_t>(vectors == MarkerVectors::Bytes32 ? SumAndMap32(data, size, map, &block)
                                                                     : SumAndMap16(data, size, map, &block));
#else
  static_cast<void>(vectors);
#endif
  // The last blocks byte by byte, each offset tested with the bytes it has.
  const uint32_t words = MarkerMapWords(size);
  for (uint64_t w = (block + 63) / 64; w < words; ++w) map[w] = 0;
  for (uint64_t p = block * kMarkerMapBlock; p < size; ++p) {
    running += data[p];
    if (p + 3 < size && MayStartMapped(data, p)) {
      const uint64_t b = p / kMarkerMapBlock;
      map[b / 64] |= uint64_t{1} << (b % 64);
    }
  }
  return running;
}
