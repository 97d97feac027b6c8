// -CHKMEVER / -CHKTXEVER: compares the board's firmware version with a file's
// or a typed one.
#ifndef NAVO_FW_VERSION_CHECK_COMMAND_H_
#define NAVO_FW_VERSION_CHECK_COMMAND_H_

#include <cstdint>

#include "navo/types.h"

// Returns the exit status (64 update, 69 no update, 1 failure).
uint8_t CheckFwVersion(VersionSource source, BoardReadMethod method, FwKind kind,
                       const char16_t *value);

#endif  // NAVO_FW_VERSION_CHECK_COMMAND_H_
