// The version commands: show the board's or a file's firmware version, and
// compare the board's version with a file's or a typed one.
#ifndef NAVO_FW_VERSION_COMMANDS_H_
#define NAVO_FW_VERSION_COMMANDS_H_

#include <cstdint>

#include "navo/types.h"

// -CHKMEVER / -CHKTXEVER. Returns the exit status (64 update, 69 no update, 1 failure).
uint8_t CheckFwVersion(VersionSource source, BoardReadMethod method, FwKind kind,
                       const char16_t *value);

// -MBMEVER / -MBTXEVER.
uint8_t ShowBoardFwVersion(FwKind kind, BoardReadMethod method);

// -FILEMEVER / -FILETXEVER.
uint8_t ShowFileFwVersion(const char16_t *file_name, FwKind kind);

#endif  // NAVO_FW_VERSION_COMMANDS_H_
