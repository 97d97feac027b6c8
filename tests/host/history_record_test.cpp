// The service history's record line: the exact bytes the writer makes, every
// field back as it went in, and the verdict on every kind of line that is not
// a whole record.
#include "navo/history/record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using history::Event;
using history::LineVerdict;
using history::Record;

std::string Format(const Record &r) {
  std::string out(history::kMaxRecordBytes, '\0');
  out.resize(history::FormatRecord(r, out));
  return out;
}

// A whole line read and written anew: with the writer's lines fixed below,
// the same line again means every field came back to its place.
std::string ReadAndWriteAgain(std::string_view line) {
  std::vector<char> storage(line.size());
  const auto parsed = history::ParseRecordLine(line.substr(0, line.size() - 2), true, storage);
  return parsed.verdict == LineVerdict::Whole ? Format(parsed.record) : std::string(parsed.why);
}

const Record kBefore{Event::Before, "2026-12-10T14:27:16", "stick", "Maker GmbH", "Q420TM07", "SN%001",
                     "4c4c4544-0042-3510-8052-b4c04f384d32", "Q420TM07 R1.02", "ME", "12.0.49.1534",
                     "Q420TM07.BIN", "12.0.64.1551", "0x400000", "0x3FBFAB92", "AB92", "update", "64"};
const Record kFlash{Event::Flash, "2026-12-10T14:28:02Z", "station", "", "Q420TM07", "", "", "", "TXE", "",
                    "", "", "", "", "", "", "0"};

// The lines as the format has them, their CRCs computed by another CRC-32.
TEST(HistoryRecord, WritesTheFormatsLine) {
  const struct {
    const Record &record;
    std::string_view line;
  } cases[] = {
      {kBefore,
       "NAVOREC 1 event=before time=2026-12-10T14:27:16 source=stick vendor=Maker%20GmbH product=Q420TM07 "
       "serial=SN%25001 uuid=4c4c4544-0042-3510-8052-b4c04f384d32 bios=Q420TM07%20R1.02 kind=ME "
       "board=12.0.49.1534 image=Q420TM07.BIN image_version=12.0.64.1551 size=0x400000 sum32=0x3FBFAB92 "
       "sum16=AB92 decision=update status=64 crc=ABE2EEBA\r\n"},
      {kFlash,
       "NAVOREC 1 event=flash time=2026-12-10T14:28:02Z source=station vendor= product=Q420TM07 serial= uuid= "
       "bios= kind=TXE board= status=0 crc=E561E099\r\n"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(Format(c.record), c.line);
    EXPECT_EQ(ReadAndWriteAgain(c.line), c.line);
  }
}

TEST(HistoryRecord, RoundTripsEveryFieldAndByte) {
  std::string every_byte;
  for (int b = 0; b < 256; ++b) every_byte += static_cast<char>(b);
  const std::string with_nul("SN\0 1", 5);
  const Record cases[] = {
      {Event::Before, "t", "s", " leading blank", "trailing blank ", with_nul, "%", "%%25", "=", "a=b=c",
       "\r\n", "\x7F\x80", "\xFF", "Ger\xC3\xA4t", "", "update", "-1"},
      {Event::After, every_byte, "", "", "", "", "", "", "", "", "", "", "", "", "", "none", "1"},
      {Event::Flash, "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", ""},
  };
  // The encoding is one-to-one: the same line again is the same fields.
  for (const Record &r : cases) {
    const std::string line = Format(r);
    ASSERT_TRUE(line.ends_with("\r\n"));
    for (const char c : line.substr(0, line.size() - 2)) ASSERT_TRUE(c >= 0x20 && c <= 0x7E) << line;
    EXPECT_EQ(ReadAndWriteAgain(line), line);
  }
}

TEST(HistoryRecord, RefusesWhatItCannotWrite) {
  // A flash record with an image field: HistoryFile.ReturnsTheFailingCallsStatus.
  Record too_long = kBefore;
  const std::string serial(history::kMaxRecordBytes / 3, '\x01');  // three bytes each, encoded
  too_long.serial = serial;
  std::string room(4 * history::kMaxRecordBytes, '\0');
  EXPECT_EQ(history::FormatRecord(too_long, room), 0u);
  // Room for the line and not a byte more is enough; one byte less is nothing.
  const std::size_t length = Format(kBefore).size();
  std::string out(length, '\0');
  EXPECT_EQ(history::FormatRecord(kBefore, out), length);
  EXPECT_EQ(history::FormatRecord(kBefore, std::span<char>(out).first(length - 1)), 0u);
}

TEST(HistoryRecord, NamesEveryLineThatIsNotWhole) {
  const std::string whole =
      "NAVOREC 1 event=flash time=2026-12-10T14:28:02Z source=station vendor= product=Q420TM07 serial= uuid= "
      "bios= kind=TXE board= status=0 crc=E561E099";
  std::string scrambled = whole;
  scrambled[60] = 'R';
  std::string with_nul = whole;
  with_nul[60] = '\0';
  std::string lower_crc = whole;
  lower_crc.replace(lower_crc.size() - 8, 8, "e561e099");
  const std::string before_fields =
      "NAVOREC 1 event=before time= source= vendor= product= serial= uuid= bios= kind= board= image= "
      "image_version= size= sum32= sum16= decision=";
  const std::string any_order =
      "NAVOREC 1 status=1 board=1.2.3.4 kind=ME bios= uuid= serial= product= vendor= source= time= event=flash "
      "crc=83A0E19F";
  const std::string long_line = "NAVOREC 1 event=flash time= source= vendor= product= serial=" +
                                std::string(2100, 'A') + " uuid= bios= kind= board= status=0 crc=E3AAB9BD";
  const struct {
    std::string line;
    bool ended;
    LineVerdict verdict;
    std::string_view key;
  } cases[] = {
      {any_order, true, LineVerdict::Whole, ""},
      // Cut (every cut point: HistoryFile.ACutAtEveryByteOfTheLastRecord), before any other verdict.
      {"NAVOREC 2 a newer line", false, LineVerdict::Cut, ""},
      {"NAVOREC 10", true, LineVerdict::Cut, ""},
      // Damaged: the CRC or the bytes.
      {scrambled, true, LineVerdict::Damaged, ""},
      {with_nul, true, LineVerdict::Damaged, ""},
      {lower_crc, true, LineVerdict::Damaged, ""},
      {whole + "0", true, LineVerdict::Damaged, ""},
      // Malformed: CRC right, fields wrong.
      {before_fields + " crc=8B6E6502", true, LineVerdict::Malformed, "status"},
      {before_fields + " status=0 event=after crc=23BDC970", true, LineVerdict::Malformed, "event"},
      {before_fields + " status=0 colour=red crc=70549F5C", true, LineVerdict::Malformed, "colour"},
      {before_fields + " status=0 junk crc=861FD81E", true, LineVerdict::Malformed, "junk"},
      {"NAVOREC 1 event=flash time= source= vendor= product= serial= uuid= bios= kind= board= image=X.BIN "
       "status=0 crc=CB4231CA",
       true, LineVerdict::Malformed, "image"},
      {"NAVOREC 1 event=before time= source= vendor= product= serial=SN%2 uuid= bios= kind= board= image= "
       "image_version= size= sum32= sum16= decision= status=0 crc=7C267FE6",
       true, LineVerdict::Malformed, "serial"},
      {"NAVOREC 1 event=during time= source= vendor= product= serial= uuid= bios= kind= board= image= "
       "image_version= size= sum32= sum16= decision= status=0 crc=CA6300B7",
       true, LineVerdict::Malformed, "during"},
      {"NAVOREC 1 crc=F3FA49D9", true, LineVerdict::Malformed, "event"},
      {"NAVOREC 01 event=flash crc=836324A9", true, LineVerdict::Malformed, ""},
      {long_line, true, LineVerdict::Malformed, ""},
      // Another format version, or no record at all.
      {"NAVOREC 2 whatever it holds", true, LineVerdict::NewerFormat, "2"},
      {"", true, LineVerdict::NotARecord, ""},
      {"NAVOREC1 event=flash", false, LineVerdict::NotARecord, ""},
      {"\xFF\xFENAVOREC 1", true, LineVerdict::NotARecord, ""},
  };
  for (const auto &c : cases) {
    std::vector<char> storage(c.line.size());
    const auto parsed = history::ParseRecordLine(c.line, c.ended, storage);
    EXPECT_EQ(parsed.verdict, c.verdict) << c.line << " (" << parsed.why << ")";
    EXPECT_EQ(parsed.key, c.key) << c.line;
    EXPECT_EQ(parsed.why.empty(), c.verdict == LineVerdict::Whole) << c.line;
  }
  // The storage a reader gives is all that is written to.
  std::vector<char> small(4, '\0');
  EXPECT_EQ(history::ParseRecordLine(any_order, true, small).verdict, LineVerdict::Malformed);
}

}  // namespace
