#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "navo/fw_version/check_command.h"
#include "navo/fw_version/show_commands.h"
#include "navo/fw_version/setup_variable.h"
#include "tests/sim/sim_board.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

constexpr uint8_t kFailed = 1, kUpdate = 64, kNoUpdate = 69;

// An image whose FTPR manifest holds `v`.
Bytes Image(FwVersion v) {
  Bytes b(0x2000, 0xFF);
  auto put = [&](std::size_t at, std::string_view s) {
    for (std::size_t i = 0; i < s.size(); ++i) b[at + i] = static_cast<uint8_t>(s[i]);
  };
  put(0x100, "$CPD");
  put(0x104, std::string("\x04\0\0\0", 4));
  put(0x10C, "RBEP");
  put(0x800, "$CPD");
  put(0x804, std::string("\x09\0\0\0", 4));
  put(0x80C, "FTPR");
  put(0x900, "$MN2");
  const uint16_t f[] = {v.Major, v.Minor, v.HotFix, v.Build};
  for (int i = 0; i < 4; ++i) {
    b[0x908 + 2 * i] = static_cast<uint8_t>(f[i]);
    b[0x909 + 2 * i] = static_cast<uint8_t>(f[i] >> 8);
  }
  return b;
}

Bytes SetupData(uint32_t major, uint32_t minor, uint32_t hotfix, uint32_t build) {
  Bytes d(22, 0);
  const uint32_t f[] = {major, minor, hotfix, build};
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 4; ++k) d[1 + 4 * i + k] = static_cast<uint8_t>(f[i] >> (8 * k));
  return d;
}

void InstallTool(sim::Board &board, std::u16string_view name, std::u16string output) {
  board.InstallProgram(std::u16string(u"FS0:\\UPD\\") + std::u16string(name),
                       [output](sim::Board &, const std::vector<std::u16string> &,
                                std::u16string &out) {
                         out += output;
                         return PLAT_SUCCESS;
                       });
}

// A board whose current directory is FS0:\UPD, with the front end's lines
// already on the screen, as they are when a command handler starts.
struct Bench {
  sim::Board board;
  Bench() {
    // The screens below are the designed ones, every outcome right behind its
    // progress text: what a shell that runs the tool in place shows. What a
    // nesting shell's clear makes of them is in shell_modes_test.cpp.
    board.shell().SetMode(sim::ShellMode::NonNesting);
    board.SetCurDir(u"FS0:\\UPD");
    board.console().screen().Write(u"Check ZAN Board...OK\r\n");
  }
  void MeInfo(std::string version) {
    InstallTool(board, u"MeInfo.efi", sim::U16("FW Version: " + version + "\r\n"));
  }
  void TxeInfo(std::string version) {
    InstallTool(board, u"TXEInfo.efi", sim::U16("FW Version: " + version + "\r\n"));
  }
  // The screen's lines from the command's first line on.
  Lines Shown() const {
    Lines all = board.console().screen().Lines();
    return Lines(all.begin() + 1, all.end());
  }
  std::string Raw() const { return sim::Narrow(board.console().screen().Raw()); }
};

// ---- -FILEMEVER / -FILETXEVER -----------------------------------------------------------

TEST(FwverShowFile, Outcomes) {
  struct Case {
    const char *what;
    FwKind kind;
    std::function<void(sim::Board &)> setup;
    uint8_t result;
    Lines shown;
  };
  const Case cases[] = {
      {"ME", FwKind::Me, [](sim::Board &b) { b.PutFile(u"Q420tm07.bin", Image({12, 0, 64, 1551})); },
       0,
       {"Read Q420tm07.bin ME FW version...OK", "", "Q420tm07.bin ME FW version : 12.0.64.1551"}},
      {"TXE, same numbers", FwKind::Txe,
       [](sim::Board &b) { b.PutFile(u"Q420tm07.bin", Image({12, 0, 64, 1551})); }, 0,
       {"Read Q420tm07.bin TXE FW version...OK", "", "Q420tm07.bin TXE FW version : 12.0.64.1551"}},
      {"missing file", FwKind::Me, [](sim::Board &) {}, kFailed,
       {"Read Q420tm07.bin ME FW version...Fail", "", "Error F04: Open File failed!"}},
      {"no FTPR", FwKind::Txe, [](sim::Board &b) { b.PutFile(u"Q420tm07.bin", Bytes(4096, 0xFF)); },
       kFailed, {"Read Q420tm07.bin TXE FW version...Fail.", "", "Error F07: Not Find Version sting."}},
      {"Major 0", FwKind::Me, [](sim::Board &b) { b.PutFile(u"Q420tm07.bin", Image({0, 1, 2, 3})); },
       0,
       {"Read Q420tm07.bin ME FW version...OK", "",
        "Oops! something went wrong. Please contact the program developer"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Bench t;
    c.setup(t.board);
    EXPECT_EQ(ShowFileFwVersion(u"Q420tm07.bin", c.kind), c.result);
    EXPECT_EQ(t.Shown(), c.shown);
    EXPECT_EQ(t.board.OpenFiles(), 0u);
    EXPECT_EQ(t.board.LiveAllocations(), 0u);
  }
}

// ---- -MBMEVER / -MBTXEVER ---------------------------------------------------------------

TEST(FwverShowBoard, MethodsAndOutcomes) {
  struct Case {
    const char *what;
    FwKind kind;
    BoardReadMethod method;
    std::function<void(Bench &)> setup;
    uint8_t result;
    Lines shown;
    std::vector<std::u16string> executed;
  };
  const Case cases[] = {
      {"no method: MeInfo.efi alone", FwKind::Me, BoardReadMethod::Auto,
       [](Bench &t) {
         t.MeInfo("12.0.64.1551");
         t.board.SetVariable(u"MeInfoSetup", kMeInfoSetupGuid, SetupData(1, 1, 1, 1));
       },
       0, {"Read Board ME FW version...OK", "", "ME FW version on the board: 12.0.64.1551"},
       {u"MeInfo.efi >> MeInfoTmp.txt"}},
      {"-RB02: the variable alone", FwKind::Me, BoardReadMethod::BiosSetupVariable,
       [](Bench &t) {
         t.MeInfo("12.0.64.1551");
         t.board.SetVariable(u"MeInfoSetup", kMeInfoSetupGuid, SetupData(12, 0, 49, 1534));
       },
       0, {"Read Board ME FW version...OK", "", "ME FW version on the board: 12.0.49.1534"}, {}},
      {"-RB02 missing variable: nothing printed, 1", FwKind::Me,
       BoardReadMethod::BiosSetupVariable, [](Bench &t) { t.MeInfo("12.0.64.1551"); }, kFailed,
       {"Read Board ME FW version..."}, {}},
      {"-RB01 without HECI: 1", FwKind::Me, BoardReadMethod::FwUpdateLib,
       [](Bench &t) { t.MeInfo("12.0.64.1551"); }, kFailed, {"Read Board ME FW version..."}, {}},
      {"-RB03 fails with F07", FwKind::Me, BoardReadMethod::MeInfoTool,
       [](Bench &t) { InstallTool(t.board, u"MeInfo.efi", u"no version\r\n"); }, kFailed,
       {"Read Board ME FW version...Fail", "", "Error F07: Not Find Version sting."},
       {u"MeInfo.efi >> MeInfoTmp.txt"}},
      {"Major 0", FwKind::Me, BoardReadMethod::BiosSetupVariable,
       [](Bench &t) {
         t.board.SetVariable(u"MeInfoSetup", kMeInfoSetupGuid, SetupData(0, 0, 1, 1));
       },
       0, {"Read Board ME FW version...OK", "", "Oops! something went wrong. Please contact the program developer"},
       {}},
      {"TXE through TXEInfo.efi", FwKind::Txe, BoardReadMethod::Auto,
       [](Bench &t) {
         t.TxeInfo("3.1.50.2222");
         t.MeInfo("12.0.64.1551");
       },
       0, {"Read Board TXE FW version...OK", "", "TXE FW version on the board: 3.1.50.2222"},
       {u"TXEInfo.efi >> TxeInfoTmp.txt"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Bench t;
    c.setup(t);
    EXPECT_EQ(ShowBoardFwVersion(c.kind, c.method), c.result);
    EXPECT_EQ(t.Shown(), c.shown);
    std::vector<std::u16string> executed;
    for (const auto &e : t.board.shell().Executed()) executed.push_back(e.line);
    EXPECT_EQ(executed, c.executed);
    EXPECT_EQ(t.Raw().find("Please wait"), std::string::npos);
  }
}

// ---- -CHKMEVER / -CHKTXEVER -------------------------------------------------------------

struct CheckCase {
  const char *what;
  FwKind kind = FwKind::Me;
  BoardReadMethod method = BoardReadMethod::Auto;
  std::optional<std::string> board_tool;  // version text the tool prints
  std::optional<FwVersion> setup;          // MeInfoSetup contents
  VersionSource source = VersionSource::SourceNumber;
  std::string value;                        // -N text, or the image's version for -F
  std::optional<FwVersion> image;
  bool blank_image = false;  // an image without any directory
  std::string keys;
  uint8_t result;
  Lines shown;
};

void RunCheck(const CheckCase &c) {
  SCOPED_TRACE(c.what);
  Bench t;
  if (c.board_tool) {
    if (c.kind == FwKind::Me)
      t.MeInfo(*c.board_tool);
    else
      t.TxeInfo(*c.board_tool);
  }
  if (c.setup)
    t.board.SetVariable(u"MeInfoSetup", kMeInfoSetupGuid,
                        SetupData(c.setup->Major, c.setup->Minor, c.setup->HotFix, c.setup->Build));
  if (c.image) t.board.PutFile(u"Q420TM07.BIN", Image(*c.image));
  if (c.blank_image) t.board.PutFile(u"Q420TM07.BIN", Bytes(0x2000, 0xFF));
  t.board.Type(c.keys);
  std::u16string value = sim::U16(c.value);
  EXPECT_EQ(CheckFwVersion(c.source, c.method, c.kind, value.c_str()), c.result);
  EXPECT_EQ(t.Shown(), c.shown);
  EXPECT_EQ(t.board.console().KeysLeft(), 0u) << "keys left unread";
  EXPECT_EQ(t.board.OpenFiles(), 0u);
  EXPECT_EQ(t.board.LiveAllocations(), 0u);
}

TEST(FwverCheck, ComparisonsAndAnswers) {
  const Lines equal = {"Read Board ME FW version...OK",
                       "Read File ME FW version...OK",
                       "",
                       "ME FW version on the board: 12.0.64.1551",
                       "ME FW version in the File : 12.0.64.1551",
                       "",
                       "Your current ME firmware is already latest version."};
  // The lines before the question, then the advice and the question itself.
  auto asked = [](const char *board, const char *file, const char *advice, const char *question) {
    return Lines{"Read Board ME FW version...OK",
                 "Read File ME FW version...OK",
                 "",
                 std::string("ME FW version on the board: ") + board,
                 std::string("ME FW version in the File : ") + file,
                 "",
                 advice,
                 question};
  };
  auto newer = [&](const char *board, const char *file) {
    return asked(board, file, "There is a new version of ME firmware. It is recommended to update.",
                 "Do you want to update BIOS and ME firmware (Y/N)?");
  };
  auto older = [&](const char *board, const char *file) {
    return asked(board, file, "ME firmware is an old version. Downgrade is not recommended.",
                 "Do you want to downgrade BIOS and ME firmware (Y/N)?");
  };
  const CheckCase cases[] = {
      {.what = "equal: 69 without a question", .board_tool = "12.0.64.1551",
       .value = "12.0.64.1551", .result = kNoUpdate, .shown = equal},
      {.what = "HotFix decides, Build not looked at; y", .board_tool = "12.0.64.1551",
       .value = "12.0.70.1000", .keys = "y", .result = kUpdate,
       .shown = newer("12.0.64.1551", "12.0.70.1000")},
      {.what = "newer, N", .board_tool = "11.8.50.3399", .value = "12.0.0.0", .keys = "N",
       .result = kNoUpdate, .shown = newer("11.8.50.3399", "12.0.0.0")},
      {.what = "older, Y", .board_tool = "12.1.0.0", .value = "12.0.99.9999", .keys = "Y",
       .result = kUpdate, .shown = older("12.1.0.0", "12.0.99.9999")},
      {.what = "older, n", .board_tool = "12.0.64.1552", .value = "12.0.64.1551", .keys = "n",
       .result = kNoUpdate, .shown = older("12.0.64.1552", "12.0.64.1551")},
      {.what = "other keys are ignored", .board_tool = "12.0.49.1534", .value = "12.0.64.1551",
       .keys = "x \r\x1b" "q0y", .result = kUpdate, .shown = newer("12.0.49.1534", "12.0.64.1551")},
      {.what = "file: the design's example", .board_tool = "12.0.49.1534",
       .source = VersionSource::SourceFile, .value = "Q420TM07.BIN",
       .image = FwVersion{12, 0, 64, 1551}, .keys = "y", .result = kUpdate,
       .shown = newer("12.0.49.1534", "12.0.64.1551")},
      {.what = "-RB02 board version", .method = BoardReadMethod::BiosSetupVariable,
       .setup = FwVersion{12, 0, 64, 1551}, .value = "12.0.64.1551", .result = kNoUpdate,
       .shown = equal},
  };
  for (const CheckCase &c : cases) RunCheck(c);
}

TEST(FwverCheck, FailureRows) {
  const CheckCase cases[] = {
      {.what = "board read fails: the progress line is rewritten", .board_tool = "n/a x",
       .value = "12.0.64.1551", .result = kFailed,
       .shown = {"Read Board ME FW version...Fail", "", "Error F07: Not Find Version sting."}},
      {.what = "board read fails without output (-RB02)",
       .method = BoardReadMethod::BiosSetupVariable, .value = "12.0.64.1551", .result = kFailed,
       .shown = {"Read Board ME FW version...Fail"}},
      {.what = "image cannot be opened", .board_tool = "12.0.64.1551",
       .source = VersionSource::SourceFile, .value = "Q420TM07.BIN", .result = kFailed,
       .shown = {"Read Board ME FW version...OK", "Read File ME FW version...Fail", "",
                 "Error F04: Open File failed!"}},
      {.what = "no manifest in the image", .board_tool = "12.0.64.1551",
       .source = VersionSource::SourceFile, .value = "Q420TM07.BIN", .blank_image = true,
       .result = kFailed,
       .shown = {"Read Board ME FW version...OK", "Read File ME FW version...Fail.", "",
                 "Error F07: Not Find Version sting."}},
      {.what = "typed version with three numbers", .board_tool = "12.0.64.1551",
       .value = "12.0.64", .result = kFailed,
       .shown = {"Read Board ME FW version...OK", "Read File ME FW version...Fail", "",
                 "Error F08: ME/TXE FW version contains non-digits."}},
      {.what = "typed version with a trailing letter", .board_tool = "12.0.64.1551",
       .value = "12.0.64.1551x", .result = kFailed,
       .shown = {"Read Board ME FW version...OK", "Read File ME FW version...Fail", "",
                 "Error F08: ME/TXE FW version contains non-digits."}},
      {.what = "board Major 0", .method = BoardReadMethod::BiosSetupVariable,
       .setup = FwVersion{0, 0, 64, 1551}, .value = "12.0.64.1551", .result = kFailed,
       .shown = {"Read Board ME FW version...OK", "Read File ME FW version...OK", "",
                 "Error! Can not read ME FW Verion on the Board.",
                 "ME FW version in the File : 12.0.64.1551"}},
      // Without a second version only the line end follows the progress text.
      {.what = "typed Major 0", .board_tool = "12.0.64.1551", .value = "0.1.2.3",
       .result = kFailed,
       .shown = {"Read Board ME FW version...OK", "Read File ME FW version...",
                 "ME FW version on the board: 12.0.64.1551",
                 "Error! Can not read ME FW Version in the File."}},
      {.what = "image Major 0", .board_tool = "12.0.64.1551", .source = VersionSource::SourceFile,
       .value = "Q420TM07.BIN", .image = FwVersion{0, 0, 0, 0}, .result = kFailed,
       .shown = {"Read Board ME FW version...OK", "Read File ME FW version...",
                 "ME FW version on the board: 12.0.64.1551",
                 "Error! Can not read ME FW Version in the File."}},
      // The tool's text is rejected after the notice: the parser's "Fail" stands
      // behind it, and the rewritten line must not keep it.
      {.what = "board text rejected by the parser", .board_tool = "12.0", .value = "12.0.64.1551",
       .result = kFailed,
       .shown = {"Read Board ME FW version...OK", "Read File ME FW version...OK",
                 "Error F08: ME/TXE FW version contains non-digits.",
                 "Error! Can not read ME FW Verion on the Board.",
                 "ME FW version in the File : 12.0.64.1551"}},
  };
  for (const CheckCase &c : cases) RunCheck(c);
}

TEST(FwverCheck, TxeTextsAndItsLongerProgressLine) {
  RunCheck({.what = "TXE newer", .kind = FwKind::Txe, .board_tool = "3.1.50.2222",
            .value = "3.1.60.2000", .keys = "y", .result = kUpdate,
            .shown = {"Read Board TXE FW version...OK", "Read File TXE FW version...OK", "",
                      "TXE FW version on the board: 3.1.50.2222",
                      "TXE FW version in the File : 3.1.60.2000", "",
                      "There is a new version of TXE firmware. It is recommended to update.",
                      "Do you want to update BIOS and TXE firmware (Y/N)?"}});
  RunCheck({.what = "TXE older", .kind = FwKind::Txe, .board_tool = "3.1.50.2222",
            .value = "3.0.99.9999", .keys = "n", .result = kNoUpdate,
            .shown = {"Read Board TXE FW version...OK", "Read File TXE FW version...OK", "",
                      "TXE FW version on the board: 3.1.50.2222",
                      "TXE FW version in the File : 3.0.99.9999", "",
                      "TXE firmware is an old version. Downgrade is not recommended.",
                      "Do you want to downgrade BIOS and TXE firmware (Y/N)?"}});
  RunCheck({.what = "TXE equal", .kind = FwKind::Txe, .board_tool = "3.1.50.2222",
            .value = "3.1.50.2222", .result = kNoUpdate,
            .shown = {"Read Board TXE FW version...OK", "Read File TXE FW version...OK", "",
                      "TXE FW version on the board: 3.1.50.2222",
                      "TXE FW version in the File : 3.1.50.2222", "",
                      "Your current TXE firmware is already latest version."}});
  // "Read Board TXE FW version..." + notice + "Fail" is 72 characters wide.
  RunCheck({.what = "TXE board read fails", .kind = FwKind::Txe, .board_tool = "none",
            .value = "3.1.50.2222", .result = kFailed,
            .shown = {"Read Board TXE FW version...Fail", "", "Error F07: Not Find Version sting."}});
}

TEST(FwverCheck, PleaseWaitOnlyForTheToolMethods) {
  struct Case {
    FwKind kind;
    BoardReadMethod method;
    bool notice;
  };
  const Case cases[] = {
      {FwKind::Me, BoardReadMethod::Auto, true},
      {FwKind::Me, BoardReadMethod::MeInfoTool, true},
      {FwKind::Me, BoardReadMethod::FwUpdateLib, false},
      {FwKind::Me, BoardReadMethod::BiosSetupVariable, false},
      {FwKind::Txe, BoardReadMethod::Auto, true},
  };
  for (const Case &c : cases) {
    Bench t;
    t.MeInfo("12.0.64.1551");
    t.TxeInfo("12.0.64.1551");
    t.board.SetVariable(u"MeInfoSetup", kMeInfoSetupGuid, SetupData(12, 0, 64, 1551));
    CheckFwVersion(VersionSource::SourceNumber, c.method, c.kind, u"12.0.64.1551");
    const std::string progress = std::string("Read Board ") + (c.kind == FwKind::Me ? "ME" : "TXE") +
                                 " FW version...Please wait(it may take a little longer)";
    EXPECT_EQ(t.Raw().find(progress) != std::string::npos, c.notice)
        << int(c.method) << " " << int(c.kind);
  }
}

TEST(FwverCheck, RewriteGoesToTheRememberedPosition) {
  Bench t;
  t.board.console().screen().Write(u"   ");  // a command starting in the middle of a line
  InstallTool(t.board, u"MeInfo.efi", u"n/a\r\n");
  EXPECT_EQ(CheckFwVersion(VersionSource::SourceNumber, BoardReadMethod::Auto, FwKind::Me,
                           u"1.2.3.4"),
            kFailed);
  const auto &writes = t.board.console().screen().PositionedWrites();
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[0].column, 3u);
  EXPECT_EQ(writes[0].row, 1u);
  EXPECT_EQ(writes[0].text, std::u16string(71, u' '));
  EXPECT_EQ(writes[1].text, u"Read Board ME FW version...Fail");
  EXPECT_EQ(writes[1].column, 3u);
  EXPECT_EQ(t.Shown()[0], "   Read Board ME FW version...Fail");
  // Then back below the method's error line.
  EXPECT_EQ(writes[2].text, u"");
  EXPECT_EQ(writes[2].column, 0u);
  EXPECT_EQ(writes[2].row, 4u);
}

// The shell draws its prompt from the first column of the cursor's row; after a
// failure the cursor must stand at the start of a line below all output.
TEST(FwverCheck, FailuresLeaveTheCursorBelowTheOutput) {
  struct Case {
    const char *what;
    std::function<uint8_t(Bench &)> run;
  };
  const Case cases[] = {
      {"check, silent method",
       [](Bench &) {
         return CheckFwVersion(VersionSource::SourceNumber, BoardReadMethod::BiosSetupVariable,
                               FwKind::Me, u"1.2.3.4");
       }},
      {"check, tool method with an error line",
       [](Bench &t) {
         InstallTool(t.board, u"MeInfo.efi", u"n/a\r\n");
         return CheckFwVersion(VersionSource::SourceNumber, BoardReadMethod::Auto, FwKind::Me,
                               u"1.2.3.4");
       }},
      {"board display, silent method",
       [](Bench &) { return ShowBoardFwVersion(FwKind::Me, BoardReadMethod::FwUpdateLib); }},
      {"board display, tool method with an error line",
       [](Bench &t) {
         InstallTool(t.board, u"MeInfo.efi", u"n/a\r\n");
         return ShowBoardFwVersion(FwKind::Me, BoardReadMethod::Auto);
       }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Bench t;
    EXPECT_EQ(c.run(t), kFailed);
    uint32_t column = 99, row = 99;
    t.board.console().screen().Cursor(&column, &row);
    EXPECT_EQ(column, 0u);
    EXPECT_EQ(row, t.board.console().screen().Lines().size());
  }
}

}  // namespace
