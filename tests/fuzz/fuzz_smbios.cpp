// The SMBIOS reader on structure tables of any content, against a plain walk
// written with std::string: the same identity, every string a view inside the
// table, and no byte read outside it (the input sits in a block of its size).
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "navo/history/smbios.h"
#include "tests/fuzz/support/fuzz_input.h"

namespace {

struct Model {
  std::string vendor, product, serial, bios, uuid;
};

Model Walk(const std::string &t) {
  Model m;
  bool bios = false, system = false;
  for (std::size_t at = 0; at + 4 <= t.size() && !(bios && system);) {
    const uint8_t type = static_cast<uint8_t>(t[at]), length = static_cast<uint8_t>(t[at + 1]);
    if (length < 4 || at + length > t.size()) break;
    const std::size_t end = t.find(std::string(2, '\0'), at + length);
    if (end == std::string::npos || type == 127) break;
    const std::string formatted = t.substr(at, length), set = t.substr(at + length, end - at - length);
    std::vector<std::string> strings;
    for (std::size_t from = 0;;) {
      const std::size_t nul = set.find('\0', from);
      strings.push_back(set.substr(from, nul == std::string::npos ? std::string::npos : nul - from));
      if (nul == std::string::npos) break;
      from = nul + 1;
    }
    auto string = [&](std::size_t field) {
      if (field >= formatted.size() || formatted[field] == 0) return std::string();
      const std::size_t n = static_cast<uint8_t>(formatted[field]);
      return n <= strings.size() ? strings[n - 1] : std::string();
    };
    if (type == 0 && !bios) {
      bios = true;
      m.bios = string(5);
    } else if (type == 1 && !system) {
      system = true;
      m.vendor = string(4);
      m.product = string(5);
      m.serial = string(7);
      const std::string u = formatted.size() >= 24 ? formatted.substr(8, 16) : "";
      if (!u.empty() && u != std::string(16, '\0') && u != std::string(16, '\xff')) {
        static const int order[] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
        char hex[3];
        for (int i = 0; i < 16; ++i) {
          if (i == 4 || i == 6 || i == 8 || i == 10) m.uuid += '-';
          std::snprintf(hex, sizeof hex, "%02x", static_cast<uint8_t>(u[order[i]]));
          m.uuid += hex;
        }
      }
    }
    at = end + 2;
  }
  return m;
}

bool Inside(std::string_view s, const uint8_t *table, std::size_t size) {
  const auto *p = reinterpret_cast<const uint8_t *>(s.data());
  return s.empty() || (p >= table && p + s.size() <= table + size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  std::unique_ptr<uint8_t[]> table(new uint8_t[size]);
  std::copy(data, data + size, table.get());
  const history::SmbiosIdentity id = history::ReadSmbiosIdentity(table.get(), size);
  const Model m = Walk(std::string(reinterpret_cast<const char *>(data), size));
  fuzz::Trace("vendor=%s serial=%s uuid=%s bios=%s", m.vendor.c_str(), m.serial.c_str(), m.uuid.c_str(),
              m.bios.c_str());
  FUZZ_CHECK(id.vendor == m.vendor && id.product == m.product && id.serial == m.serial);
  FUZZ_CHECK(id.bios == m.bios && id.Uuid() == m.uuid);
  for (std::string_view s : {id.vendor, id.product, id.serial, id.bios}) FUZZ_CHECK(Inside(s, table.get(), size));
  return 0;
}
