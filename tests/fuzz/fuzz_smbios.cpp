// The SMBIOS reader on structure tables of any content: every string it hands
// back is a view inside the table without a NUL, the UUID is empty or
// 8-4-4-4-12 lower-case hex, and no byte outside the table is read (the input
// sits in a block of exactly its size).
#include <cstdint>
#include <memory>

#include "navo/history/smbios.h"
#include "tests/fuzz/support/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  std::unique_ptr<uint8_t[]> table(new uint8_t[size]);
  std::copy(data, data + size, table.get());
  const history::SmbiosIdentity id = history::ReadSmbiosIdentity(table.get(), size);
  for (std::string_view s : {id.vendor, id.product, id.serial, id.bios}) {
    const auto *p = reinterpret_cast<const uint8_t *>(s.data());
    FUZZ_CHECK(s.empty() || (p >= table.get() && p + s.size() <= table.get() + size));
    FUZZ_CHECK(s.find('\0') == std::string_view::npos);
  }
  const std::string_view uuid = id.Uuid();
  FUZZ_CHECK(uuid.empty() || uuid.size() == 36);
  for (std::size_t i = 0; i < uuid.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    FUZZ_CHECK(dash ? uuid[i] == '-' : (uuid[i] >= '0' && uuid[i] <= '9') || (uuid[i] >= 'a' && uuid[i] <= 'f'));
  }
  fuzz::Trace("serial=%zu bytes uuid=%s", id.serial.size(), id.uuid);
  return 0;
}
