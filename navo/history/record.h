// One line of a service history file: what a board was, what it ran, what was
// decided and how it ended. The stick's recorder and the station's navo-board
// write it, navo-history reads it; all three use this one unit.
//
// A record is one line of printable ASCII ending in CR LF:
//   NAVOREC 1 event=before time=2026-12-10T14:27:16 ... crc=1A2B3C4D
// "NAVOREC" and the format version, then key=value fields separated by one
// blank, the last always crc= with the CRC-32 (IEEE 802.3) of every byte of the
// line before " crc=", as 8 upper-case hex digits. Values are percent-encoded:
// each byte below 0x21 or above 0x7E, and '%' itself, becomes %XX (upper-case
// hex), so a value never holds a blank or a line end; a value may be empty.
// Files are only ever appended to, so a power cut can cut only the last line;
// the CRC tells a cut or scrambled line from a whole one.
//
// The keys, in the order the writer puts them:
//   every event:        event time source vendor product serial uuid bios kind board
//   before and after:   image image_version size sum32 sum16 decision
//   every event, last:  status
// A flash record carries the board's identity, kind, board and status, and
// none of the image keys; a before or after record carries every key. A reader
// takes the keys in any order, but each that the event carries exactly once
// and no other. Adding a key or changing what one means is a new format
// version: a reader names a line of a version it does not know instead of
// guessing at it.
#ifndef NAVO_HISTORY_RECORD_H_
#define NAVO_HISTORY_RECORD_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace history {

inline constexpr std::string_view kMagic = "NAVOREC";
inline constexpr unsigned kFormatVersion = 1;

enum class Event : uint8_t { Before, Flash, After };
// The names as constants: a string_view made from a bare literal at run time
// would call strlen, which the firmware build does not have.
inline constexpr std::string_view kEventNames[] = {"before", "flash", "after"};
inline constexpr std::string_view EventName(Event e) {
  return e == Event::Before ? kEventNames[0] : e == Event::Flash ? kEventNames[1] : kEventNames[2];
}
// Whether the event's records carry the image keys (image to decision).
inline constexpr bool CarriesImage(Event e) { return e != Event::Flash; }

// Text fields are byte strings as the source gave them (SMBIOS strings, sysfs
// files, the image name as typed); the writer encodes them. Empty: not known.
struct Record {
  Event event;
  std::string_view time;     // "YYYY-MM-DDTHH:MM:SS", "Z" appended when it is UTC
  std::string_view source;   // "stick" or "station"
  std::string_view vendor;   // SMBIOS type 1 manufacturer
  std::string_view product;  // SMBIOS type 1 product name
  std::string_view serial;   // SMBIOS type 1 serial number
  std::string_view uuid;     // SMBIOS type 1 UUID, 8-4-4-4-12 lower-case hex
  std::string_view bios;     // SMBIOS type 0 BIOS version
  std::string_view kind;     // "ME" or "TXE"
  std::string_view board;    // the version running on the board, "" when none was read
  // Before and after only (a flash record has none of them; the writer refuses
  // one that sets any):
  std::string_view image;          // the image's name as typed
  std::string_view image_version;  // the version in the image, "" when none
  std::string_view size;           // "0x400000"
  std::string_view sum32;          // "0x3FBFAB92"
  std::string_view sum16;          // "AB92"
  std::string_view decision;       // "update", "downgrade", "same" or "none"
  // The check's exit status (before, after) or the update script's (flash), in
  // decimal as the caller saw it.
  std::string_view status;
};

// Every key after event with its field, in the order the writer puts them;
// `image`: carried by before and after only.
struct RecordField {
  std::string_view key;
  std::string_view Record::*member;
  bool image;
};
inline constexpr RecordField kRecordFields[] = {
    {"time", &Record::time, false},
    {"source", &Record::source, false},
    {"vendor", &Record::vendor, false},
    {"product", &Record::product, false},
    {"serial", &Record::serial, false},
    {"uuid", &Record::uuid, false},
    {"bios", &Record::bios, false},
    {"kind", &Record::kind, false},
    {"board", &Record::board, false},
    {"image", &Record::image, true},
    {"image_version", &Record::image_version, true},
    {"size", &Record::size, true},
    {"sum32", &Record::sum32, true},
    {"sum16", &Record::sum16, true},
    {"decision", &Record::decision, true},
    {"status", &Record::status, false},
};

// The longest line a writer makes and a reader takes, CR LF included. A record
// whose encoded fields need more is not written at all.
inline constexpr std::size_t kMaxRecordBytes = 2048;

// Writes the record's line, CR LF included, into `out`; returns its length, or
// 0 when nothing is to be written: the line would be longer than `out` or than
// kMaxRecordBytes, or a flash record sets an image field.
std::size_t FormatRecord(const Record &record, std::span<char> out);

enum class LineVerdict : uint8_t {
  Whole,        // a record of this format version, CRC right, every field there
  Cut,          // the record's end is missing: the file ends inside it, or a
                // later append ended the cut line (a power cut while writing)
  Damaged,      // the CRC does not match, or bytes a record never holds (NUL, ...)
  Malformed,    // CRC right but a field missing, repeated or badly encoded
  NewerFormat,  // "NAVOREC" with a format version this reader does not know
  NotARecord,   // does not begin with "NAVOREC "
};

// What a reader gets back: the verdict and, for a whole record, its fields
// decoded into `storage` (the views point into it). For any other verdict
// `why` says what is wrong in a few words ("its CRC does not match"), and
// `key` names the key at fault (for NewerFormat: the version) as a view into
// the line or a static text, or is empty.
struct ParsedRecord {
  LineVerdict verdict;
  Record record;
  std::string_view why;
  std::string_view key;
};

// Reads one line (without its line end; `ended` tells whether one followed).
// A record's line that is not ended is cut whatever it holds: the line end is
// the last byte the writer writes. An ended line whose crc= is missing or short
// is cut as well: the appender ends a cut line before it writes the next
// record. (One cut after its last CRC digit lost only its line end, and reads
// whole once ended.) `storage` needs line.size() bytes at most (a decoded
// value is never longer than its encoding); a record that does not fit is
// Malformed.
ParsedRecord ParseRecordLine(std::string_view line, bool ended, std::span<char> storage);

// A history file's bytes line by line, as every reader splits them: a line
// runs up to a line feed, less the carriage return before it.
struct HistoryLine {
  std::size_t number;  // from 1
  std::string_view text;
  bool ended;  // a line feed followed
};
struct LineCursor {
  std::string_view rest;  // the bytes not yet split
  std::size_t number = 0;  // of the last line handed out
};
// The next line; false when no byte is left.
bool NextLine(LineCursor *cursor, HistoryLine *line);

}  // namespace history

#endif  // NAVO_HISTORY_RECORD_H_
