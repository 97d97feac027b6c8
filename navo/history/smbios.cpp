#include "navo/history/smbios.h"

namespace history {
namespace {

constexpr uint8_t kTypeBios = 0;
constexpr uint8_t kTypeSystem = 1;
constexpr uint8_t kTypeEndOfTable = 127;
constexpr uint64_t kHeaderBytes = 4;

// Offsets into the formatted parts.
constexpr uint8_t kBiosVersion = 0x05;
constexpr uint8_t kSystemManufacturer = 0x04;
constexpr uint8_t kSystemProduct = 0x05;
constexpr uint8_t kSystemSerial = 0x07;
constexpr uint8_t kSystemUuid = 0x08;
constexpr uint8_t kUuidBytes = 16;

// One structure: its formatted part [at, at + length) and its string set
// [strings, end), the set's closing NUL excluded.
struct Structure {
  const uint8_t *at;
  uint8_t length;
  const uint8_t *strings;
  const uint8_t *end;
};

// The structure at `offset`, or false when it does not lie wholly inside the
// table. *next is where the following one starts.
bool StructureAt(const uint8_t *table, uint64_t length, uint64_t offset, Structure *s,
                 uint64_t *next) {
  if (length - offset < kHeaderBytes) return false;
  const uint8_t formatted = table[offset + 1];
  if (formatted < kHeaderBytes || formatted > length - offset) return false;
  // The string set ends at the first pair of NULs; with no strings it is that
  // pair alone, right behind the formatted part.
  uint64_t i = offset + formatted;
  while (i + 1 < length && !(table[i] == 0 && table[i + 1] == 0)) ++i;
  if (i + 1 >= length) return false;
  *s = Structure{table + offset, formatted, table + offset + formatted, table + i};
  *next = i + 2;
  return true;
}

// String number `field` of the structure's set; 0 and numbers past the set's
// end give an empty view.
std::string_view StringField(const Structure &s, uint8_t field) {
  if (field >= s.length) return {};
  uint8_t number = s.at[field];
  if (number == 0) return {};
  const uint8_t *p = s.strings;
  while (p < s.end) {
    const uint8_t *start = p;
    while (p < s.end && *p != 0) ++p;
    if (--number == 0) return std::string_view(reinterpret_cast<const char *>(start), p - start);
    ++p;  // its NUL
  }
  return {};
}

void FormatUuid(const Structure &s, char (&out)[kUuidTextBytes]) {
  out[0] = '\0';
  if (s.length < kSystemUuid + kUuidBytes) return;
  const uint8_t *u = s.at + kSystemUuid;
  bool zeros = true, ones = true;
  for (int i = 0; i < kUuidBytes; ++i) {
    zeros = zeros && u[i] == 0x00;
    ones = ones && u[i] == 0xFF;
  }
  if (zeros || ones) return;
  // SMBIOS 2.6 on stores the first three fields little-endian, the rest in
  // the order they are written.
  constexpr uint8_t kOrder[kUuidBytes] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  constexpr char kHex[] = "0123456789abcdef";
  std::size_t n = 0;
  for (int i = 0; i < kUuidBytes; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out[n++] = '-';
    out[n++] = kHex[u[kOrder[i]] >> 4];
    out[n++] = kHex[u[kOrder[i]] & 0xF];
  }
  out[n] = '\0';
}

}  // namespace

SmbiosIdentity ReadSmbiosIdentity(const uint8_t *table, uint64_t length) {
  SmbiosIdentity id{};
  if (table == nullptr) return id;
  bool bios = false, system = false;
  uint64_t offset = 0;
  Structure s;
  uint64_t next = 0;
  while (!(bios && system) && offset < length && StructureAt(table, length, offset, &s, &next)) {
    const uint8_t type = s.at[0];
    if (type == kTypeEndOfTable) break;
    if (type == kTypeBios && !bios) {
      bios = true;
      id.bios = StringField(s, kBiosVersion);
    } else if (type == kTypeSystem && !system) {
      system = true;
      id.vendor = StringField(s, kSystemManufacturer);
      id.product = StringField(s, kSystemProduct);
      id.serial = StringField(s, kSystemSerial);
      FormatUuid(s, id.uuid);
    }
    offset = next;
  }
  return id;
}

}  // namespace history
