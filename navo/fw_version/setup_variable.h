// Board version source 2: the BIOS setup's MeInfoSetup variable.
#ifndef NAVO_FW_VERSION_SETUP_VARIABLE_H_
#define NAVO_FW_VERSION_SETUP_VARIABLE_H_

#include <cstdint>

#include "navo/types.h"
#include "platform/platform.h"

// Vendor GUID of the MeInfoSetup variable.
inline constexpr PlatGuid kMeInfoSetupGuid = {
    0x78259433, 0x7B6D, 0x4DB3, {0x9A, 0xE8, 0x36, 0xC4, 0xC2, 0xC3, 0xA1, 0x7D}};

// Bytes the variable is read into; a larger variable does not fit and fails.
inline constexpr uint64_t kMeInfoSetupSize = 22;
// Bytes that hold the four version fields (1..16); a shorter variable fails.
inline constexpr uint64_t kMeInfoSetupVersionBytes = 17;
// Every field must be below this.
inline constexpr uint32_t kMeInfoSetupFieldLimit = 9999;

// Returns 0 with *version taken from the variable, or 1 with *version zeroed
// (missing, too large, too short, or a field of 9999 or more). Prints only
// with `verbose`.
PlatStatus ReadMeInfoSetupVersion(FwVersion *version, uint8_t verbose);

#endif  // NAVO_FW_VERSION_SETUP_VARIABLE_H_
