// NAVOREC.efi: appends one record of the service history to HISTORY.TXT in the
// root of the current directory's mapping, for the stick's scripts around an
// update:
//   NAVOREC.efi -BEFORE|-AFTER -ME|-TXE IMAGE STATUS [-RB01|-RB02|-RB03]
//   NAVOREC.efi -FLASH -ME|-TXE STATUS [-RB01|-RB02|-RB03]
// It asks nothing and prints one line: what it appended, or why it appended
// nothing. Also read by the C shell entry, hence plain C outside the C++ part.
#ifndef NAVO_RECORDER_RECORDER_H_
#define NAVO_RECORDER_RECORDER_H_

#include <stdint.h>

#include "platform/platform.h"

#ifdef __cplusplus
extern "C" {
#endif

// argc/argv as the shell hands them over (argv[0] is the program's name).
// Returns 0 when a record was appended, 1 when not.
uint64_t NavoRecMain(uint64_t argc, PlatChar16 **argv);

#ifdef __cplusplus
}
#endif

#endif  // NAVO_RECORDER_RECORDER_H_
