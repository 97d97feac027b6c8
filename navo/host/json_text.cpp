#include "navo/host/json_text.h"

#include <cstdint>
#include <cstdio>

namespace {

// A lead byte: how many continuation bytes follow, and the range the first
// of them must lie in (the ranges that keep out overlong forms, surrogates
// and values past U+10FFFF).
struct Lead {
  bool valid;
  uint8_t continuations;
  uint8_t low;
  uint8_t high;
};

constexpr Lead LeadOf(uint8_t b) {
  if (b < 0x80) return {true, 0, 0, 0};
  if (b >= 0xC2 && b <= 0xDF) return {true, 1, 0x80, 0xBF};
  if (b == 0xE0) return {true, 2, 0xA0, 0xBF};
  if (b == 0xED) return {true, 2, 0x80, 0x9F};
  if (b >= 0xE1 && b <= 0xEF) return {true, 2, 0x80, 0xBF};
  if (b == 0xF0) return {true, 3, 0x90, 0xBF};
  if (b >= 0xF1 && b <= 0xF3) return {true, 3, 0x80, 0xBF};
  if (b == 0xF4) return {true, 3, 0x80, 0x8F};
  return {false, 0, 0, 0};
}

// The length of the well-formed sequence at p, or 0 with *bad set to the
// length of the ill-formed part that one U+FFFD stands for (at least 1).
std::size_t SequenceAt(std::string_view s, std::size_t p, std::size_t *bad) {
  const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(s[i]); };
  const Lead lead = LeadOf(byte(p));
  *bad = 1;
  if (!lead.valid) return 0;
  for (std::size_t k = 1; k <= lead.continuations; ++k) {
    const uint8_t low = k == 1 ? lead.low : 0x80;
    const uint8_t high = k == 1 ? lead.high : 0xBF;
    if (p + k >= s.size() || byte(p + k) < low || byte(p + k) > high) {
      *bad = k;
      return 0;
    }
  }
  return lead.continuations + 1u;
}

constexpr char kReplacement[] = "\xEF\xBF\xBD";

}  // namespace

bool AppendJsonString(std::string &out, std::string_view bytes) {
  bool utf8 = true;
  out += '"';
  for (std::size_t p = 0; p < bytes.size();) {
    std::size_t bad = 0;
    const std::size_t length = SequenceAt(bytes, p, &bad);
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
