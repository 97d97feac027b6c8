// NAVOREC.efi on a simulated board: the record each command line appends (read
// back with the history's own reader), the one line on the screen, the exit
// status, and the command lines it refuses.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "navo/fw_version/setup_variable.h"
#include "navo/history/record.h"
#include "navo/recorder/recorder.h"
#include "tests/host/fw_image_builder.h"
#include "tests/sim/sim_board.h"

namespace {

using Lines = std::vector<std::string>;

// What a record holds, as text; the defaults are the board and image of Bench.
struct Fields {
  std::string event = "before", time = "2026-12-10T14:27:16", source = "stick", vendor = "ZAN",
              product = "Q420", serial = "SN0042", uuid = "00112233-4455-6677-8899-aabbccddeeff",
              bios = "Q420 1.07", kind = "ME", board = "12.0.64.1551", image = "Q420TM07.BIN",
              image_version = "12.0.70.1000", size = "0x3000", sum32, sum16, decision = "update",
              status = "64";
  bool operator==(const Fields &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Fields &f) {
  return os << f.event << " " << f.time << " " << f.source << " " << f.vendor << " " << f.product << " "
            << f.serial << " " << f.uuid << " " << f.bios << " " << f.kind << " " << f.board << " [" << f.image
            << " " << f.image_version << " " << f.size << " " << f.sum32 << " " << f.sum16 << " " << f.decision
            << "] " << f.status;
}

fwimage::Bytes ImageWith(std::optional<FwVersion> version) {
  fwimage::Bytes image(0x3000, 0x5A);
  if (version) {
    fwimage::Directory(image, 0x400, "FTPR");
    fwimage::Manifest(image, 0x480, *version);
  }
  return image;
}

// The image's size and sums, worked out here rather than taken from CHKSUM.
void PutSums(Fields &f, const fwimage::Bytes &image) {
  uint32_t sum = 0;
  for (uint8_t b : image) sum += b;
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", sum);
  f.sum32 = text;
  std::snprintf(text, sizeof text, "%04X", sum & 0xFFFF);
  f.sum16 = text;
}

std::string Smbios(std::vector<std::string> system) {
  auto structure = [](uint8_t type, std::string body, const std::vector<std::string> &strings) {
    std::string s = std::string(1, char(type)) + char(4 + body.size()) + std::string("\0\0", 2) + body;
    for (const auto &text : strings) s += text + '\0';
    return s + (strings.empty() ? std::string(2, '\0') : std::string(1, '\0'));
  };
  const std::string uuid("\x33\x22\x11\x00\x55\x44\x77\x66\x88\x99\xaa\xbb\xcc\xdd\xee\xff", 16);
  return structure(0, std::string("\x01\x02\x00\xF0\x03\x00", 6), {"ZAN", "Q420 1.07"}) +
         structure(1, std::string("\x01\x02\x00\x03", 4) + uuid, system) + structure(127, "", {});
}

struct Bench {
  sim::Board board;
  fwimage::Bytes image = ImageWith(FwVersion{12, 0, 70, 1000});
  Bench() {
    board.SetCurDir(u"FS0:\\UPDATE");
    InfoTool(u"MeInfo.efi", "FW Version: 12.0.64.1551");
    InfoTool(u"TXEInfo.efi", "FW Version: 3.1.50.2222");
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
      const history::Record &r = p.record;
      records.push_back({std::string(history::EventName(r.event)), std::string(r.time), std::string(r.source),
                         std::string(r.vendor), std::string(r.product), std::string(r.serial),
                         std::string(r.uuid), std::string(r.bios), std::string(r.kind), std::string(r.board),
                         std::string(r.image), std::string(r.image_version), std::string(r.size),
                         std::string(r.sum32), std::string(r.sum16), std::string(r.decision),
                         std::string(r.status)});
    }
    return records;
  }
};

Fields Flash(Fields f) {
  f.event = "flash";
  f.image = f.image_version = f.size = f.sum32 = f.sum16 = f.decision = "";
  return f;
}

constexpr char kAdded[] = "History: before record added to FS0:\\HISTORY.TXT";

TEST(Recorder, Records) {
  struct Case {
    const char *what;
    std::vector<std::string> words;
    std::function<void(Bench &)> setup;
    std::string shown;
    std::function<void(Fields &)> expect;
  };
  const Case cases[] = {
      {"before, ME, an update", {"-BEFORE", "-ME", "Q420TM07.BIN", "0x40"}, nullptr, kAdded, nullptr},
      {"after, TXE, the same version, words in any case", {"-after", "-tXe", "Q420TM07.BIN", "0x45"},
       [](Bench &t) { t.InfoTool(u"TXEInfo.efi", "FW Version: 12.0.70.1000"); },
       "History: after record added to FS0:\\HISTORY.TXT",
       [](Fields &f) { f.event = "after"; f.kind = "TXE"; f.board = "12.0.70.1000"; f.decision = "same"; f.status = "69"; }},
      {"flash: no image keys; a UTC clock", {"-FLASH", "-ME", "0"},
       [](Bench &t) { t.board.ports().SetClock({2026, 1, 2, 3, 4, 5, 1}); },
       "History: flash record added to FS0:\\HISTORY.TXT",
       [](Fields &f) { f = Flash(f); f.time = "2026-01-02T03:04:05Z"; f.status = "0"; }},
      {"a downgrade, read by the BIOS variable", {"-BEFORE", "-ME", "Q420TM07.BIN", "1", "-rb02"},
       [](Bench &t) {
         std::vector<uint8_t> setup(22, 0);
         setup[1] = 13;
         t.board.SetVariable(u"MeInfoSetup", kMeInfoSetupGuid, setup);
       },
       kAdded, [](Fields &f) { f.board = "13.0.0.0"; f.decision = "downgrade"; f.status = "1"; }},
      {"missing image", {"-BEFORE", "-ME", "NONE.BIN", "0x1"}, nullptr, std::string(kAdded) + " without the image file",
       [](Fields &f) { f.image = "NONE.BIN"; f.image_version = f.size = f.sum32 = f.sum16 = ""; f.decision = "none"; f.status = "1"; }},
      {"image without a version", {"-BEFORE", "-ME", "Q420TM07.BIN", "0x40"},
       [](Bench &t) { t.image = ImageWith(std::nullopt); }, std::string(kAdded) + " without the image's ME version",
       [](Fields &f) { f.image_version = ""; f.decision = "none"; }},
      {"no version on the board", {"-BEFORE", "-ME", "Q420TM07.BIN", "0x40"},
       [](Bench &t) { t.InfoTool(u"MeInfo.efi", "no version here"); },
       std::string(kAdded) + " without the board's ME version", [](Fields &f) { f.board = ""; f.decision = "none"; }},
      {"no information tool, no SMBIOS, no clock", {"-FLASH", "-TXE", "0x0"},
       [](Bench &t) {
         t.board.RemoveFile(u"FS0:\\UPDATE\\TXEInfo.efi");
         t.board.memory().RemoveSmbiosTable();
         t.board.ports().SetClockFailure(PLAT_DEVICE_ERROR);
       },
       "History: flash record added to FS0:\\HISTORY.TXT without the time, the board's identity and the board's TXE version",
       [](Fields &f) {
         f = Flash(f);
         f.kind = "TXE";
         f.status = "0";
         f.time = f.vendor = f.product = f.serial = f.uuid = f.bios = f.board = "";
       }},
      {"a clock without a calendar's date; a type 1 without its serial", {"-FLASH", "-ME", "0"},
       [](Bench &t) {
         t.board.ports().SetClock({2026, 13, 2, 3, 4, 5, 0});
         t.board.memory().SetSmbiosTable(Smbios({"ZAN", "Q420"}));
       },
       "History: flash record added to FS0:\\HISTORY.TXT without the time",
       [](Fields &f) { f = Flash(f); f.time = f.serial = ""; f.status = "0"; }},
      {"older shell: bare hexadecimal, lower-case mapping", {"-BEFORE", "-ME", "Q420TM07.BIN", "45"},
       [](Bench &t) {
         t.board.shell().SetMode(sim::ShellMode::OlderShell);
         t.board.SetCurDir(u"fs0:\\UPDATE");
       },
       "History: before record added to fs0:\\HISTORY.TXT", [](Fields &f) { f.status = "69"; }},
      {"a name beyond ASCII, the largest status", {"-BEFORE", "-ME", "Q\xe4.BIN", "0xFFFFFFFFFFFFFFFF"},
       [](Bench &t) { t.board.PutFile(u"FS0:\\UPDATE\\Q\u00e4.BIN", t.image); }, kAdded,
       [](Fields &f) { f.image = "Q\xc3\xa4.BIN"; f.status = "18446744073709551615"; }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Bench t;
    if (c.setup) c.setup(t);
    t.board.PutFile(u"FS0:\\UPDATE\\Q420TM07.BIN", t.image);
    Fields expected;
    PutSums(expected, t.image);
    if (c.expect) c.expect(expected);
    EXPECT_EQ(t.Run(c.words), 0u);
    // The whole output, byte for byte: one line, however the console wraps it.
    EXPECT_EQ(sim::Narrow(t.board.console().screen().Raw()), c.shown + "\r\n");
    EXPECT_EQ(t.Records(), std::vector<Fields>{expected});
    EXPECT_EQ(t.board.OpenFiles(), 0u);
    EXPECT_EQ(t.board.LiveAllocations(), 0u);
  }
}

// One update's three records, appended in turn to the file already there.
TEST(Recorder, AppendsEachEvent) {
  Bench t;
  t.board.SetCurDir(u"FS1:\\KIT\\UPDATE");
  t.board.PutFile(u"FS1:\\KIT\\UPDATE\\Q420TM07.BIN", t.image);
  t.board.InstallProgram(u"FS1:\\KIT\\UPDATE\\MeInfo.efi",
                         [](sim::Board &, const std::vector<std::u16string> &, std::u16string &out) {
                           out += u"FW Version: 12.0.64.1551\r\n";
                           return PLAT_SUCCESS;
                         });
  EXPECT_EQ(t.Run({"-BEFORE", "-ME", "Q420TM07.BIN", "0x40"}), 0u);
  EXPECT_EQ(t.Run({"-FLASH", "-ME", "0x0"}), 0u);
  EXPECT_EQ(t.Run({"-AFTER", "-ME", "Q420TM07.BIN", "0x45", "-RB03"}), 0u);
  Fields before;
  PutSums(before, t.image);
  Fields flash = Flash(before);
  flash.status = "0";
  Fields after = before;
  after.event = "after";
  after.status = "69";
  EXPECT_EQ(t.Records(u"FS1:\\HISTORY.TXT"), (std::vector<Fields>{before, flash, after}));
  EXPECT_EQ(t.board.console().screen().Lines(),
            (Lines{"History: before record added to FS1:\\HISTORY.TXT", "History: flash record added to FS1:\\HISTORY.TXT",
                   "History: after record added to FS1:\\HISTORY.TXT"}));
}

TEST(Recorder, AppendsNothing) {
  const Lines usage = {"Usage: NAVOREC.efi -BEFORE|-AFTER -ME|-TXE IMAGE STATUS [-RB01|-RB02|-RB03]",
                       "       NAVOREC.efi -FLASH -ME|-TXE STATUS [-RB01|-RB02|-RB03]"};
  struct Case {
    const char *what;
    std::vector<std::string> words;
    std::function<void(Bench &)> setup;
    Lines shown;
  };
  const Case cases[] = {
      {"no words", {}, nullptr, usage},
      {"no status", {"-BEFORE", "-ME", "Q420TM07.BIN"}, nullptr, usage},
      {"flash with an image", {"-FLASH", "-ME", "Q420TM07.BIN", "0"}, nullptr, usage},
      {"kind first", {"-ME", "-BEFORE", "Q420TM07.BIN", "0"}, nullptr, usage},
      {"unknown method", {"-BEFORE", "-ME", "Q420TM07.BIN", "0", "-RB04"}, nullptr, usage},
      {"a word after the method", {"-FLASH", "-ME", "0", "-RB01", "-RB01"}, nullptr, usage},
      {"hexadecimal digits without 0x", {"-FLASH", "-ME", "4A"}, nullptr, usage},
      {"0x alone", {"-FLASH", "-ME", "0x"}, nullptr, usage},
      {"a sign", {"-FLASH", "-ME", "-1"}, nullptr, usage},
      {"past 64 bits", {"-FLASH", "-ME", "18446744073709551616"}, nullptr, usage},
      {"past 64 bits in hexadecimal", {"-FLASH", "-ME", "0x10000000000000000"}, nullptr, usage},
      {"no current directory", {"-BEFORE", "-ME", "Q420TM07.BIN", "0x40"},
       [](Bench &t) { t.board.SetCurDir(std::nullopt); },
       {"History: no before record added: there is no current directory"}},
      {"an image name too long for a line", {"-BEFORE", "-ME", std::string(1800, 'A'), "0"}, nullptr,
       {"History: no before record added: the record would be longer than 2048 bytes"}},
      {"the file cannot be written", {"-FLASH", "-ME", "0"},
       [](Bench &t) { t.board.shell().InjectWriteFailure(u"FS0:\\HISTORY.TXT", PLAT_ACCESS_DENIED); },
       {"History: no flash record added to FS0:\\HISTORY.TXT: status 0x800000000000000F"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Bench t;
    t.board.PutFile(u"FS0:\\UPDATE\\Q420TM07.BIN", t.image);
    if (c.setup) c.setup(t);
    EXPECT_EQ(t.Run(c.words), 1u);
    EXPECT_EQ(t.board.console().screen().Lines(), c.shown);
    EXPECT_TRUE(t.board.FileBytes(u"FS0:\\HISTORY.TXT").empty());
    if (c.shown == usage) {
      EXPECT_TRUE(t.board.shell().Executed().empty());
    }
    EXPECT_EQ(t.board.OpenFiles(), 0u);
    EXPECT_EQ(t.board.LiveAllocations(), 0u);
  }
}

}  // namespace
