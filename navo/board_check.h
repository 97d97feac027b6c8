// The maker's signature in the board's legacy BIOS area.
#ifndef NAVO_BOARD_CHECK_H_
#define NAVO_BOARD_CHECK_H_

#include <cstdint>

inline constexpr uint64_t kLegacyAreaBase = 0xF0000;
inline constexpr uint64_t kLegacyAreaSize = 0x10000;  // up to and including 0xFFFFF

// True when "$$ZAN-" or "$$VEK-" lies wholly inside area[0, length).
bool HasBoardSignature(const volatile uint8_t *area, uint64_t length);

// "Check ZAN Board..." with its outcome; on a board without the signature also
// the F02 line. True when the board is one of ours.
bool CheckBoardSignature();

#endif  // NAVO_BOARD_CHECK_H_
