// What a history record says about the board, out of the firmware's SMBIOS
// structure table: the system's maker, product, serial number and UUID (type 1)
// and the BIOS version (type 0).
//
// The table comes from firmware and may be cut short or wrong: nothing outside
// [table, table + length) is read, whatever its lengths and string numbers say.
#ifndef NAVO_HISTORY_SMBIOS_H_
#define NAVO_HISTORY_SMBIOS_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace history {

// "01234567-89ab-cdef-0123-456789abcdef" and a NUL.
inline constexpr std::size_t kUuidTextBytes = 37;

// Empty views: the table has no such structure or string. The strings are
// views into the table, as the firmware wrote them.
struct SmbiosIdentity {
  std::string_view vendor;   // type 1 manufacturer
  std::string_view product;  // type 1 product name
  std::string_view serial;   // type 1 serial number
  std::string_view bios;     // type 0 BIOS version
  // Type 1 UUID, 8-4-4-4-12 lower-case hex; empty when the structure has none
  // or it is all zeros or all ones (SMBIOS: not present, or not set yet).
  char uuid[kUuidTextBytes];
  // (No strlen: the firmware build has no C library.)
  std::string_view Uuid() const { return uuid[0] == '\0' ? std::string_view() : std::string_view(uuid, kUuidTextBytes - 1); }
};

// Reads the first type 0 and type 1 structures of the table. A structure
// whose formatted part or string set runs past the table's end, or whose
// length is below its header's, ends the walk: what came before still counts.
SmbiosIdentity ReadSmbiosIdentity(const uint8_t *table, uint64_t length);

}  // namespace history

#endif  // NAVO_HISTORY_SMBIOS_H_
