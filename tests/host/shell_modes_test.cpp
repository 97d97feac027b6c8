// The utility's command lines in every kind of shell a board may boot: one that
// nests (a nested shell runs each line and clears the screen first), one
// started with -nonest, and the older shell interface (both run lines in place).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "navo/main.h"
#include "platform/uefi/shell_nesting.h"
#include "tests/sim/sim_board.h"
#include "tests/host/autoupdate_machine_test.h"
#include "tests/host/fw_image_builder.h"

namespace {

using Lines = std::vector<std::string>;
using sim::ShellMode;

TEST(ShellNesting, QuietPrefixOnlyWhenTheShellNests) {
  struct Case {
    const char *name;
    int protocol;
    const char16_t *nonesting;
    int prefix;
  };
  const Case cases[] = {
      {"nesting shell", 1, u"False", 1},
      {"nesting shell without the variable", 1, nullptr, 1},
      {"-nonest: True", 1, u"True", 0},
      {"-nonest typed in lower case", 1, u"true", 0},
      {"-nonest in capitals", 1, u"TRUE", 0},
      {"not quite True", 1, u"Truex", 1},
      {"an empty value", 1, u"", 1},
      {"older shell interface", 0, nullptr, 0},
      {"older shell interface, whatever the variable", 0, u"False", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(PlatExecuteNeedsQuietPrefix(c.protocol, c.nonesting), c.prefix);
  }
}

const Lines kBanner = {
    "+-------------------------------------------------------------------+",
    "|                 ZAN Firmware Update Utility 1.1.0                 |",
    "+-------------------------------------------------------------------+",
    "Check ZAN Board...OK",
};

uint64_t RunNavo(std::vector<const char *> words) {
  std::vector<std::u16string> storage{u"NAVO.efi"};
  for (const char *w : words) storage.push_back(sim::U16(w));
  std::vector<char16_t *> argv;
  for (auto &s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  return NavoMain(storage.size(), argv.data());
}

const char *ModeName(ShellMode mode) {
  switch (mode) {
    case ShellMode::Nesting: return "nesting";
    case ShellMode::NonNesting: return "-nonest";
    case ShellMode::OlderShell: return "older shell";
  }
  return "?";
}

bool AnyUnrecognized(const sim::Board &board) {
  return sim::Narrow(board.console().screen().Raw()).find("is not recognized") != std::string::npos;
}

// Commands that run a tool through the shell, each after a line that the
// technician's script printed. `shown` is the visible screen below the banner:
// the same in every shell, since a nested shell's clears are kept off it. Only
// MeInfo.efi is there, unless `no_tool`; a shell that runs lines in place
// reports a missing program as a success, so only a test beforehand gives F03
// in every shell.
struct ToolCase {
  const char *name;
  std::vector<const char *> words;
  const char *board_version;
  PlatStatus fitver_status;
  const char *keys;
  uint64_t status;
  int tool_runs;
  Lines shown;
  bool no_tool = false;
};

TEST(ShellModes, ToolCommandsKeepTheScreenInEveryShell) {
  auto f03 = [](const char *progress, const char *tool) -> Lines {
    return {progress, "", std::string("Error F03: An error occurs when using \"") + tool + ".\""};
  };
  const Lines board_me = f03("Read Board ME FW version...Fail", "MeInfo.efi");
  const Lines check_me = f03("Check ME override Pin status...Fail", "MeInfo.efi");
  const Lines board_txe = f03("Read Board TXE FW version...Fail", "TXEInfo.efi");
  const Lines check_txe = f03("Check TXE override Pin status...Fail", "TXEInfo.efi");
  const ToolCase cases[] = {
      {"board display", {"-MBMEVER"}, "12.0.64.1551", 0, "", 0, 1,
       {"Read Board ME FW version...OK", "", "ME FW version on the board: 12.0.64.1551"}},
      {"check, equal versions", {"-CHKMEVER", "-N", "12.0.64.1551"}, "12.0.64.1551", 0, "", 69, 2,
       {"Check ME override Pin status...OK", "Read Board ME FW version...OK",
        "Read File ME FW version...OK", "", "ME FW version on the board: 12.0.64.1551",
        "ME FW version in the File : 12.0.64.1551", "",
        "Your current ME firmware is already latest version."}},
      {"check of an image, answered y", {"-CHKMEVER", "-F", "Q420TM07.BIN"}, "12.0.49.1534", 0, "y",
       64, 2,
       {"Check ME override Pin status...OK", "Read Board ME FW version...OK",
        "Read File ME FW version...OK", "", "ME FW version on the board: 12.0.49.1534",
        "ME FW version in the File : 12.0.64.1551", "",
        "There is a new version of ME firmware. It is recommended to update.",
        "Do you want to update BIOS and ME firmware (Y/N)?"}},
      {"check, override state", {"-CHKMEVER", "-N", "12.0.64.1551"}, "12.0.64.1551", 0xC601, "", 1, 1,
       {"Check ME override Pin status...Fail", "", "Error F11: It is already preparing override state."}},
      {"board display, no tool", {"-MBMEVER"}, "12.0.64.1551", 0, "", 1, 0, board_me, true},
      {"check, no tool", {"-CHKMEVER", "-N", "1.2.3.4"}, "12.0.64.1551", 0, "", 1, 0, check_me, true},
      {"TXE board display beside the ME tool", {"-MBTXEVER"}, "12.0.64.1551", 0, "", 1, 0, board_txe},
      {"TXE check beside the ME tool", {"-CHKTXEVER", "-N", "1.2.3.4"}, "12.0.64.1551", 0, "", 1, 0,
       check_txe},
  };
  fwimage::Bytes image(0x2000, 0xFF);
  fwimage::Directory(image, 0x800, "FTPR", 9);
  fwimage::Manifest(image, 0x900, FwVersion{12, 0, 64, 1551});
  for (ShellMode mode : {ShellMode::Nesting, ShellMode::NonNesting, ShellMode::OlderShell}) {
    for (const ToolCase &c : cases) {
      SCOPED_TRACE(std::string(ModeName(mode)) + ": " + c.name);
      sim::Board board;
      board.shell().SetMode(mode);
      board.PutLegacy(0xF5A30, "$$ZAN-");
      board.SetCurDir(u"FS0:\\UPD");
      board.PutFile(u"Q420TM07.BIN", image);
      board.Type(c.keys);
      int runs = 0;
      if (!c.no_tool)
        board.InstallProgram(u"FS0:\\UPD\\MeInfo.efi",
                             [&runs, &c](sim::Board &, const std::vector<std::u16string> &args,
                                         std::u16string &out) -> PlatStatus {
                               ++runs;
                               if (args.size() > 1 && args[1] == u"-fitver") return c.fitver_status;
                               out += u"FW Version: " + sim::U16(c.board_version) + u"\r\n";
                               return PLAT_SUCCESS;
                             });
      board.console().screen().Write(u"echo before NAVO\r\n");

      EXPECT_EQ(RunNavo(c.words), c.status);
      Lines expected{"echo before NAVO"};
      expected.insert(expected.end(), kBanner.begin(), kBanner.end());
      expected.insert(expected.end(), c.shown.begin(), c.shown.end());
      EXPECT_EQ(board.console().screen().Visible(), expected);
      EXPECT_EQ(board.console().screen().Clears(), 0);
      // The nested shell did try: one clear for every line it ran.
      EXPECT_EQ(board.console().ClearsKept(), mode == ShellMode::Nesting ? c.tool_runs : 0);
      EXPECT_EQ(&board.console().out(), &board.console().screen());
      EXPECT_EQ(runs, c.tool_runs);
      EXPECT_EQ(board.console().KeysLeft(), 0u);
      EXPECT_FALSE(AnyUnrecognized(board));
      EXPECT_FALSE(board.HasFile(u"MeInfoTmp.txt"));
      EXPECT_FALSE(board.HasFile(u"tmp"));
      EXPECT_EQ(board.LiveAllocations(), 0u);
    }
  }
}

// The whole automatic update: the first run copies the script to the root,
// turns the pin on and resets; the next start runs it to the final run, whose
// closing box stands below what the maker's script printed.
TEST(ShellModes, AutomaticUpdateInEveryShell) {
  using autoupdate_test::Machine;
  for (ShellMode mode : {ShellMode::Nesting, ShellMode::NonNesting, ShellMode::OlderShell}) {
    SCOPED_TRACE(ModeName(mode));
    Machine m;
    m.board.shell().SetMode(mode);
    m.go_prints = {"GO.nsh: BIOS flashed", "GO.nsh: ME flashed"};
    m.board.console().screen().Write(u"echo before NAVO\r\n");
    EXPECT_EQ(m.TypeCommand('y'), 0);
    EXPECT_EQ(m.State(), "Armed, pin on");
    EXPECT_EQ(m.board.shell().Executed().size(), 2u);
    for (const sim::ExecRecord &r : m.board.shell().Executed()) EXPECT_EQ(r.status, PLAT_SUCCESS);
    const Lines first = m.board.console().screen().Visible();
    ASSERT_GE(first.size(), 5u);
    EXPECT_EQ(first.front(), "echo before NAVO");
    EXPECT_EQ(Lines(first.end() - 4, first.end()),
              (Lines{"Preparing Update files...OK", "Adjust EC FW override Status...OK", "",
                     "Restarting, please wait..."}));

    // The restart: a new screen, on which the shell runs the root script.
    m.board.console().screen() = sim::Screen();
    EXPECT_EQ(m.Start(), 2);
    EXPECT_TRUE(m.problems.empty());
    EXPECT_EQ(m.GoRuns(), std::vector<std::string>{"on"});
    EXPECT_EQ(m.State(), "Idle, pin off");
    EXPECT_EQ(m.results, (std::vector<uint8_t>{0, 0}));
    const Lines final_run = m.board.console().screen().Visible();
    ASSERT_GE(final_run.size(), 3u);
    EXPECT_EQ(Lines(final_run.begin(), final_run.begin() + 2),
              (Lines{"GO.nsh: BIOS flashed", "GO.nsh: ME flashed"}));
    EXPECT_EQ(final_run.back(), "<Enter any key to continue>Restore FW override pin Status...OK");
    EXPECT_EQ(m.board.console().screen().Clears(), 0);
    EXPECT_EQ(m.board.console().ClearsKept(), mode == ShellMode::Nesting ? 3 : 0);
    EXPECT_EQ(&m.board.console().out(), &m.board.console().screen());
    EXPECT_FALSE(AnyUnrecognized(m.board));
  }
}

// A prefix in front of a line that runs in place is what broke these commands:
// the shell takes the option for a command, runs nothing and reports success.
TEST(ShellModes, OptionInFrontOfAnInPlaceLineRunsNothing) {
  sim::Board board;
  board.shell().SetMode(ShellMode::NonNesting);
  board.InstallProgram(u"FS0:\\MeInfo.efi", [](sim::Board &, const std::vector<std::u16string> &,
                                                std::u16string &) -> PlatStatus { return 0xC601; });
  EXPECT_EQ(board.shell().ExecuteInShell(u"-nomap -noversion MeInfo.efi -fitver"), PLAT_SUCCESS);
  EXPECT_EQ(board.console().screen().Text(),
            "'-nomap' is not recognized as an internal or external command, operable program,\n"
            " or script file.\n");
  EXPECT_EQ(board.shell().ExecuteInShell(u"MeInfo.efi -fitver"), 0xC601u);
}

}  // namespace
