// Prompts, upper-casing, the usage box and banner, and the whole-file loader.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "navo/console.h"
#include "navo/main.h"
#include "platform/guards.h"
#include "tests/sim/sim_board.h"

namespace {

using sim::U16;

constexpr uint16_t kScanUp = 0x01;
constexpr uint16_t kScanEscape = 0x17;

// ---- Prompts ------------------------------------------------------------------

struct PromptCase {
  const char *name;
  PromptKind kind;
  std::vector<sim::Key> keys;
  uint8_t result;
  std::size_t keys_left;  // what the prompt must leave for later readers
};

TEST(FrontConsole, PromptKeyHandling) {
  const PromptCase cases[] = {
      {"lower y after ignored keys", PromptKind::PromptYesNo,
       {{0, u'\r'}, {0, u' '}, {0, u'x'}, {kScanUp, 0}, {kScanEscape, 0}, {0, u'y'}, {0, u'n'}}, 1, 1},
      {"upper Y", PromptKind::PromptYesNo, {{0, u'Y'}}, 1, 0},
      {"lower n", PromptKind::PromptYesNo, {{0, u'\r'}, {0, u'n'}, {0, u'y'}}, 0, 1},
      {"upper N", PromptKind::PromptYesNo, {{kScanUp, 0}, {0, u'N'}}, 0, 0},
      // A scan code with a matching character is still a Y.
      {"scan and character", PromptKind::PromptYesNo, {{kScanUp, u'Y'}}, 1, 0},
      {"any key: scan only", PromptKind::PromptAnyKey, {{kScanUp, 0}, {0, u'y'}}, 0, 1},
      {"any key: Enter", PromptKind::PromptAnyKey, {{0, u'\r'}}, 0, 0},
  };
  for (const PromptCase &c : cases) {
    SCOPED_TRACE(c.name);
    sim::Board board;
    board.keys.assign(c.keys.begin(), c.keys.end());
    EXPECT_EQ(PromptUser(u"Continue", c.kind), c.result);
    EXPECT_EQ(board.keys.size(), c.keys_left);
    // Only the question: nothing of the answer, no line end after it.
    const std::u16string shown =
        c.kind == PromptKind::PromptYesNo ? u"Continue (Y/N)?" : u"Continue\r\n<Enter any key to continue>";
    EXPECT_EQ(board.screen.Raw(), shown);
  }
}

TEST(FrontConsole, PromptPollsUntilAKeyArrives) {
  sim::Board board;
  board.starve_limit = 50;
  int starved = 0;
  board.on_keys_starved = [&](sim::Board &b) {
    // Keys that do not answer the question first, then the answer.
    if (++starved == 1) b.PressScan(kScanUp);
    else b.Type("N");
  };
  EXPECT_EQ(PromptUser(u"", PromptKind::PromptYesNo), 0);
  EXPECT_EQ(starved, 2);
  EXPECT_GE(board.key_polls, 100u);
  EXPECT_EQ(board.screen.Raw(), u" (Y/N)?");
}

// ---- Upper-casing --------------------------------------------------------------

TEST(FrontConsole, UpcaseInPlace) {
  const struct {
    std::u16string in, out;
  } cases[] = {
      {u"-rb01", u"-RB01"},
      {u"-ChkMeVer", u"-CHKMEVER"},
      {u"-RB01", u"-RB01"},
      {u"azAZ09`{@[-._", u"AZAZ09`{@[-._"},  // only a..z move
      {u"\u00e4\u00df\u03b1x", u"\u00e4\u00df\u03b1X"},
      {u"", u""},
  };
  for (const auto &c : cases) {
    std::u16string text = c.in;
    char16_t *result = UpcaseInPlace(text.data());
    EXPECT_EQ(result, text.data());
    EXPECT_EQ(text, c.out);
    EXPECT_EQ(text.size(), c.in.size());
  }
}

// ---- Usage box and banner --------------------------------------------------------

const char *const kFrame = "+-------------------------------------------------------------------+";

const char *const kUsageRows[] = {
    "|  Usage:  NAVO.efi  <Command> <Parameters>                         |",
    "|            or                                                     |",
    "|          NAVO.efi  <Command>                                      |",
    "| ----------------------------------------------------------------- |",
    "|  Commands:                                                        |",
    "|        -H          -> Show help message in program                |",
    "|        -VER        -> Show program version                        |",
    "|        -COLDRST    -> Cold reset                                  |",
    "|        -ECOVRPIN   -> Adjust the status of ZAN EC FW override PIN |",
    "|        -ECOVRAUTO  -> Automatically execute update steps with     |",
    "|                       ZAN EC FW override and GO.nsh script        |",
    "|        -MBMEVER    -> Show Board ME FW version                    |",
    "|        -MBTXEVER   -> Show Board TXE FW version                   |",
    "|        -FILEMEVER  -> Show File ME FW version                     |",
    "|        -FILETXEVER -> Show File TXE FW version                    |",
    "|        -CHKMEVER   -> Check ME FW version                         |",
    "|        -CHKTXEVER  -> Check TXE FW version                        |",
    "|                                                                   |",
    "|  Parameters after the command:                                    |",
    "|      -CHKMEVER: -CHKTXEVER:                                       |",
    "|           -N   -> This parameter is followed by FW version number |",
    "|                 e.g.  -N 12.0.64.1551                             |",
    "|           -F   -> This parameter is followed by BIOS bin file     |",
    "|                 e.g.  -F Q420TM07.BIN                             |",
    "|      -MBMEVER: -CHKMEVER:                                         |",
    "|           -RBXX-> Read ME version on board by different function  |",
    "|      -ECOVRPIN:                                                   |",
    "|           \" \"  -> Change to the opposite of FW Override status    |",
    "|           -ON  -> Turn on FW Override                             |",
    "|           -OFF -> Turn off FW Override                            |",
    "|      -FILEMEVER: -FILETXEVER:                                     |",
    "|           \"Name\" -> \"Name\" is BIOS BIN file name                  |",
    "|                      e.g. Q420TM07.BIN                            |",
};

TEST(FrontConsole, UsageBoxByteForByte) {
  sim::Board board;
  PrintUsage();
  std::u16string expected;
  std::size_t lines = 0;
  for (const char *row : kUsageRows) {
    ASSERT_EQ(std::strlen(row), 69u) << row;
    expected += U16(row) + u"\r\n";
    ++lines;
  }
  expected += U16(kFrame) + u"\r\n";
  ++lines;
  EXPECT_EQ(lines, 34u);
  EXPECT_EQ(board.screen.Raw(), expected);
}

TEST(FrontConsole, BannerByteForByte) {
  sim::Board board;
  PrintBanner();
  const char *title = "|                 ZAN Firmware Update Utility 1.1.0                 |";
  ASSERT_EQ(std::strlen(title), 69u);
  ASSERT_EQ(std::strlen(kFrame), 69u);
  EXPECT_EQ(board.screen.Raw(), U16(kFrame) + u"\r\n" + U16(title) + u"\r\n" + U16(kFrame) + u"\r\n");
}

// ---- Whole-file loader ------------------------------------------------------------

// What the caller gets, released the way a caller must: by guards.
struct Loaded {
  PlatStatus status;
  plat::FileGuard file;
  plat::PoolBuffer buffer;
  PlatFileInfo info{};
  uint64_t size = 0;
  bool handle_given = false;
  bool buffer_given = false;
};

Loaded Load(const char16_t *name, uint8_t verbose) {
  Loaded r;
  PlatFile handle = reinterpret_cast<PlatFile>(0x1);  // stale values must not survive
  void *buffer = reinterpret_cast<void *>(0x1);
  r.size = 12345;
  r.status = LoadWholeFile(name, &handle, &r.info, &buffer, &r.size, verbose);
  r.handle_given = handle != nullptr;
  r.buffer_given = buffer != nullptr;
  if (handle != nullptr && handle != reinterpret_cast<PlatFile>(0x1)) *r.file.Out() = handle;
  if (buffer != nullptr && buffer != reinterpret_cast<void *>(0x1)) r.buffer.Adopt(buffer, r.info.FileSize);
  return r;
}

TEST(FrontConsole, LoadWholeFileHandsOverTheFile) {
  sim::Board board;
  board.SetCurDir(u"FS0:\\UPDATE");
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 1000; ++i) bytes.push_back(static_cast<uint8_t>(i * 7));
  board.PutFile(u"FS0:\\UPDATE\\IMAGE.BIN", bytes);
  {
    Loaded r = Load(u"image.bin", 0);
    EXPECT_EQ(r.status, PLAT_SUCCESS);
    EXPECT_EQ(r.size, bytes.size());
    EXPECT_EQ(r.info.FileSize, bytes.size());
    ASSERT_TRUE(r.buffer);
    EXPECT_EQ(std::vector<uint8_t>(r.buffer.Bytes(), r.buffer.Bytes() + r.size), bytes);
    // The loader closes and frees nothing: the caller holds one file and one buffer.
    EXPECT_EQ(board.OpenFiles(), 1u);
    EXPECT_EQ(board.LiveAllocations(), 1u);
  }
  EXPECT_EQ(board.OpenFiles(), 0u);
  EXPECT_EQ(board.LiveAllocations(), 0u);
  EXPECT_EQ(board.screen.Raw(), u"");

  board.PutFile(u"EMPTY.TXT", std::string_view(""));
  {
    Loaded r = Load(u"EMPTY.TXT", 0);
    EXPECT_EQ(r.status, PLAT_SUCCESS);
    EXPECT_EQ(r.size, 0u);
  }
  EXPECT_EQ(board.OpenFiles(), 0u);
  EXPECT_EQ(board.LiveAllocations(), 0u);
}

// A read may give fewer bytes than asked for: the loader goes on until it has
// the whole file, and when the file ends early it hands on only what came.
TEST(FrontConsole, LoadWholeFileShortReads) {
  struct Case {
    const char *name;
    sim::Board::ShortRead limits;
    std::size_t size;
  };
  const Case cases[] = {
      {"7 bytes a read", {7, UINT64_MAX}, 1000},
      {"one byte a read", {1, UINT64_MAX}, 1000},
      {"the file ends after 600 bytes", {UINT64_MAX, 600}, 600},
      {"in pieces, ending after 130", {64, 130}, 130},
      {"nothing to read", {UINT64_MAX, 0}, 0},
  };
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 1000; ++i) bytes.push_back(static_cast<uint8_t>(i * 7 + 1));
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    sim::Board board;
    board.PutFile(u"FS0:\\IMAGE.BIN", bytes);
    board.short_reads[u"FS0:\\IMAGE.BIN"] = c.limits;
    Loaded r = Load(u"IMAGE.BIN", 0);
    EXPECT_EQ(r.status, PLAT_SUCCESS);
    EXPECT_EQ(r.info.FileSize, bytes.size());
    ASSERT_EQ(r.size, c.size);
    ASSERT_TRUE(r.buffer);
    EXPECT_EQ(std::vector<uint8_t>(r.buffer.Bytes(), r.buffer.Bytes() + r.size),
              std::vector<uint8_t>(bytes.begin(), bytes.begin() + c.size));
    EXPECT_EQ(board.screen.Raw(), u"");
  }
}

TEST(FrontConsole, LoadWholeFileFailures) {
  const std::u16string kOpen = u"Error F04: Open File failed!\r\n";
  const std::u16string kMemory = u"Error F05: Allocate a memory buffer error!\r\n";
  const std::u16string kRead = u"Error F06: Read File failed!\r\n";
  enum Fault { kNoName, kMissing, kOpenFails, kNoMemory, kReadFails, kInfoFails };
  const struct {
    const char *name;
    Fault fault;
    PlatStatus status;
    const std::u16string &error;
    bool handle_given, buffer_given;
  } cases[] = {
      {"absent name", kNoName, 0x8000000000000002ULL, kOpen, false, false},
      {"missing file", kMissing, PLAT_NOT_FOUND, kOpen, false, false},
      {"open refused", kOpenFails, PLAT_ACCESS_DENIED, kOpen, false, false},
      {"no memory", kNoMemory, 9, kMemory, true, false},
      {"read fails", kReadFails, PLAT_DEVICE_ERROR, kRead, true, true},
      {"no file information", kInfoFails, PLAT_DEVICE_ERROR, kRead, true, false},
  };
  for (const auto &c : cases) {
    for (uint8_t verbose : {0, 1}) {
      SCOPED_TRACE(std::string(c.name) + (verbose ? ", verbose" : ""));
      sim::Board board;
      board.PutFile(u"IMAGE.BIN", std::string_view("0123456789"));
      const char16_t *name = u"IMAGE.BIN";
      switch (c.fault) {
        case kNoName: name = nullptr; break;
        case kMissing: name = u"OTHER.BIN"; break;
        case kOpenFails: board.fail_open[u"FS0:\\IMAGE.BIN"] = PLAT_ACCESS_DENIED; break;
        case kNoMemory: board.pool_limit = 9; break;
        case kReadFails: board.fail_read[u"FS0:\\IMAGE.BIN"] = PLAT_DEVICE_ERROR; break;
        case kInfoFails: board.fail_info[u"FS0:\\IMAGE.BIN"] = PLAT_DEVICE_ERROR; break;
      }
      {
        Loaded r = Load(name, verbose);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.handle_given, c.handle_given);
        EXPECT_EQ(r.buffer_given, c.buffer_given);
        EXPECT_EQ(board.OpenFiles(), c.handle_given ? 1u : 0u);
        EXPECT_EQ(board.LiveAllocations(), c.buffer_given ? 1u : 0u);
        // The "Fail" completes the caller's open progress line unless traces broke it.
        EXPECT_EQ(board.screen.Raw(), (verbose ? u"" : u"Fail\r\n\r\n") + c.error);
      }
      EXPECT_EQ(board.OpenFiles(), 0u);
      EXPECT_EQ(board.LiveAllocations(), 0u);
    }
  }
}

}  // namespace
