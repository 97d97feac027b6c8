// NAVOREC.efi on a simulated board: the record each command line appends (read
// back with the history's own reader), its one line of output, its exit status.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "navo/fw_version/setup_variable.h"
#include "navo/history/record.h"
#include "navo/recorder/recorder.h"
#include "tests/host/fw_image_builder.h"
#include "tests/sim/sim_board.h"

namespace {

using history::Record;
using Fields = std::map<std::string, std::string>;

constexpr std::pair<const char *, std::string_view Record::*> kKeys[] = {
    {"time", &Record::time},   {"source", &Record::source}, {"vendor", &Record::vendor},
    {"product", &Record::product}, {"serial", &Record::serial}, {"uuid", &Record::uuid},
    {"bios", &Record::bios},   {"kind", &Record::kind},     {"board", &Record::board},
    {"image", &Record::image}, {"image_version", &Record::image_version}, {"size", &Record::size},
    {"sum32", &Record::sum32}, {"sum16", &Record::sum16},   {"decision", &Record::decision},
    {"status", &Record::status}};
constexpr const char *kImageKeys[] = {"image", "image_version", "size", "sum32", "sum16", "decision"};

fwimage::Bytes Image(bool with_version) {
  fwimage::Bytes image(0x3000, 0x5A);
  if (with_version) {
    fwimage::Directory(image, 0x400, "FTPR");
    fwimage::Manifest(image, 0x480, FwVersion{12, 0, 70, 1000});
  }
  return image;
}

// The record of the bench's board and image, the sums worked out here.
Fields Expected(const fwimage::Bytes &image) {
  uint32_t sum = 0;
  for (uint8_t b : image) sum += b;
  char sum32[16], sum16[8];
  std::snprintf(sum32, sizeof sum32, "0x%08X", sum);
  std::snprintf(sum16, sizeof sum16, "%04X", sum & 0xFFFF);
  return {{"event", "before"}, {"time", "2026-12-10T14:27:16"}, {"source", "stick"}, {"vendor", "ZAN"},
          {"product", "Q420"}, {"serial", "SN0042"}, {"uuid", "00112233-4455-6677-8899-aabbccddeeff"},
          {"bios", "Q420 1.07"}, {"kind", "ME"}, {"board", "12.0.64.1551"}, {"image", "Q420TM07.BIN"},
          {"image_version", "12.0.70.1000"}, {"size", "0x3000"}, {"sum32", sum32}, {"sum16", sum16},
          {"decision", "update"}, {"status", "64"}};
}

// Type 0, type 1 with the given maker, product and serial strings, end of table.
std::string Smbios(std::vector<std::string> system) {
  std::string t = std::string("\0\x0a\0\0\x01\x02\0\xf0\x03\0", 10) + "ZAN" + '\0' + "Q420 1.07" + '\0' + '\0';
  t += std::string("\x01\x18\0\0\x01\x02\0\x03", 8) +
       std::string("\x33\x22\x11\x00\x55\x44\x77\x66\x88\x99\xaa\xbb\xcc\xdd\xee\xff", 16);
  for (const auto &s : system) t += s + '\0';
  return t + '\0' + std::string("\x7f\x04\0\0\0\0", 6);
}

struct Bench {
  sim::Board board;
  fwimage::Bytes image = Image(true);
  Bench() {
    board.SetCurDir(u"FS0:\\UPDATE");
    InfoTool(u"MeInfo.efi", "FW Version: 12.0.64.1551");
    board.memory().SetSmbiosTable(Smbios({"ZAN", "Q420", "SN0042"}));
  }
  void InfoTool(std::u16string_view name, std::string output) {
    board.InstallProgram(u"FS0:\\UPDATE\\" + std::u16string(name),
                         [output](sim::Board &, const std::vector<std::u16string> &, std::u16string &out) {
                           out += sim::U16(output + "\r\n");
                           return PLAT_SUCCESS;
                         });
  }
  uint64_t Run(const std::vector<std::string> &words) {
    std::vector<std::u16string> storage{u"NAVOREC.efi"};
    for (const auto &w : words) storage.push_back(sim::U16(w));
    std::vector<char16_t *> argv;
    for (auto &s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);
    return NavoRecMain(storage.size(), argv.data());
  }
  // Every record of the history file, each read back whole.
  std::vector<Fields> Records(std::u16string_view file = u"FS0:\\HISTORY.TXT") const {
    const std::vector<uint8_t> bytes = board.FileBytes(file);
    history::LineCursor cursor{std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size())};
    history::HistoryLine line;
    std::vector<Fields> records;
    while (history::NextLine(&cursor, &line)) {
      std::vector<char> storage(line.text.size());
      const history::ParsedRecord p = history::ParseRecordLine(line.text, line.ended, storage);
      EXPECT_EQ(p.verdict, history::LineVerdict::Whole) << line.text;
      Fields f{{"event", std::string(history::EventName(p.record.event))}};
      for (const auto &[key, member] : kKeys) f[key] = p.record.*member;
      // The reader takes a flash record only without them.
      if (!history::CarriesImage(p.record.event))
        for (const char *key : kImageKeys) f.erase(key);
      records.push_back(f);
    }
    return records;
  }
};

constexpr char kAdded[] = "History: before record added to FS0:\\HISTORY.TXT";

TEST(Recorder, Records) {
  struct Case {
    const char *what;
    std::vector<std::string> words;
    std::function<void(Bench &)> setup;
    std::string shown;
    Fields changed;  // on the bench's record (a flash record's on its flash form)
  };
  const Fields kFlash = {{"event", "flash"}, {"status", "0"}};
  const Case cases[] = {
      {"before, ME, an update", {"-BEFORE", "-ME", "Q420TM07.BIN", "0x40"}, nullptr, kAdded, {}},
      {"after, TXE, the same version, words in any case", {"-after", "-tXe", "Q420TM07.BIN", "0x45"},
       [](Bench &t) { t.InfoTool(u"TXEInfo.efi", "FW Version: 12.0.70.1000"); },
       "History: after record added to FS0:\\HISTORY.TXT",
       {{"event", "after"}, {"kind", "TXE"}, {"board", "12.0.70.1000"}, {"decision", "same"}, {"status", "69"}}},
      {"flash: no image keys; a UTC clock", {"-FLASH", "-ME", "0"},
       [](Bench &t) { t.board.ports().SetClock({2026, 1, 2, 3, 4, 5, 1}); },
       "History: flash record added to FS0:\\HISTORY.TXT", {{"time", "2026-01-02T03:04:05Z"}}},
      {"a downgrade, read by the BIOS variable", {"-BEFORE", "-ME", "Q420TM07.BIN", "1", "-rb02"},
       [](Bench &t) { t.board.SetVariable(u"MeInfoSetup", kMeInfoSetupGuid, std::vector<uint8_t>{0, 13, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}); },
       kAdded, {{"board", "13.0.0.0"}, {"decision", "downgrade"}, {"status", "1"}}},
      {"missing image; a clock with a 13th month", {"-BEFORE", "-ME", "NONE.BIN", "0x1"},
       [](Bench &t) { t.board.ports().SetClock({2026, 13, 2, 3, 4, 5, 0}); },
       std::string(kAdded) + " without the time and the image file",
       {{"time", ""}, {"image", "NONE.BIN"}, {"image_version", ""}, {"size", ""}, {"sum32", ""}, {"sum16", ""},
        {"decision", "none"}, {"status", "1"}}},
      {"image without a version", {"-BEFORE", "-ME", "Q420TM07.BIN", "0x40"}, [](Bench &t) { t.image = Image(false); },
       std::string(kAdded) + " without the image's ME version", {{"image_version", ""}, {"decision", "none"}}},
      {"no version on the board", {"-BEFORE", "-ME", "Q420TM07.BIN", "0x40"},
       [](Bench &t) { t.InfoTool(u"MeInfo.efi", "no version here"); },
       std::string(kAdded) + " without the board's ME version", {{"board", ""}, {"decision", "none"}}},
      {"no information tool, no SMBIOS, no clock", {"-FLASH", "-TXE", "0x0"},
       [](Bench &t) {
         t.board.memory().RemoveSmbiosTable();
         t.board.ports().SetClockFailure(PLAT_DEVICE_ERROR);
       },
       "History: flash record added to FS0:\\HISTORY.TXT without the time, the board's identity and the board's "
       "TXE version",
       {{"kind", "TXE"}, {"time", ""}, {"vendor", ""}, {"product", ""}, {"serial", ""}, {"uuid", ""}, {"bios", ""},
        {"board", ""}}},
      {"a mapping of the longest name", {"-FLASH", "-ME", "0"},
       [](Bench &t) { t.board.SetCurDir(sim::U16(std::string(64, 'M') + ":\\UPDATE")); },
       "History: flash record added to " + std::string(64, 'M') + ":\\HISTORY.TXT without the board's ME version",
       {{"board", ""}}},
      {"older shell: bare hexadecimal to 64 bits, lower-case mapping; a name beyond ASCII",
       {"-BEFORE", "-ME", "Q\xe4.BIN", "FFFFFFFFFFFFFFFF"},
       [](Bench &t) {
         t.board.shell().SetMode(sim::ShellMode::OlderShell);
         t.board.SetCurDir(u"fs0:\\UPDATE");
         t.board.PutFile(u"FS0:\\UPDATE\\Q\u00e4.BIN", t.image);
       },
       "History: before record added to fs0:\\HISTORY.TXT",
       {{"image", "Q\xc3\xa4.BIN"}, {"status", "18446744073709551615"}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Bench t;
    if (c.setup) c.setup(t);
    t.board.PutFile(u"FS0:\\UPDATE\\Q420TM07.BIN", t.image);
    Fields expected = Expected(t.image);
    const bool flash = c.words[0] == "-FLASH";
    for (const auto &[key, value] : flash ? kFlash : Fields{}) expected[key] = value;
    for (const auto &[key, value] : c.changed) expected[key] = value;
    if (flash)
      for (const char *key : kImageKeys) expected.erase(key);
    EXPECT_EQ(t.Run(c.words), 0u);
    // The whole output, byte for byte: one line, however the console wraps it.
    EXPECT_EQ(sim::Narrow(t.board.console().screen().Raw()), c.shown + "\r\n");
    const std::u16string dir = *t.board.shell().CurDir();
    EXPECT_EQ(t.Records(dir.substr(0, dir.find(u':')) + u":\\HISTORY.TXT"), std::vector<Fields>{expected});
    EXPECT_EQ(t.board.OpenFiles(), 0u);
    EXPECT_EQ(t.board.LiveAllocations(), 0u);
  }
}

TEST(Recorder, AppendsNothing) {
  const std::string usage =
      "Usage: NAVOREC.efi -BEFORE|-AFTER -ME|-TXE IMAGE STATUS [-RB01|-RB02|-RB03]\r\n"
      "       NAVOREC.efi -FLASH -ME|-TXE STATUS [-RB01|-RB02|-RB03]\r\n";
  struct Case {
    const char *what;
    std::vector<std::string> words;
    std::function<void(Bench &)> setup;
    std::string shown;
  };
  const Case cases[] = {
      {"no words", {}, nullptr, usage},
      {"flash with an image", {"-FLASH", "-ME", "Q420TM07.BIN", "0"}, nullptr, usage},
      {"hexadecimal digits without 0x", {"-FLASH", "-ME", "4A"}, nullptr, usage},
      {"past 64 bits", {"-FLASH", "-ME", "18446744073709551616"}, nullptr, usage},
      {"no current directory", {"-BEFORE", "-ME", "Q420TM07.BIN", "0x40"},
       [](Bench &t) { t.board.SetCurDir(std::nullopt); },
       "History: no before record added: there is no current directory\r\n"},
      {"an image name too long for a line", {"-BEFORE", "-ME", std::string(1800, 'A'), "0"}, nullptr,
       "History: no before record added: the record would be longer than 2048 bytes\r\n"},
      {"the file cannot be written", {"-FLASH", "-ME", "0"},
       [](Bench &t) { t.board.shell().InjectWriteFailure(u"FS0:\\HISTORY.TXT", PLAT_ACCESS_DENIED); },
       "History: no flash record added to FS0:\\HISTORY.TXT: status 0x800000000000000F\r\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Bench t;
    if (c.setup) c.setup(t);
    EXPECT_EQ(t.Run(c.words), 1u);
    EXPECT_EQ(sim::Narrow(t.board.console().screen().Raw()), c.shown);
    EXPECT_TRUE(t.board.FileBytes(u"FS0:\\HISTORY.TXT").empty());
    EXPECT_EQ(t.board.OpenFiles(), 0u);
  }
}

}  // namespace
