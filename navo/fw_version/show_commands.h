// The show commands: the board's or a file's firmware version.
#ifndef NAVO_FW_VERSION_SHOW_COMMANDS_H_
#define NAVO_FW_VERSION_SHOW_COMMANDS_H_

#include <cstdint>

#include "navo/types.h"

// -MBMEVER / -MBTXEVER.
uint8_t ShowBoardFwVersion(FwKind kind, BoardReadMethod method);

// -FILEMEVER / -FILETXEVER.
uint8_t ShowFileFwVersion(const char16_t *file_name, FwKind kind);

#endif  // NAVO_FW_VERSION_SHOW_COMMANDS_H_
