#include "platform/posix/byte_names.h"

#include <cstdint>

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

}  // namespace

std::size_t Utf8SequenceAt(std::string_view s, std::size_t p, std::size_t *bad) {
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

namespace {

// The length of the character at p when a message may show it as it is, else
// 0 with *hidden set to the bytes to escape: a C0 control or DEL, a C1 control
// (raw, which a Latin-1 terminal acts on, or in UTF-8), any ill-formed part.
std::size_t ShownAt(std::string_view s, std::size_t p, std::size_t *hidden) {
  const std::size_t length = Utf8SequenceAt(s, p, hidden);
  const auto b0 = static_cast<uint8_t>(s[p]);
  const bool control = length == 1 ? b0 < 0x20 || b0 == 0x7F
                                   : length == 2 && b0 == 0xC2 && static_cast<uint8_t>(s[p + 1]) <= 0x9F;
  if (!control) return length;
  *hidden = length;
  return 0;
}

// Appends byte b as $'...' writes it.
void AppendEscaped(std::string &out, uint8_t b) {
  constexpr char kNamed[] = "abtnvfr";  // \a (7) to \r (13)
  out += '\\';
  if (b >= 7 && b <= 13) {
    out += kNamed[b - 7];
  } else {
    out += static_cast<char>('0' + (b >> 6));
    out += static_cast<char>('0' + ((b >> 3) & 7));
    out += static_cast<char>('0' + (b & 7));
  }
}

}  // namespace

std::string NameForMessage(std::string_view bytes) {
  std::size_t hidden = 0;
  std::size_t plain = 0;
  for (std::size_t n = 0; plain < bytes.size() && (n = ShownAt(bytes, plain, &hidden)) != 0;) plain += n;
  if (!bytes.empty() && plain == bytes.size()) return std::string(bytes);

  // Runs of shown characters go in '...', runs of the others in $'...', and
  // a quote is \' between them.
  enum class Run : uint8_t { None, Quoted, Escaped } run = Run::None;
  std::string out;
  const auto enter = [&](Run next) {
    if (run == next) return;
    if (run != Run::None) out += '\'';
    if (next == Run::Quoted) out += '\'';
    if (next == Run::Escaped) out += "$'";
    run = next;
  };
  if (bytes.empty()) enter(Run::Quoted);
  for (std::size_t p = 0; p < bytes.size();) {
    const std::size_t shown = ShownAt(bytes, p, &hidden);
    if (shown == 0) {
      enter(Run::Escaped);
      for (std::size_t i = p; i < p + hidden; ++i) AppendEscaped(out, static_cast<uint8_t>(bytes[i]));
      p += hidden;
      continue;
    }
    if (bytes[p] == '\'') {
      enter(Run::None);
      out += "\\'";
    } else {
      enter(Run::Quoted);
      out.append(bytes.substr(p, shown));
    }
    p += shown;
  }
  enter(Run::None);
  return out;
}
