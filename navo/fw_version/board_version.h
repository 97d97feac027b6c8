// The firmware version running on the board, by one read method or by all of
// them in turn.
#ifndef NAVO_FW_VERSION_BOARD_VERSION_H_
#define NAVO_FW_VERSION_BOARD_VERSION_H_

#include <cstdint>

#include "navo/types.h"
#include "platform/platform.h"

// Runs `method` (1 HECI, 2 MeInfoSetup, 3 MeInfo.efi, 11 TXEInfo.efi), or for
// Auto (0) methods 1, 2, 3 until one yields a status of 0 with a non-zero
// Major. Returns the status of the last method run, so callers must test Major
// as well. Any other method value returns PLAT_UNSUPPORTED and leaves *version
// as handed in (zero). Traces what it tries when `verbose` is set.
PlatStatus ReadBoardFwVersion(FwVersion *version, BoardReadMethod method, uint8_t verbose);

// The method the version commands ask for: the one named on the command line,
// else the engine's information tool (the commands never use Auto).
BoardReadMethod CommandReadMethod(FwKind kind, BoardReadMethod method);

#endif  // NAVO_FW_VERSION_BOARD_VERSION_H_
