// CHKSUM: reads one file whole and reports its size, the 32-bit sum of its
// bytes and the low 16 bits of that sum (the form the board maker's BIOS
// history records note).
#ifndef CHKSUM_CHKSUM_H_
#define CHKSUM_CHKSUM_H_

#include <stdint.h>

#include "platform/platform.h"

#ifdef __cplusplus
namespace chksum {

inline constexpr uint32_t kVersionMajor = 1;
inline constexpr uint32_t kVersionMinor = 0;

// Continues a running sum with the bytes of [data, data + size), each taken
// as 0..255; the sum wraps around at 32 bits. Continuing from the sum of a
// prefix gives the sum of the whole.
uint32_t ContinueByteSum(uint32_t running, const uint8_t *data, uint64_t size);

}  // namespace chksum

extern "C" {
#endif

// argc/argv as the shell hands them over (argv[0] is the program's name).
// Returns 0, the failing file operation's status, or PLAT_NO_BUFFER.
uint64_t ChksumMain(uint64_t argc, PlatChar16 **argv);

#ifdef __cplusplus
}
#endif

#endif  // CHKSUM_CHKSUM_H_
