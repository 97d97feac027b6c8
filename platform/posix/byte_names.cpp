#include "platform/posix/byte_names.h"

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

// The character of the UTF-8 sequence at p, if it is a well-formed, shortest
// form of a character in the 16-bit range other than a surrogate; its length
// goes to *length. 0 otherwise.
char16_t DecodeOne(std::string_view s, std::size_t p, std::size_t *length) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char b0 = byte(p);
  if (b0 < 0x80) {
    *length = 1;
    return b0;
  }
  const auto continuation = [&](std::size_t i) { return i < s.size() && (byte(i) & 0xC0) == 0x80; };
  if ((b0 & 0xE0) == 0xC0 && continuation(p + 1)) {
    const char32_t c = ((b0 & 0x1Fu) << 6) | (byte(p + 1) & 0x3Fu);
    if (c < 0x80) return 0;
    *length = 2;
    return static_cast<char16_t>(c);
  }
  if ((b0 & 0xF0) == 0xE0 && continuation(p + 1) && continuation(p + 2)) {
    const char32_t c = ((b0 & 0x0Fu) << 12) | ((byte(p + 1) & 0x3Fu) << 6) | (byte(p + 2) & 0x3Fu);
    if (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    *length = 3;
    return static_cast<char16_t>(c);
  }
  return 0;
}

}  // namespace

std::u16string Ucs2FromBytes(std::string_view bytes) {
  std::u16string out;
  for (std::size_t p = 0; p < bytes.size();) {
    std::size_t length = 0;
    const char16_t c = DecodeOne(bytes, p, &length);
    if (length == 0) {
      out += static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(bytes[p]));
      ++p;
    } else {
      out += c;
      p += length;
    }
  }
  return out;
}

void AppendBytes(std::string &out, char16_t c) {
  if (c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF) {
    out += static_cast<char>(c - kEscapeBase);
  } else if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string BytesFromUcs2(const char16_t *text) {
  std::string out;
  for (; *text != 0; ++text) AppendBytes(out, *text);
  return out;
}
