#include "chksum/report.h"

#include "platform/print.h"

namespace chksum {

void PrintChksumReport(const char16_t *name, uint64_t size, uint32_t sum) {
  Print(u"======= File Info =======\n");
  Print(u"File name            : %s\n", name);
  Print(u"File size            : 0x%X\n", static_cast<uint32_t>(size));
  Print(u"Checksum(File Size)  : 0x%08X\n", sum);
  Print(u"Checksum(ZAN History): %04X\n", static_cast<uint32_t>(sum & 0xFFFF));
}

}  // namespace chksum
