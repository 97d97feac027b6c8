#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "chksum/chksum.h"
#include "tests/sim/sim_board.h"

namespace {

struct ToolRun {
  uint64_t status;
  std::string screen;  // raw console output, "\r\n" line ends
};

// Runs the tool with argv = {"CHKSUM.efi", words...}; argc is words + 1
// unless given.
ToolRun Chksum(sim::Board &board, std::vector<std::string> words, int64_t argc = -1) {
  std::vector<std::u16string> text{u"CHKSUM.efi"};
  for (const auto &w : words) text.push_back(sim::U16(w));
  std::vector<PlatChar16 *> argv;
  for (auto &t : text) argv.push_back(t.data());
  argv.push_back(nullptr);
  const uint64_t count = argc < 0 ? text.size() : static_cast<uint64_t>(argc);
  const uint64_t status = ChksumMain(count, argv.data());
  return {status, sim::Narrow(board.console().screen().Raw())};
}

std::string Report(const std::string &name, const std::string &size, const std::string &sum,
                   const std::string &history) {
  return "======= File Info =======\r\n"
         "File name            : " + name + "\r\n"
         "File size            : 0x" + size + "\r\n"
         "Checksum(File Size)  : 0x" + sum + "\r\n"
         "Checksum(ZAN History): " + history + "\r\n";
}

uint32_t ReferenceSum(const std::vector<uint8_t> &bytes) {
  uint32_t sum = 0;
  for (uint8_t b : bytes) sum += b;
  return sum;
}

TEST(ByteSum, MatchesByteByByteSumAcrossBlockBoundaries) {
  std::mt19937 random(7);
  for (std::size_t size : {0u, 1u, 15u, 16383u, 16384u, 16385u, 40003u, 100000u}) {
    std::vector<uint8_t> bytes(size);
    for (auto &b : bytes) b = static_cast<uint8_t>(random());
    EXPECT_EQ(chksum::ContinueByteSum(0, bytes.data(), bytes.size()), ReferenceSum(bytes))
        << size << " bytes";
  }
}

TEST(ByteSum, ContinuingFromAPrefixGivesTheWholeSum) {
  std::vector<uint8_t> bytes(50000);
  std::iota(bytes.begin(), bytes.end(), uint8_t{0});
  const uint32_t whole = chksum::ContinueByteSum(0, bytes.data(), bytes.size());
  for (std::size_t cut : {0u, 1u, 16384u, 33333u, 50000u}) {
    const uint32_t prefix = chksum::ContinueByteSum(0, bytes.data(), cut);
    EXPECT_EQ(chksum::ContinueByteSum(prefix, bytes.data() + cut, bytes.size() - cut), whole)
        << "cut at " << cut;
  }
}

TEST(ByteSum, WrapsAroundAtThirtyTwoBits) {
  const std::vector<uint8_t> ff(70000, 0xFF);
  // 0xFFFFFF00 + 70000 * 255 = 0x1_0110_5D90.
  EXPECT_EQ(chksum::ContinueByteSum(0xFFFFFF00u, ff.data(), ff.size()), 0x01105D90u);
  const uint8_t one = 1;
  EXPECT_EQ(chksum::ContinueByteSum(0xFFFFFFFFu, &one, 1), 0u);
}

struct ReportCase {
  const char *what;
  std::vector<uint8_t> bytes;
  const char *size;
  const char *sum;
  const char *history;
};

TEST(Chksum, ReportsSizeSumAndHistoryChecksum) {
  const ReportCase cases[] = {
      {"empty file", {}, "0", "00000000", "0000"},
      {"one byte", {0x80}, "1", "00000080", "0080"},
      {"70,000 bytes of 0xFF", std::vector<uint8_t>(70000, 0xFF), "11170", "01105E90", "5E90"},
      {"sum past 32 bits", std::vector<uint8_t>(16843010, 0xFF), "1010102", "000000FE", "00FE"},
  };
  for (const auto &c : cases) {
    sim::Board board;
    board.PutFile(u"FS0:\\IMAGE.BIN", c.bytes);
    const ToolRun run = Chksum(board, {"IMAGE.BIN"});
    EXPECT_EQ(run.status, PLAT_SUCCESS) << c.what;
    EXPECT_EQ(run.screen, Report("IMAGE.BIN", c.size, c.sum, c.history)) << c.what;
    EXPECT_EQ(board.OpenFiles(), 0u) << c.what;
    EXPECT_EQ(board.LiveAllocations(), 0u) << c.what;
  }
}

// Reads that give fewer bytes than asked for: the tool reads on, and reports
// and sums only the bytes that came when the file ends early (never the part of
// its buffer that no read filled).
TEST(Chksum, ShortReadsSumWhatWasRead) {
  struct Case {
    const char *name;
    sim::Shell::ShortRead limits;
    std::size_t size;
  };
  const Case cases[] = {
      {"5 bytes a read", {5, UINT64_MAX}, 300},
      {"ends after 100", {UINT64_MAX, 100}, 100},
      {"4096 a read, ends after 250", {4096, 250}, 250},
      {"nothing read", {UINT64_MAX, 0}, 0},
  };
  std::vector<uint8_t> bytes(300);
  std::iota(bytes.begin(), bytes.end(), uint8_t{1});
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    sim::Board board;
    board.PutFile(u"FS0:\\DATA.BIN", bytes);
    board.shell().InjectShortReads(u"FS0:\\DATA.BIN", c.limits);
    const ToolRun run = Chksum(board, {"DATA.BIN"});
    EXPECT_EQ(run.status, PLAT_SUCCESS);
    const uint32_t sum = ReferenceSum(std::vector<uint8_t>(bytes.begin(), bytes.begin() + c.size));
    char hex[3][16];
    std::snprintf(hex[0], sizeof hex[0], "%X", static_cast<unsigned>(c.size));
    std::snprintf(hex[1], sizeof hex[1], "%08X", sum);
    std::snprintf(hex[2], sizeof hex[2], "%04X", sum & 0xFFFF);
    EXPECT_EQ(run.screen, Report("DATA.BIN", hex[0], hex[1], hex[2]));
    EXPECT_EQ(board.LiveAllocations(), 0u);
    EXPECT_EQ(board.OpenFiles(), 0u);
  }
}

TEST(Chksum, EchoesTheNameAsTypedAndResolvesItAgainstTheCurrentDirectory) {
  sim::Board board;
  board.AddDir(u"FS0:\\Update");
  board.PutFile(u"FS0:\\Update\\Bios.Rom", std::string_view("abc"));
  board.SetCurDir(u"FS0:\\Update");
  const ToolRun run = Chksum(board, {"bIOS.rOM"});
  EXPECT_EQ(run.status, PLAT_SUCCESS);
  EXPECT_EQ(run.screen, Report("bIOS.rOM", "3", "00000126", "0126"));
}

struct ArgumentCase {
  const char *what;
  std::vector<std::string> words;
  int64_t argc;
  const char *screen;
};

TEST(Chksum, ArgumentRules) {
  const char *usage = "Usage is: CheckSum filenameUnable to open (NULL)\r\n";
  const char *too_many = "ERROR! Parameters more than 2.\r\n";
  const char *version = "CheckSum Version: 1.0\r\nUsage is: CHKSUM <filename.ext> \r\n";
  const ArgumentCase cases[] = {
      {"no argument", {}, -1, usage},
      {"not even the name", {}, 0, too_many},
      {"two arguments", {"a", "b"}, -1, too_many},
      {"question mark", {"?"}, -1, version},
      {"question mark and more", {"?x"}, -1, version},
      // The count is tested on its low byte only.
      {"count 257", {}, 257, usage},
      {"count 256", {}, 256, too_many},
  };
  for (const auto &c : cases) {
    sim::Board board;
    // Would be summed if the tool took the argument for a file name.
    board.PutFile(u"FS0:\\?x", std::string_view("zz"));
    const ToolRun run = Chksum(board, c.words, c.argc);
    EXPECT_EQ(run.status, PLAT_SUCCESS) << c.what;
    EXPECT_EQ(run.screen, c.screen) << c.what;
  }
}

TEST(Chksum, CountOf258IsTakenAsOneArgument) {
  sim::Board board;
  board.PutFile(u"FS0:\\A.BIN", std::vector<uint8_t>{1, 2});
  const ToolRun run = Chksum(board, {"A.BIN"}, 258);
  EXPECT_EQ(run.status, PLAT_SUCCESS);
  EXPECT_EQ(run.screen, Report("A.BIN", "2", "00000003", "0003"));
}

TEST(Chksum, QuestionMarkOnlyCountsAsFirstCharacter) {
  sim::Board board;
  const ToolRun run = Chksum(board, {"a?"});
  EXPECT_EQ(run.status, PLAT_NOT_FOUND);
  EXPECT_EQ(run.screen, "ERROR ! Open File failed!\r\n");
}

struct FailureCase {
  const char *what;
  void (*inject)(sim::Board &);
  const char *screen;
  uint64_t status;
};

TEST(Chksum, EveryFailureReportsItsStatusAndGivesBackFileAndBuffer) {
  const std::u16string path = u"FS0:\\IMAGE.BIN";
  const FailureCase cases[] = {
      {"missing file", [](sim::Board &b) { b.RemoveFile(u"FS0:\\IMAGE.BIN"); },
       "ERROR ! Open File failed!\r\n", PLAT_NOT_FOUND},
      {"open refused", [](sim::Board &b) { b.shell().InjectOpenFailure(u"FS0:\\IMAGE.BIN", PLAT_ACCESS_DENIED); },
       "ERROR ! Open File failed!\r\n", PLAT_ACCESS_DENIED},
      {"directory", [](sim::Board &b) {
         b.RemoveFile(u"FS0:\\IMAGE.BIN");
         b.AddDir(u"FS0:\\IMAGE.BIN");
       },
       "ERROR ! Open File failed!\r\n", PLAT_ACCESS_DENIED},
      {"file information unreadable",
       [](sim::Board &b) { b.shell().InjectInfoFailure(u"FS0:\\IMAGE.BIN", PLAT_DEVICE_ERROR); },
       "ERROR ! Read File failed!\r\n", PLAT_DEVICE_ERROR},
      {"no pool for the data", [](sim::Board &b) { b.memory().SetPoolLimit(999); }, "", 9},
      {"no pool at all", [](sim::Board &b) { b.memory().InjectAllocFailuresAfter(0); }, "", 9},
      {"read fails", [](sim::Board &b) { b.shell().InjectReadFailure(u"FS0:\\IMAGE.BIN", PLAT_DEVICE_ERROR); },
       "ERROR ! Read File failed!\r\n", PLAT_DEVICE_ERROR},
  };
  for (const auto &c : cases) {
    sim::Board board;
    board.PutFile(path, std::vector<uint8_t>(1000, 0x11));
    c.inject(board);
    const ToolRun run = Chksum(board, {"image.bin"});
    EXPECT_EQ(run.status, c.status) << c.what;
    EXPECT_EQ(run.screen, c.screen) << c.what;
    EXPECT_EQ(board.OpenFiles(), 0u) << c.what << ": file left open";
    EXPECT_EQ(board.LiveAllocations(), 0u) << c.what << ": buffer not given back";
    EXPECT_TRUE(!board.HasFile(path) || board.FileBytes(path) == std::vector<uint8_t>(1000, 0x11))
        << c.what << ": file changed";
  }
}

}  // namespace
