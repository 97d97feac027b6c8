// Synthetic BIOS images for the locator's tests: directory headers, manifests,
// and the plain byte-by-byte search of the rules as a reference.
#ifndef TESTS_HOST_FW_IMAGE_BUILDER_H_
#define TESTS_HOST_FW_IMAGE_BUILDER_H_

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "navo/types.h"

namespace fwimage {

using Bytes = std::vector<uint8_t>;

inline void Put(Bytes &image, std::size_t at, std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size() && at + i < image.size(); ++i)
    image[at + i] = static_cast<uint8_t>(bytes[i]);
}

// A directory header: "$CPD", an entry count, 4 bytes, the name.
inline void Directory(Bytes &image, std::size_t at, std::string_view name, uint32_t entries = 5) {
  Put(image, at, "$CPD");
  for (int i = 0; i < 4; ++i) Put(image, at + 4 + i, std::string(1, char(entries >> (8 * i))));
  Put(image, at + 8, std::string(4, '\x01'));
  Put(image, at + 12, name);
}

inline void Manifest(Bytes &image, std::size_t at, FwVersion v) {
  Put(image, at, "$MN2");
  Put(image, at + 4, std::string(4, '\0'));
  const uint16_t f[] = {v.Major, v.Minor, v.HotFix, v.Build};
  for (int i = 0; i < 4; ++i) {
    const char le[] = {char(f[i]), char(f[i] >> 8)};
    Put(image, at + 8 + 2 * i, std::string_view(le, 2));
  }
}

// The rules read plainly, every offset tried in turn.
inline std::optional<FwVersion> ReferenceVersion(const Bytes &b) {
  const std::size_t n = b.size();
  auto at = [&](std::size_t p, const char *m) { return p + 4 <= n && std::memcmp(&b[p], m, 4) == 0; };
  std::size_t start = 0;
  bool found = false;
  for (std::size_t p = 0; p + 16 <= n; ++p) {
    if (at(p, "$CPD") && at(p + 12, "FTPR")) {
      start = p;
      found = true;
      break;
    }
  }
  if (!found) return std::nullopt;
  std::size_t end = n - 1;
  for (std::size_t q = start + 15; q + 8 <= n; ++q) {
    if (at(q, "$CPD") && b[q + 5] == 0 && b[q + 6] == 0 && b[q + 7] == 0) {
      end = q - 1;
      break;
    }
  }
  for (std::size_t r = start; r < end && r + 16 <= n; ++r) {
    if (at(r, "$MN2")) {
      auto le = [&](std::size_t i) { return uint16_t(b[i] | b[i + 1] << 8); };
      return FwVersion{le(r + 8), le(r + 10), le(r + 12), le(r + 14)};
    }
  }
  return std::nullopt;
}

}  // namespace fwimage

#endif  // TESTS_HOST_FW_IMAGE_BUILDER_H_
