// One run of the utility on a simulated board: immediate switches, the faulty
// command line, the board signature search and the check commands' pre-step.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "navo/board_check.h"
#include "navo/console.h"
#include "navo/fw_version/setup_variable.h"
#include "navo/main.h"
#include "tests/sim/sim_board.h"

namespace {

using sim::U16;

uint64_t RunNavo(std::initializer_list<const char *> words) {
  std::vector<std::u16string> storage{u"NAVO.efi"};
  for (const char *w : words) storage.push_back(U16(w));
  std::vector<char16_t *> argv;
  for (auto &s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  return NavoMain(storage.size(), argv.data());
}

const std::vector<std::string> kBanner = {
    "+-------------------------------------------------------------------+",
    "|                 ZAN Firmware Update Utility 1.1.0                 |",
    "+-------------------------------------------------------------------+",
};

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The usage box as the screen shows it, line by line (its exact bytes are
// compared in the console tests).
std::vector<std::string> UsageLines() {
  sim::Board board;
  PrintUsage();
  return board.console().screen().Lines();
}

// The first lines of the screen.
std::vector<std::string> Head(const sim::Board &board, std::size_t n) {
  auto lines = board.console().screen().Lines();
  if (lines.size() > n) lines.resize(n);
  return lines;
}

constexpr PlatStatus kOverrideState = 0xC601;

// A stand-in information tool: writes a line of output and ends with `status`.
sim::Program Tool(PlatStatus status, std::vector<std::u16string> *seen_args = nullptr) {
  return [status, seen_args](sim::Board &, const std::vector<std::u16string> &args, std::u16string &out) {
    if (seen_args != nullptr) *seen_args = args;
    out += u"FITC version 12.0.64.1551\r\n";
    return status;
  };
}

void PutSignature(sim::Board &board, uint64_t address = 0xF5A30, std::string_view text = "$$ZAN-") {
  board.PutLegacy(address, text);
}

// ---- Immediate switches and the faulty command line ------------------------------

TEST(FrontMain, VersionSwitchPrintsOnlyTheVersionLine) {
  for (auto words : {std::initializer_list<const char *>{"-ver"}, {"-VER"}, {"-MBMEVER", "-vEr"}}) {
    sim::Board board;
    EXPECT_EQ(RunNavo(words), 0u);
    EXPECT_EQ(board.console().screen().Raw(), u"ZAN Firmware Update Utility. Version:  1.1.0\r\n");
    EXPECT_TRUE(board.memory().Requests().empty());
  }
}

TEST(FrontMain, HelpPrintsBannerAndUsageWithoutBoardCheck) {
  const auto expected = Concat(kBanner, UsageLines());
  for (auto words : {std::initializer_list<const char *>{"-H"}, {"-h"}, {"-ECOVRPIN", "-OFF", "-H"}}) {
    sim::Board board;
    EXPECT_EQ(RunNavo(words), 0u);
    EXPECT_EQ(board.console().screen().Lines(), expected);
    EXPECT_TRUE(board.memory().Requests().empty());
  }
}

TEST(FrontMain, ColdResetPrintsNothingAndWritesTheResetPort) {
  for (auto words : {std::initializer_list<const char *>{"-COLDRST"}, {"-MBTXEVER", "-coldrst"}}) {
    sim::Board board;
    EXPECT_EQ(RunNavo(words), 0u);
    EXPECT_EQ(board.console().screen().Raw(), u"");
    EXPECT_EQ(board.ports().Resets(), 1);
    EXPECT_EQ(board.ports().Log(), (std::vector<sim::PortAccess>{{true, 0xCF9, 0x0E}}));
    EXPECT_TRUE(board.memory().Requests().empty());
  }
}

TEST(FrontMain, FaultyCommandLinesShowUsageAndF01) {
  const auto expected =
      Concat(Concat(kBanner, UsageLines()), {"", "Error F01: Parameters is wrong."});
  for (auto words : {std::initializer_list<const char *>{}, {"-ECOVRPIN", "-ON", "-OFF"}, {"-CHKMEVER", "-N"},
                     {"bogus", "-VER"}, {"-RB01", "-MBMEVER"}, {"-MBMEVER", "-ECOVRAUTO"},
                     {"-CHKMEVER", "-F", "Q420TM07.BIN", "-RB01", "-RB01"}}) {
    sim::Board board;
    PutSignature(board);
    EXPECT_EQ(RunNavo(words), 1u);
    EXPECT_EQ(board.console().screen().Lines(), expected);
    EXPECT_TRUE(board.memory().Requests().empty());
    EXPECT_TRUE(board.shell().Executed().empty());
  }
}

// ---- Board signature ---------------------------------------------------------------

TEST(FrontMain, EveryCommandNeedsTheBoardSignature) {
  const std::vector<std::string> f02 = Concat(
      kBanner, {"Check ZAN Board...Fail", "", "Error F02: Only supports products of ZAN Corp."});
  for (auto words : {std::initializer_list<const char *>{"-CHKMEVER", "-N", "12.0.64.1551"},
                     {"-CHKTXEVER", "-F", "Q420TM07.BIN"}, {"-MBMEVER", "-RB02"}, {"-MBTXEVER"},
                     {"-ECOVRPIN"}, {"-ECOVRAUTO"}, {"-FILEMEVER", "A.BIN"}, {"-FILETXEVER", "A.BIN"}}) {
    sim::Board board;
    board.InstallProgram(u"FS0:\\MeInfo.efi", Tool(0));
    board.PutFile(u"A.BIN", std::string_view("$$ZAN-"));
    EXPECT_EQ(RunNavo(words), 1u);
    EXPECT_EQ(board.console().screen().Lines(), f02);
    EXPECT_TRUE(board.shell().Executed().empty());
    EXPECT_TRUE(board.ports().Log().empty());
    EXPECT_EQ(board.OpenFiles(), 0u);
  }
}

TEST(FrontMain, SignatureSearchCoversTheWholeAreaAndNothingBeyond) {
  const struct {
    uint64_t address;
    const char *bytes;
    bool found;
  } cases[] = {
      {0xF0000, "$$ZAN-", true},
      {0xF0000, "$$VEK-", true},
      {0xFFFFA, "$$ZAN-", true},  // the last byte at 0xFFFFF
      {0xFFFFA, "$$VEK-", true},
      {0xFFFFB, "$$ZAN", false},  // would need 0x100000
      {0xFFFFF, "$", false},
      {0xF8000, "$$ZAN", false},
      {0xF8000, "$$zan-", false},
      {0xF8000, "$$ZAN_", false},
      {0xF8000, "$$VEK", false},
      {0xF8000, "$$$ZAN-", true},
      {0xF8000, "$$VEZAN-", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.address) + " " + c.bytes);
    sim::Board board;
    board.PutLegacy(c.address, c.bytes);
    EXPECT_EQ(CheckBoardSignature(), c.found);
    // One view of exactly the legacy area; the simulated area is a heap
    // buffer of that size, so a read past it is caught by the sanitizer.
    EXPECT_EQ(board.memory().Requests(), (std::vector<std::pair<uint64_t, uint64_t>>{{0xF0000, 0x10000}}));
    EXPECT_EQ(board.console().screen().Lines()[0], c.found ? "Check ZAN Board...OK" : "Check ZAN Board...Fail");
  }
}

TEST(FrontMain, SignatureSearchStaysInsideTheGivenBytes) {
  for (std::string area : {"$$VEK-", "xx$$ZAN-", "$$ZAN", "", "$$VEK-$"}) {
    // An exact-size heap copy, so that any read past its end is an error.
    std::vector<uint8_t> bytes(area.begin(), area.end());
    auto *copy = new uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)];
    std::copy(bytes.begin(), bytes.end(), copy);
    EXPECT_EQ(HasBoardSignature(copy, bytes.size()), area.find("$$VEK-") != std::string::npos ||
                                                          area.find("$$ZAN-") != std::string::npos)
        << area;
    delete[] copy;
  }
  EXPECT_FALSE(HasBoardSignature(nullptr, 0x10000));
}

// ---- Pre-step of the check commands -----------------------------------------------

struct PreStepCase {
  const char *name;
  std::initializer_list<const char *> words;
  const char16_t *cur_dir;
  const char16_t *tool_path;  // nullptr: no tool installed
  PlatStatus tool_status;
  std::vector<std::string> lines;  // after the banner and the board check
  bool runs_tool;
  bool passes;
  bool error_log_left;
};

TEST(FrontMain, CheckPreStep) {
  const std::string kF11 = "Error F11: It is already preparing override state.";
  const PreStepCase cases[] = {
      {"ME, override state", {"-CHKMEVER", "-N", "12.0.64.1551"}, u"FS0:\\", u"FS0:\\MeInfo.efi", kOverrideState,
       {"Check ME override Pin status...Fail", "", kF11}, true, false, false},
      {"ME, tool ends with 0", {"-CHKMEVER", "-F", "Q420TM07.BIN", "-RB03"}, u"FS0:\\", u"FS0:\\MeInfo.efi", 0,
       {"Check ME override Pin status...OK"}, true, true, true},
      {"ME, tool ends with an error", {"-CHKMEVER", "-F", "Q420TM07.BIN"}, u"FS0:\\", u"FS0:\\MeInfo.efi",
       PLAT_DEVICE_ERROR, {"Check ME override Pin status...OK"}, true, true, true},
      {"ME, not the root directory", {"-chkmever", "-n", "1.2.3.4"}, u"FS0:\\UPDATE\\ME", u"FS0:\\UPDATE\\ME\\MEINFO.EFI",
       kOverrideState, {"Check ME override Pin status...Fail", "", kF11}, true, false, false},
      {"ME, tool missing", {"-CHKMEVER", "-N", "12.0.64.1551"}, u"FS0:\\", nullptr, 0,
       {"Check ME override Pin status...Fail", "", "Error F03: An error occurs when using \"MeInfo.efi.\""}, false, false, true},
      {"ME, tool only in another directory", {"-CHKMEVER", "-N", "12.0.64.1551"}, u"FS0:\\UPDATE", u"FS0:\\MeInfo.efi", 0,
       {"Check ME override Pin status...Fail", "", "Error F03: An error occurs when using \"MeInfo.efi.\""}, false, false, true},
      {"TXE, tool missing", {"-CHKTXEVER", "-F", "Q420TM07.BIN"}, u"FS0:\\", u"FS0:\\MeInfo.efi", 0,
       {"Check TXE override Pin status...Fail", "", "Error F03: An error occurs when using \"TXEInfo.efi.\""}, false, false, true},
      // TXE boards are asked through the ME tool's line too, but only when it is there: the
      // shell would put its complaint about the missing program on the screen.
      {"TXE, information tool present", {"-CHKTXEVER", "-N", "3.1.50.2222"}, u"FS0:\\", u"FS0:\\TXEInfo.efi", 0,
       {"Check TXE override Pin status...OK"}, false, true, true},
      {"no pre-step with -RB01", {"-CHKMEVER", "-N", "12.0.64.1551", "-RB01"}, u"FS0:\\", nullptr, 0,
       {}, false, true, true},
      {"no pre-step with -RB02", {"-CHKMEVER", "-N", "12.0.64.1551", "-RB02"}, u"FS0:\\", u"FS0:\\MeInfo.efi",
       kOverrideState, {}, false, true, true},
  };
  for (const PreStepCase &c : cases) {
    SCOPED_TRACE(c.name);
    sim::Board board;
    board.shell().SetMode(sim::ShellMode::NonNesting);  // the designed screen; both modes: shell_modes_test.cpp
    PutSignature(board, 0xFFFFA, "$$VEK-");
    board.SetCurDir(std::u16string(c.cur_dir));
    board.PutFile(u"error.log", std::string_view("x"));
    board.PutFile(u"tmp", std::string_view("old"));  // a left-over of an earlier run
    if (c.tool_path != nullptr) board.InstallProgram(c.tool_path, Tool(c.tool_status));
    board.PutFile(u"Q420TM07.BIN", std::string_view(""));
    uint64_t status = RunNavo(c.words);

    auto expected = Concat(kBanner, {"Check ZAN Board...OK"});
    expected = Concat(expected, c.lines);
    EXPECT_EQ(Head(board, expected.size()), expected);
    if (!c.passes) {
      EXPECT_EQ(status, 1u);
      EXPECT_EQ(board.console().screen().Lines(), expected);  // no command ran
    }
    if (c.runs_tool) {
      ASSERT_FALSE(board.shell().Executed().empty());
      EXPECT_EQ(board.shell().Executed()[0].line, u"MeInfo.efi -fitver >> tmp");
      // The tool's output went to the file, not to the screen.
      EXPECT_EQ(board.console().screen().Text().find("FITC"), std::string::npos);
    } else {
      for (const auto &e : board.shell().Executed()) EXPECT_NE(e.line, u"MeInfo.efi -fitver >> tmp");
    }
    // "tmp" never survives the pre-step; "error.log" goes only with F11.
    if (c.runs_tool) {
      EXPECT_FALSE(board.HasFile(u"tmp"));
    }
    EXPECT_EQ(board.HasFile(u"error.log"), c.error_log_left);
    EXPECT_EQ(board.OpenFiles(), 0u);
  }
}

// ---- Dispatch ------------------------------------------------------------------------

// The MeInfoSetup variable with a board version in it.
std::vector<uint8_t> SetupVariable(uint32_t major, uint32_t minor, uint32_t hotfix, uint32_t build) {
  std::vector<uint8_t> data{0};
  for (uint32_t field : {major, minor, hotfix, build})
    for (int i = 0; i < 4; ++i) data.push_back(static_cast<uint8_t>(field >> (8 * i)));
  data.resize(22, 0);
  return data;
}

TEST(FrontMain, DispatchHandsTheParsedValuesOnAndReturnsTheHandlersByte) {
  const struct {
    const char *name;
    std::initializer_list<const char *> words;
    const char *keys;
    uint64_t status;
    std::string first_line;   // the handler's first line, after the board check
    std::string shown;        // a text the handler shows only with the right values
  } cases[] = {
      {"file name as typed, TXE", {"-filetxever", "lower.bin"}, "", 1,
       "Read lower.bin TXE FW version...Fail", "Error F04"},
      {"file name, ME", {"-FILEMEVER", "-N"}, "", 1, "Read -N ME FW version...Fail", "Error F04"},
      {"check, method and value", {"-chkmever", "-n", "12.0.49.1534", "-rb02"}, "", 69,
       "Read Board ME FW version...OK", "already latest version"},
      {"check, update answered", {"-CHKMEVER", "-N", "12.0.70.1", "-RB02"}, "y", 64,
       "Read Board ME FW version...OK", "12.0.70.1"},
      {"check, update declined", {"-CHKMEVER", "-N", "12.0.70.1", "-RB02"}, "n", 69,
       "Read Board ME FW version...OK", "12.0.70.1"},
      {"board display, method", {"-MBMEVER", "-RB02"}, "", 0, "Read Board ME FW version...OK",
       "12.0.49.1534"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    sim::Board board;
    PutSignature(board);
    board.SetVariable(u"MeInfoSetup", kMeInfoSetupGuid, SetupVariable(12, 0, 49, 1534));
    board.Type(c.keys);
    EXPECT_EQ(RunNavo(c.words), c.status);
    auto lines = board.console().screen().Lines();
    ASSERT_GT(lines.size(), 4u);
    EXPECT_EQ(lines[3], "Check ZAN Board...OK");
    EXPECT_EQ(lines[4].substr(0, c.first_line.size()), c.first_line);
    EXPECT_NE(board.console().screen().Text().find(c.shown), std::string::npos) << board.console().screen().Text();
    EXPECT_TRUE(board.shell().Executed().empty());  // no pre-step, no tool
    EXPECT_EQ(board.console().KeysLeft(), 0u);
    EXPECT_EQ(board.OpenFiles(), 0u);
    EXPECT_EQ(board.LiveAllocations(), 0u);
  }
}

}  // namespace
