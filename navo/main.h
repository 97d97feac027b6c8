// The utility's front end: its shell entry and the banner atop every screen.
// Also read by the C shell entry, hence plain C outside the C++ part.
#ifndef NAVO_MAIN_H_
#define NAVO_MAIN_H_

#include <stdint.h>

#include "platform/platform.h"

#ifdef __cplusplus
void PrintBanner();

extern "C" {
#endif

// argc/argv as the shell hands them over (argv[0] is the program's name).
// Returns the exit status.
uint64_t NavoMain(uint64_t argc, PlatChar16 **argv);

#ifdef __cplusplus
}
#endif

#endif  // NAVO_MAIN_H_
