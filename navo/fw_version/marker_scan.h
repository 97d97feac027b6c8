// Finding a four-byte marker in a large buffer (a BIOS image of tens of MiB):
// a block-wise filter on the marker's first and last byte, then an exact compare.
#ifndef NAVO_FW_VERSION_MARKER_SCAN_H_
#define NAVO_FW_VERSION_MARKER_SCAN_H_

#include <cstdint>

// The vector code a search runs: 16-byte vectors (SSE2, on every x86-64) or
// 32-byte ones (AVX2, where the processor runs it). Both find the same.
enum class MarkerVectors : uint8_t { Bytes16, Bytes32 };

// The widest this processor runs.
MarkerVectors BestMarkerVectors();

// A marker map of a buffer: bit b of word b / 64 stands for the 64 offsets
// [64 b, 64 b + 64). A clear bit promises that none of them starts four bytes
// inside the buffer that begin with '$' and end with 'D' or '2' (the locator's
// "$CPD" and "$MN2"); a set bit only says that one may.
inline constexpr uint32_t kMarkerMapBlock = 64;
inline constexpr uint32_t MarkerMapWords(uint32_t size) {
  return static_cast<uint32_t>((uint64_t{size} + 64 * kMarkerMapBlock - 1) / (64 * kMarkerMapBlock));
}
inline constexpr bool MarkerIsMapped(const char (&marker)[5]) {
  return marker[0] == '$' && (marker[3] == 'D' || marker[3] == '2');
}

// Looks for the four bytes of `marker` (a four-character literal) at every
// offset p with from <= p < limit, lowest first. A candidate whose four bytes
// would run past `size` never matches; nothing at or past data[size] is read.
// With a map of the same bytes (MarkerIsMapped(marker) must hold), blocks
// whose bit is clear are passed over unread.
// Returns true and sets *at to the first match, false when there is none.
bool FindMarkerUsing(MarkerVectors vectors, const uint8_t *data, uint32_t size, uint32_t from,
                     uint32_t limit, const char (&marker)[5], uint32_t *at,
                     const uint64_t *map = nullptr);

inline bool FindMarker(const uint8_t *data, uint32_t size, uint32_t from, uint32_t limit,
                       const char (&marker)[5], uint32_t *at, const uint64_t *map = nullptr) {
  return FindMarkerUsing(BestMarkerVectors(), data, size, from, limit, marker, at, map);
}

// One pass over [data, data + size) that both continues a byte sum (each byte
// 0..255, wrapping at 32 bits, as CHKSUM sums) and writes the buffer's marker
// map, MarkerMapWords(size) words. The Linux tool does both while a piece of
// the file is still in the cache; returns the continued sum.
uint32_t SumAndMapMarkersUsing(MarkerVectors vectors, const uint8_t *data, uint32_t size,
                               uint32_t running, uint64_t *map);

inline uint32_t SumAndMapMarkers(const uint8_t *data, uint32_t size, uint32_t running, uint64_t *map) {
  return SumAndMapMarkersUsing(BestMarkerVectors(), data, size, running, map);
}

// The four bytes at data[offset] equal marker (the caller keeps offset + 4 <= size).
inline bool MarkerAt(const uint8_t *data, uint32_t offset, const char (&marker)[5]) {
  return data[offset] == static_cast<uint8_t>(marker[0]) &&
         data[offset + 1] == static_cast<uint8_t>(marker[1]) &&
         data[offset + 2] == static_cast<uint8_t>(marker[2]) &&
         data[offset + 3] == static_cast<uint8_t>(marker[3]);
}

#endif  // NAVO_FW_VERSION_MARKER_SCAN_H_
