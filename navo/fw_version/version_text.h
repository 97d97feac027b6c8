// Version text: four decimal numbers separated by dots, as typed after -N or
// cut out of the information tool's output.
#ifndef NAVO_FW_VERSION_VERSION_TEXT_H_
#define NAVO_FW_VERSION_VERSION_TEXT_H_

#include <cstdint>

#include "navo/types.h"
#include "platform/platform.h"

// Most digits one field may carry; every field fits a 16-bit number.
inline constexpr uint32_t kMaxVersionFieldDigits = 4;

// Turns "a.b.c.d" (digits and exactly three dots, empty fields read 0, at most
// four digits per field) into *version and returns PLAT_SUCCESS. Anything else
// prints "Fail", an empty line and the F08 line, zeroes *version and returns
// PLAT_NOT_FOUND. The text is not changed.
PlatStatus ParseFwVersionText(const char16_t *text, FwVersion *version);

#endif  // NAVO_FW_VERSION_VERSION_TEXT_H_
