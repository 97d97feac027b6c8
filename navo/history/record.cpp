#include "navo/history/record.h"

namespace history {

namespace {

using namespace std::string_view_literals;

constexpr std::string_view kHead = "NAVOREC ";
constexpr std::string_view kCrcKey = " crc=";

constexpr std::size_t kFieldCount = sizeof kRecordFields / sizeof kRecordFields[0];
static_assert(kFieldCount < 32, "one bit each in a 32-bit mask, the event's included");

constexpr char kHexDigits[] = "0123456789ABCDEF";

uint32_t Crc32(std::string_view bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (const char c : bytes) {
    crc ^= static_cast<uint8_t>(c);
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

bool MustEncode(uint8_t b) { return b < 0x21 || b > 0x7E || b == '%'; }

// Upper-case hex only: the writer makes no other, and a line that CRC-checks
// with another was not made by it.
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The line being written; once something does not fit, nothing more is put.
class LineOut {
 public:
  explicit LineOut(std::span<char> out) : out_(out) {}
  void Put(std::string_view text) {
    for (const char c : text) PutChar(c);
  }
  void PutEncoded(std::string_view value) {
    for (const char c : value) {
      const auto b = static_cast<uint8_t>(c);
      if (!MustEncode(b)) {
        PutChar(c);
        continue;
      }
      PutChar('%');
      PutChar(kHexDigits[b >> 4]);
      PutChar(kHexDigits[b & 0xF]);
    }
  }
  void PutDecimal(unsigned value) {
    if (value >= 10) PutDecimal(value / 10);
    PutChar(static_cast<char>('0' + value % 10));
  }
  void PutHex8(uint32_t value) {
    for (int shift = 28; shift >= 0; shift -= 4) PutChar(kHexDigits[(value >> shift) & 0xF]);
  }
  bool ok() const { return ok_; }
  std::size_t size() const { return size_; }
  std::string_view Text() const { return {out_.data(), size_}; }

 private:
  void PutChar(char c) {
    if (!ok_ || size_ == out_.size()) {
      ok_ = false;
      return;
    }
    out_[size_++] = c;
  }
  std::span<char> out_;
  std::size_t size_ = 0;
  bool ok_ = true;
};

// string_view's find of a character may call memchr, which the firmware
// build does not have.
std::size_t FindChar(std::string_view text, char c, std::size_t from) {
  for (std::size_t i = from; i < text.size(); ++i)
    if (text[i] == c) return i;
  return std::string_view::npos;
}

std::size_t FindLast(std::string_view text, std::string_view what) {
  if (text.size() < what.size()) return std::string_view::npos;
  for (std::size_t i = text.size() - what.size() + 1; i-- > 0;)
    if (text.substr(i, what.size()) == what) return i;
  return std::string_view::npos;
}

ParsedRecord Verdict(LineVerdict verdict, std::string_view why, std::string_view key = {}) {
  return ParsedRecord{verdict, Record{}, why, key};
}

ParsedRecord CutRecord(bool ended) {
  return Verdict(LineVerdict::Cut, ended ? "its end is missing: a power cut while it was written?"sv
                                         : "the file ends inside it: a power cut while it was written?"sv);
}

bool ParseEvent(std::string_view value, Event *event) {
  for (const Event e : {Event::Before, Event::Flash, Event::After}) {
    if (value == EventName(e)) {
      *event = e;
      return true;
    }
  }
  return false;
}

enum class Decoded : uint8_t { Ok, BadEncoding, NoRoom };

// Decodes `value` into the front of `*room` and takes what it used from it.
Decoded Decode(std::string_view value, std::span<char> *room, std::string_view *decoded) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < value.size(); ++i, ++n) {
    if (n == room->size()) return Decoded::NoRoom;
    char c = value[i];
    if (c == '%') {
      if (i + 2 >= value.size()) return Decoded::BadEncoding;
      const int high = HexValue(value[i + 1]);
      const int low = HexValue(value[i + 2]);
      if (high < 0 || low < 0) return Decoded::BadEncoding;
      c = static_cast<char>(high << 4 | low);
      i += 2;
    }
    (*room)[n] = c;
  }
  *decoded = std::string_view(room->data(), n);
  *room = room->subspan(n);
  return Decoded::Ok;
}

}  // namespace

std::size_t FormatRecord(const Record &record, std::span<char> out) {
  if (!CarriesImage(record.event)) {
    for (const RecordField &f : kRecordFields)
      if (f.image && !(record.*f.member).empty()) return 0;
  }
  LineOut line(out.size() > kMaxRecordBytes ? out.first(kMaxRecordBytes) : out);
  line.Put(kMagic);
  line.Put(" "sv);
  line.PutDecimal(kFormatVersion);
  line.Put(" event="sv);
  line.Put(EventName(record.event));
  for (const RecordField &f : kRecordFields) {
    if (f.image && !CarriesImage(record.event)) continue;
    line.Put(" "sv);
    line.Put(f.key);
    line.Put("="sv);
    line.PutEncoded(record.*f.member);
  }
  if (!line.ok()) return 0;
  const uint32_t crc = Crc32(line.Text());
  line.Put(kCrcKey);
  line.PutHex8(crc);
  line.Put("\r\n"sv);
  return line.ok() ? line.size() : 0;
}

ParsedRecord ParseRecordLine(std::string_view line, bool ended, std::span<char> storage) {
  // The first bytes of a record, cut before its format version.
  if (!line.empty() && kHead.starts_with(line)) return CutRecord(ended);
  if (!line.starts_with(kHead)) {
    return Verdict(LineVerdict::NotARecord,
                   line.empty() ? "an empty line"sv : "it does not begin with \"NAVOREC \""sv);
  }
  if (!ended) return CutRecord(ended);

  std::size_t digits = 0;
  while (kHead.size() + digits < line.size() && line[kHead.size() + digits] >= '0' &&
         line[kHead.size() + digits] <= '9')
    ++digits;
  const std::string_view version = line.substr(kHead.size(), digits);
  const std::size_t fields_at = kHead.size() + digits + 1;
  if (digits == 0 || version[0] == '0' || fields_at > line.size() || line[fields_at - 1] != ' ') {
    // "NAVOREC 1" alone is a record cut before its first field.
    if (fields_at == line.size() + 1 && digits != 0 && version[0] != '0') return CutRecord(ended);
    return Verdict(LineVerdict::Malformed, "no format version after \"NAVOREC\""sv);
  }
  if (version != "1"sv)
    return Verdict(LineVerdict::NewerFormat, "a format version this reader does not know"sv, version);
  static_assert(kFormatVersion == 1, "the version text above");

  for (const char c : line) {
    if (static_cast<uint8_t>(c) < 0x20 || static_cast<uint8_t>(c) > 0x7E)
      return Verdict(LineVerdict::Damaged, "it holds a byte no record holds"sv);
  }

  // Values hold no blank, so " crc=" can only be the last field.
  const std::size_t crc_at = FindLast(line, kCrcKey);
  if (crc_at == std::string_view::npos || crc_at + 1 < fields_at) return CutRecord(ended);
  const std::string_view crc_text = line.substr(crc_at + kCrcKey.size());
  uint32_t crc = 0;
  for (const char c : crc_text) {
    const int v = HexValue(c);
    if (v < 0) return Verdict(LineVerdict::Damaged, "its crc= is not 8 upper-case hex digits"sv);
    crc = crc << 4 | static_cast<uint32_t>(v);
  }
  if (crc_text.size() < 8) return CutRecord(ended);
  if (crc_text.size() > 8) return Verdict(LineVerdict::Damaged, "its crc= is not 8 upper-case hex digits"sv);
  if (crc != Crc32(line.substr(0, crc_at))) return Verdict(LineVerdict::Damaged, "its CRC does not match"sv);
  if (line.size() + 2 > kMaxRecordBytes) return Verdict(LineVerdict::Malformed, "longer than any record"sv);

  ParsedRecord parsed{LineVerdict::Whole, Record{}, {}, {}};
  Record &r = parsed.record;
  constexpr uint32_t kEventBit = 1u << kFieldCount;
  uint32_t seen = 0;
  std::span<char> room = storage;
  const std::string_view fields =
      crc_at >= fields_at ? line.substr(fields_at, crc_at - fields_at) : std::string_view{};
  for (std::size_t at = 0; !fields.empty() && at <= fields.size();) {
    std::size_t end = FindChar(fields, ' ', at);
    if (end == std::string_view::npos) end = fields.size();
    const std::string_view token = fields.substr(at, end - at);
    at = end + 1;
    const std::size_t equals = FindChar(token, '=', 0);
    if (equals == std::string_view::npos)
      return Verdict(LineVerdict::Malformed, "a field that is not key=value"sv, token);
    const std::string_view key = token.substr(0, equals);
    const std::string_view value = token.substr(equals + 1);
    if (key == "event"sv) {
      if ((seen & kEventBit) != 0) return Verdict(LineVerdict::Malformed, "a key given twice"sv, key);
      seen |= kEventBit;
      if (!ParseEvent(value, &r.event)) return Verdict(LineVerdict::Malformed, "an event it does not know"sv, value);
      continue;
    }
    std::size_t i = 0;
    while (i < kFieldCount && kRecordFields[i].key != key) ++i;
    if (i == kFieldCount) return Verdict(LineVerdict::Malformed, "a key this format does not have"sv, key);
    if ((seen & 1u << i) != 0) return Verdict(LineVerdict::Malformed, "a key given twice"sv, key);
    seen |= 1u << i;
    switch (Decode(value, &room, &(r.*kRecordFields[i].member))) {
      case Decoded::Ok:
        break;
      case Decoded::BadEncoding:
        return Verdict(LineVerdict::Malformed, "a value badly percent-encoded"sv, key);
      case Decoded::NoRoom:
        return Verdict(LineVerdict::Malformed, "more than the reader has room for"sv, key);
    }
  }
  if ((seen & kEventBit) == 0) return Verdict(LineVerdict::Malformed, "a key missing"sv, "event"sv);
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    const bool carried = !kRecordFields[i].image || CarriesImage(r.event);
    const bool there = (seen & 1u << i) != 0;
    if (carried && !there) return Verdict(LineVerdict::Malformed, "a key missing"sv, kRecordFields[i].key);
    if (!carried && there)
      return Verdict(LineVerdict::Malformed, "a key its event does not carry"sv, kRecordFields[i].key);
  }
  return parsed;
}

bool NextLine(LineCursor *cursor, HistoryLine *line) {
  if (cursor->rest.empty()) return false;
  const std::size_t feed = FindChar(cursor->rest, '\n', 0);
  const bool ended = feed != std::string_view::npos;
  std::string_view text = cursor->rest.substr(0, feed);
  cursor->rest = ended ? cursor->rest.substr(feed + 1) : std::string_view{};
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  *line = HistoryLine{++cursor->number, text, ended};
  return true;
}

}  // namespace history
