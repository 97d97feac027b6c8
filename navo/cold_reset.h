// Full reset of the machine through the chipset's reset control port.
#ifndef NAVO_COLD_RESET_H_
#define NAVO_COLD_RESET_H_

// Execution may go on for a moment after the write; callers return 0 right
// after.
void ColdReset();

#endif  // NAVO_COLD_RESET_H_
