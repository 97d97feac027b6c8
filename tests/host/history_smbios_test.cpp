// The board's identity out of SMBIOS structure tables as firmware writes them,
// and as a cut or hostile one may be.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "navo/history/smbios.h"

namespace {

using Bytes = std::string;

// One structure: header, the formatted part's remaining bytes, its strings.
Bytes Structure(uint8_t type, Bytes body, std::vector<Bytes> strings = {}) {
  Bytes s;
  s += static_cast<char>(type);
  s += static_cast<char>(4 + body.size());
  s += Bytes("\x34\x12", 2);  // handle
  s += body;
  for (const Bytes &text : strings) s += text + Bytes(1, '\0');
  if (strings.empty()) s += Bytes(1, '\0');
  return s + Bytes(1, '\0');
}

const Bytes kUuid("\x33\x22\x11\x00\x55\x44\x77\x66\x88\x99\xaa\xbb\xcc\xdd\xee\xff", 16);

// Type 1 as SMBIOS 2.6 lays it out: maker 1, product 2, version 3, serial 4.
Bytes System(Bytes uuid = kUuid, std::vector<Bytes> strings = {"ZAN", "Q420", "1.0", "SN0042"}) {
  return Structure(1, Bytes("\x01\x02\x03\x04", 4) + uuid + Bytes("\x06\x00\x00", 3), strings);
}
Bytes Bios() { return Structure(0, Bytes("\x01\x02\x00\xF0\x03\x00", 6), {"ZAN", "Q420 1.07", "12/10/2026"}); }
const Bytes kEnd = Structure(127, "");

struct Result {
  std::string vendor, product, serial, uuid, bios;
  bool operator==(const Result &) const = default;
};

// Reads from a block of exactly the table's size, so that AddressSanitizer sees a read past it.
Result Read(const Bytes &table) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[table.size()]);
  std::copy(table.begin(), table.end(), copy.get());
  const history::SmbiosIdentity id = history::ReadSmbiosIdentity(copy.get(), table.size());
  return {std::string(id.vendor), std::string(id.product), std::string(id.serial), std::string(id.Uuid()),
          std::string(id.bios)};
}

const Result kAll{"ZAN", "Q420", "SN0042", "00112233-4455-6677-8899-aabbccddeeff", "Q420 1.07"};

TEST(HistorySmbios, Tables) {
  const Bytes whole = Structure(4, "\x01\x02", {"CPU"}) + Bios() + System() + kEnd;
  struct Case {
    const char *what;
    Bytes table;
    Result expected;
  };
  const Case cases[] = {
      {"type 0 and 1 among others", whole, kAll},
      {"the first of each counts", System() + Bios() + System(kUuid, {"X", "Y", "Z", "W"}) + Bios(), kAll},
      {"after end of table nothing counts", Bios() + kEnd + System(), {"", "", "", "", "Q420 1.07"}},
      {"structure without strings ends in two NULs", Structure(2, Bytes(2, '\0')) + System(), {"ZAN", "Q420", "SN0042", kAll.uuid, ""}},
      {"string number 0 and past the set",
       Structure(1, Bytes("\x00\x02\x03\x09", 4) + kUuid, {"ZAN", "Q420"}), {"", "Q420", "", kAll.uuid, ""}},
      {"SMBIOS 2.0 type 1 has no UUID", Structure(1, Bytes("\x01\x02\x03\x04", 4), {"A", "B", "C", "D"}),
       {"A", "B", "D", "", ""}},
      {"all-zero UUID is not set", System(Bytes(16, '\0')), {"ZAN", "Q420", "SN0042", "", ""}},
      {"all-FF UUID is not set", System(Bytes(16, '\xff')), {"ZAN", "Q420", "SN0042", "", ""}},
      {"UUID one byte short of the formatted part",
       Structure(1, Bytes("\x01\x02\x03\x04", 4) + kUuid.substr(0, 15), {"A", "B", "C", "D"}), {"A", "B", "D", "", ""}},
      {"bytes outside ASCII pass as they are", System(kUuid, {"Z\xc3\xa4N", "Q 420", "1.0", "SN\x01"}),
       {"Z\xc3\xa4N", "Q 420", "SN\x01", kAll.uuid, ""}},
      {"length below the header's", Bytes("\x01\x03\x00\x00\x00\x00", 6) + System(), {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Read(c.table), c.expected);
  }
  const history::SmbiosIdentity none = history::ReadSmbiosIdentity(nullptr, 100);
  EXPECT_TRUE(none.serial.empty() && none.Uuid().empty());
}

// Every cut of a whole table: strings come back whole or not at all, and
// nothing past the cut is read (AddressSanitizer).
TEST(HistorySmbios, EveryCut) {
  const Bytes whole = Bios() + System() + kEnd;
  for (std::size_t n = 0; n <= whole.size(); ++n) {
    SCOPED_TRACE(n);
    const Result r = Read(whole.substr(0, n));
    const bool has_bios = n >= Bios().size(), has_system = n >= Bios().size() + System().size();
    EXPECT_EQ(r.bios, has_bios ? "Q420 1.07" : "");
    EXPECT_EQ(r.serial, has_system ? "SN0042" : "");
    EXPECT_EQ(r.uuid, has_system ? kAll.uuid : "");
  }
}

}  // namespace
