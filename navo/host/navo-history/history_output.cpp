#include "navo/host/navo-history/history_output.h"

#include <cstdint>
#include <vector>

#include "navo/host/json_text.h"
#include "platform/posix/byte_names.h"

namespace {

using history::Record;

// The table's columns; width 0 is the last one, neither padded nor cut. The
// widths fit the values the recorders write (a UTC time, "downgrade", a.b.c.d
// versions of 12 characters); a serial, product or image name may be longer.
struct Column {
  std::string_view title;
  std::string_view Record::*member;  // nullptr: the event
  std::size_t width;
};
constexpr Column kColumns[] = {
    {"TIME", &Record::time, 20},     {"EVENT", nullptr, 6},
    {"SOURCE", &Record::source, 7},  {"SERIAL", &Record::serial, 14},
    {"PRODUCT", &Record::product, 14}, {"KIND", &Record::kind, 4},
    {"BOARD", &Record::board, 12},   {"IMAGE", &Record::image, 14},
    {"IMAGE VERSION", &Record::image_version, 13}, {"DECISION", &Record::decision, 9},
    {"STATUS", &Record::status, 0},
};

// A piece of a value as the table shows it and the columns it takes.
struct Shown {
  std::string text;
  std::size_t columns;
};

// Printable ASCII and characters past it in well-formed UTF-8 as they are;
// every other byte, and '%', as %XX, the way the file holds it: a value from
// a board's firmware can carry a terminal's escapes.
std::vector<Shown> ShownPieces(std::string_view value) {
  constexpr char kHex[] = "0123456789ABCDEF";
  std::vector<Shown> pieces;
  for (std::size_t p = 0; p < value.size();) {
    const auto b = static_cast<uint8_t>(value[p]);
    std::size_t length = 1;
    if (b >= 0x20 && b < 0x7F && b != '%') {
      pieces.push_back({std::string(1, value[p]), 1});
    } else {
      std::size_t bad = 0;
      length = b >= 0x80 ? Utf8SequenceAt(value, p, &bad) : 0;
      // U+0080 to U+009F are control characters as well.
      const bool control = length == 2 && b == 0xC2 && static_cast<uint8_t>(value[p + 1]) < 0xA0;
      if (length != 0 && !control) {
        pieces.push_back({std::string(value.substr(p, length)), 1});
      } else {
        length = length != 0 ? length : 1;
        for (std::size_t i = 0; i < length; ++i) {
          const auto byte = static_cast<uint8_t>(value[p + i]);
          pieces.push_back({std::string{'%', kHex[byte >> 4], kHex[byte & 0xF]}, 3});
        }
      }
    }
    p += length;
  }
  return pieces;
}

// A value cut to `width` columns (ending in ~ when it was) and padded to it;
// "-" for an empty one.
std::string Cell(std::string_view value, std::size_t width) {
  if (value.empty()) value = "-";
  const std::vector<Shown> pieces = ShownPieces(value);
  std::size_t columns = 0;
  for (const Shown &s : pieces) columns += s.columns;
  std::string out;
  if (width == 0 || columns <= width) {
    for (const Shown &s : pieces) out += s.text;
  } else {
    columns = 0;
    for (const Shown &s : pieces) {
      if (columns + s.columns > width - 1) break;
      out += s.text;
      columns += s.columns;
    }
    out += '~';
    ++columns;
  }
  if (width > columns) out.append(width - columns, ' ');
  return out;
}

std::string_view ColumnValue(const Column &c, const Record &r) {
  return c.member == nullptr ? history::EventName(r.event) : r.*c.member;
}

std::string CsvField(std::string_view value) {
  if (value.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(value);
  std::string out = "\"";
  for (const char c : value) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// One more key with its value as a JSON string, and KEY_hex with the value's
// bytes after it when they are not UTF-8.
void JsonText(std::string &out, std::string_view key, std::string_view value) {
  out += ", \"";
  out += key;
  out += "\": ";
  if (!AppendJsonString(out, value)) out += ", \"" + std::string(key) + "_hex\": \"" + HexBytes(value) + "\"";
}

}  // namespace

std::string OutputHeader(OutputForm form) {
  std::string out;
  switch (form) {
    case OutputForm::Table:
      for (const Column &c : kColumns) out += (out.empty() ? "" : " ") + Cell(c.title, c.width);
      return out + "\n";
    case OutputForm::Csv:
      out = "file,line,event";
      for (const history::RecordField &f : history::kRecordFields) out += "," + std::string(f.key);
      return out + "\r\n";
    case OutputForm::Json:
      break;
  }
  return out;
}

std::string OutputRow(OutputForm form, std::string_view file, std::size_t line, const Record &record) {
  const bool image = history::CarriesImage(record.event);
  std::string out;
  switch (form) {
    case OutputForm::Table:
      for (const Column &c : kColumns) out += (out.empty() ? "" : " ") + Cell(ColumnValue(c, record), c.width);
      return out + "\n";
    case OutputForm::Csv:
      out = CsvField(file) + "," + std::to_string(line) + "," + std::string(history::EventName(record.event));
      for (const history::RecordField &f : history::kRecordFields) out += "," + CsvField(record.*f.member);
      return out + "\r\n";
    case OutputForm::Json:
      out = "{\"file\": ";
      if (!AppendJsonString(out, file)) out += ", \"file_hex\": \"" + HexBytes(file) + "\"";
      out += ", \"line\": " + std::to_string(line);
      JsonText(out, "event", history::EventName(record.event));
      for (const history::RecordField &f : history::kRecordFields) {
        if (f.image && !image)
          out += ", \"" + std::string(f.key) + "\": null";
        else
          JsonText(out, f.key, record.*f.member);
      }
      return out + "}\n";
  }
  return out;
}

std::string LineProblem(const history::ParsedRecord &parsed) {
  const std::string why(parsed.why);
  const std::string key(parsed.key);
  switch (parsed.verdict) {
    case history::LineVerdict::Whole:
      break;
    case history::LineVerdict::Cut:
      return "cut record (" + why + ")";
    case history::LineVerdict::Damaged:
      return "damaged record (" + why + ")";
    case history::LineVerdict::Malformed:
      return "malformed record (" + why + (key.empty() ? "" : ": " + key) + ")";
    case history::LineVerdict::NewerFormat:
      return "record of a newer format (version " + key + "; navo-history reads version " +
             std::to_string(history::kFormatVersion) + ")";
    case history::LineVerdict::NotARecord:
      return "not a record (" + why + ")";
  }
  return "";
}
