#include "navo/host/json_text.h"

#include <cstdint>
#include <cstdio>

#include "platform/posix/byte_names.h"

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";

}  // namespace

bool AppendJsonString(std::string &out, std::string_view bytes) {
  bool utf8 = true;
  out += '"';
  for (std::size_t p = 0; p < bytes.size();) {
    std::size_t bad = 0;
    const std::size_t length = Utf8SequenceAt(bytes, p, &bad);
    if (length == 0) {
      out += kReplacement;
      utf8 = false;
      p += bad;
      continue;
    }
    const char c = bytes[p];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<uint8_t>(c) < 0x20) {
      char escaped[8];
      static_cast<void>(std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c)));
      out += escaped;
    } else {
      out.append(bytes.substr(p, length));
    }
    p += length;
  }
  out += '"';
  return utf8;
}

std::string HexBytes(std::string_view bytes) {
  constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * bytes.size());
  for (const char c : bytes) {
    out += kDigits[static_cast<uint8_t>(c) >> 4];
    out += kDigits[static_cast<uint8_t>(c) & 0xF];
  }
  return out;
}
