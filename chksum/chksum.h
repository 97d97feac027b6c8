// CHKSUM: reads one file whole and reports its size, the 32-bit sum of its
// bytes and the low 16 bits of that sum (the form the board maker's BIOS
// history records note).
#ifndef CHKSUM_CHKSUM_H_
#define CHKSUM_CHKSUM_H_

#include <cstdint>

#include "platform/platform.h"

namespace chksum {

inline constexpr uint32_t kVersionMajor = 1;
inline constexpr uint32_t kVersionMinor = 0;

// Exit status when the file's buffer cannot be had (the tools' callers know
// it as a bare 9, not as a UEFI error status).
inline constexpr uint64_t kNoBufferStatus = 9;

// Continues a running sum with the bytes of [data, data + size), each taken
// as 0..255; the sum wraps around at 32 bits. Continuing from the sum of a
// prefix gives the sum of the whole.
uint32_t ContinueByteSum(uint32_t running, const uint8_t *data, uint64_t size);

// The report: name as typed, size (low 32 bits), the sum and its low 16 bits.
void PrintChksumReport(const char16_t *name, uint64_t size, uint32_t sum);

}  // namespace chksum

// Argc/Argv as the shell hands them over (Argv[0] is the program's name).
// Returns 0, the failing file operation's status, or kNoBufferStatus.
extern "C" uint64_t ChksumMain(uint64_t Argc, PlatChar16 **Argv);

#endif  // CHKSUM_CHKSUM_H_
