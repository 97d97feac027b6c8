// The utility's front end: what other subsystems use of it.
#ifndef NAVO_MAIN_H_
#define NAVO_MAIN_H_

#include <cstdint>

#include "platform/platform.h"

// Full reset through the chipset's reset control port. Execution may go on for
// a moment; callers return 0 right after.
void ColdReset();

void PrintBanner();

extern "C" uint64_t NavoMain(uint64_t Argc, PlatChar16 **Argv);

#endif  // NAVO_MAIN_H_
