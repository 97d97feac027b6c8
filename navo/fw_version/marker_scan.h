// Finding a four-byte marker in a large buffer (a BIOS image of tens of MiB):
// a block-wise filter on the marker's first and last byte, then an exact compare.
#ifndef NAVO_FW_VERSION_MARKER_SCAN_H_
#define NAVO_FW_VERSION_MARKER_SCAN_H_

#include <cstdint>

// Looks for the four bytes of `marker` (a four-character literal) at every
// offset p with from <= p < limit, lowest first. A candidate whose four bytes
// would run past `size` never matches; nothing at or past data[size] is read.
// Returns true and sets *at to the first match, false when there is none.
bool FindMarker(const uint8_t *data, uint32_t size, uint32_t from, uint32_t limit,
                const char (&marker)[5], uint32_t *at);

// The four bytes at data[offset] equal marker (the caller keeps offset + 4 <= size).
inline bool MarkerAt(const uint8_t *data, uint32_t offset, const char (&marker)[5]) {
  return data[offset] == static_cast<uint8_t>(marker[0]) &&
         data[offset + 1] == static_cast<uint8_t>(marker[1]) &&
         data[offset + 2] == static_cast<uint8_t>(marker[2]) &&
         data[offset + 3] == static_cast<uint8_t>(marker[3]);
}

#endif  // NAVO_FW_VERSION_MARKER_SCAN_H_
