// The override-state test that runs before the check commands.
#ifndef NAVO_PRE_STEP_H_
#define NAVO_PRE_STEP_H_

#include "navo/types.h"

// Makes sure the engine's information tool is in the current directory and that
// "MeInfo.efi -fitver" does not report the override state (status 0xC601).
// Prints its progress line and, on failure, the F03 or F11 line. True when the
// check command may run.
bool CheckPreStep(FwKind kind);

#endif  // NAVO_PRE_STEP_H_
