// The report lines, shared by CHKSUM.efi and the Linux tools that print the
// same figures.
#ifndef CHKSUM_REPORT_H_
#define CHKSUM_REPORT_H_

#include <cstdint>

namespace chksum {

// The report: name as typed, size (low 32 bits), the sum and its low 16 bits.
void PrintChksumReport(const char16_t *name, uint64_t size, uint32_t sum);

}  // namespace chksum

#endif  // CHKSUM_REPORT_H_
