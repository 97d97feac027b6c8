#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "navo/fw_version/board_version.h"
#include "navo/fw_version/info_tool.h"
#include "navo/fw_version/setup_variable.h"
#include "tests/sim/sim_board.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr char kF07[] = "Fail\n\nError F07: Not Find Version sting.\n";
constexpr char kF08[] = "Fail\n\nError F08: ME/TXE FW version contains non-digits.\n";
constexpr char kF03Me[] = "Fail\n\nError F03: An error occurs when using \"MeInfo.efi.\"\n";
constexpr char kF03Txe[] = "Fail\n\nError F03: An error occurs when using \"TXEInfo.efi.\"\n";

std::string Printed(const sim::Board &board) {
  std::string out;
  for (char c : sim::Narrow(board.console().screen().Raw()))
    if (c != '\r') out += c;
  return out;
}

Bytes SetupData(uint32_t major, uint32_t minor, uint32_t hotfix, uint32_t build,
                std::size_t size = 22) {
  Bytes d(22, 0xA5);
  const uint32_t f[] = {major, minor, hotfix, build};
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 4; ++k) d[1 + 4 * i + k] = static_cast<uint8_t>(f[i] >> (8 * k));
  d.resize(size);
  return d;
}

// A stand-in for the information tools: writes `output` (to the redirection
// file) and ends with `status`.
void InstallTool(sim::Board &board, std::u16string_view name, std::u16string output,
                 PlatStatus status = PLAT_SUCCESS) {
  board.InstallProgram(std::u16string(u"FS0:\\") + std::u16string(name),
                       [output, status](sim::Board &, const std::vector<std::u16string> &,
                                        std::u16string &out) {
                         out += output;
                         return status;
                       });
}


// ---- MeInfoSetup -----------------------------------------------------------------------

TEST(FwverSetupVariable, AcceptsFieldsBelow9999Only) {
  struct Case {
    const char *what;
    std::optional<Bytes> data;
    PlatStatus status;
    FwVersion want;
  };
  const Case cases[] = {
      {"valid", SetupData(12, 0, 64, 1551), 0, {12, 0, 64, 1551}},
      {"9998 is the largest accepted value", SetupData(9998, 9998, 9998, 9998), 0,
       {9998, 9998, 9998, 9998}},
      {"9999 in Build", SetupData(12, 0, 64, 9999), 1, {}},
      {"9999 in Major", SetupData(9999, 0, 64, 1), 1, {}},
      {"65536: low 16 bits 0 but refused", SetupData(12, 65536, 64, 1551), 1, {}},
      {"high byte set", SetupData(12, 0, 0x01000040, 1551), 1, {}},
      {"Major 0 is a valid read", SetupData(0, 1, 2, 3), 0, {0, 1, 2, 3}},
      {"17 bytes hold the four fields", SetupData(12, 0, 64, 1551, 17), 0, {12, 0, 64, 1551}},
      {"16 bytes: Build incomplete", SetupData(12, 0, 64, 1, 16), 1, {}},
      {"1 byte", SetupData(12, 0, 64, 1, 1), 1, {}},
      {"empty", Bytes{}, 1, {}},
      {"23 bytes do not fit", [] { Bytes d = SetupData(12, 0, 64, 1551); d.push_back(0); return d; }(),
       1, {}},
      {"missing", std::nullopt, 1, {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    sim::Board board;
    if (c.data) board.SetVariable(u"MeInfoSetup", kMeInfoSetupGuid, *c.data);
    FwVersion v{7, 7, 7, 7};
    EXPECT_EQ(ReadMeInfoSetupVersion(&v, 0), c.status);
    EXPECT_EQ(v.Major, c.want.Major);
    EXPECT_EQ(v.Minor, c.want.Minor);
    EXPECT_EQ(v.HotFix, c.want.HotFix);
    EXPECT_EQ(v.Build, c.want.Build);
    EXPECT_EQ(Printed(board), "");
  }
}

TEST(FwverSetupVariable, OtherVendorGuidIsNotRead) {
  sim::Board board;
  PlatGuid other = kMeInfoSetupGuid;
  other.Data4[7] ^= 1;
  board.SetVariable(u"MeInfoSetup", other, SetupData(12, 0, 64, 1551));
  FwVersion v{};
  EXPECT_EQ(ReadMeInfoSetupVersion(&v, 0), 1u);
}

TEST(FwverSetupVariable, VerboseDump) {
  sim::Board board;
  Bytes d = SetupData(12, 0, 64, 1551);
  d[0] = 0x01;
  for (int i = 17; i < 22; ++i) d[i] = static_cast<uint8_t>(0xE0 + i);
  board.SetVariable(u"MeInfoSetup", kMeInfoSetupGuid, d);
  FwVersion v{};
  EXPECT_EQ(ReadMeInfoSetupVersion(&v, 1), 0u);
  EXPECT_EQ(Printed(board),
            "   MeInfoSetupData\n\n"
            "   00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n"
            "00 01 0C 00 00 00 00 00 00 00 40 00 00 00 0F 06 00\n"
            "10 00 F1 F2 F3 F4 F5\n\n"
            "MEVerMajor (UINT8 to UINT32): 0000000C\n"
            "MEVerMinor (UINT8 to UINT32): 00000000\n"
            "MEVerHotFix(UINT8 to UINT32): 00000040\n"
            "MEVerBuild (UINT8 to UINT32): 0000060F\n");
}

// ---- The "FW Version" text search --------------------------------------------------------

Bytes Utf16(std::u16string_view text, bool bom = true) {
  Bytes b;
  if (bom) b = {0xFF, 0xFE};
  for (char16_t c : text) {
    b.push_back(static_cast<uint8_t>(c));
    b.push_back(static_cast<uint8_t>(c >> 8));
  }
  return b;
}

TEST(FwverVersionTextSearch, CutsTheFirstRunOfDigitsAndDotsBehindTheLabel) {
  struct Case {
    const char *what;
    std::u16string text;
    VersionTextSearch result;
    std::string cut;
  };
  const Case cases[] = {
      {"usual line", u"Intel(R) MEInfo\r\nFW Version:   12.0.64.1551\r\nBIOS", VersionTextSearch::Found,
       "12.0.64.1551"},
      {"text behind", u"FW Version: 12.0.64.1551 H\r\n", VersionTextSearch::Found, "12.0.64.1551"},
      {"first run anywhere behind", u"FW Version: n/a\r\nOther: x\r\n  12.0.64.1551\r\n",
       VersionTextSearch::Found, "12.0.64.1551"},
      {"a lone dot starts the text", u"FW Version: .5 x", VersionTextSearch::Found, ".5"},
      {"first label with digits wins", u"FW Version: 1.2.3.4 FW Version: 5.6.7.8",
       VersionTextSearch::Found, "1.2.3.4"},
      {"ends at the text's end", u"FW Version:12.0.64", VersionTextSearch::Found, "12.0.64"},
      {"23 characters fit", u"FW Version: 12345678901234567890123\r\n", VersionTextSearch::Found,
       "12345678901234567890123"},
      {"24 characters do not", u"FW Version: 123456789012345678901234\r\n",
       VersionTextSearch::TooLong, ""},
      {"lower case label", u"fw version: 12.0.64.1551", VersionTextSearch::NotFound, ""},
      {"no label", u"Version: 12.0.64.1551", VersionTextSearch::NotFound, ""},
      {"label cut at the end", u"xx FW Versio", VersionTextSearch::NotFound, ""},
      {"label with nothing behind", u"FW Version", VersionTextSearch::NotFound, ""},
      {"empty", u"", VersionTextSearch::NotFound, ""},
      {"non-ASCII neighbours", u"\u3046FW Version\u3046:\u0131 3.4", VersionTextSearch::Found, "3.4"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Bytes b = Utf16(c.text);
    char16_t text[kVersionTextChars + 1];
    std::memset(text, 0x55, sizeof text);
    EXPECT_EQ(FindVersionText(b.data(), b.size() / 2, text), c.result);
    if (c.result == VersionTextSearch::Found) {
      EXPECT_EQ(sim::Narrow(text), c.cut);
    }
  }
}

TEST(FwverVersionTextSearch, StaysLinearOnManyLabelsWithoutDigits) {
  // Half a million labels and no digit anywhere: a search that rescans behind
  // every label would take hours.
  std::u16string text;
  for (int i = 0; i < 500000; ++i) text += u"FW Version ";
  Bytes b = Utf16(text);
  char16_t cut[kVersionTextChars + 1];
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(FindVersionText(b.data(), b.size() / 2, cut), VersionTextSearch::NotFound);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
}

// ---- Methods 3 and 11 ------------------------------------------------------------------

struct ToolCase {
  const char *what;
  std::function<void(sim::Board &)> setup;
  PlatStatus status;
  FwVersion want;
  std::string printed;
  bool file_left;  // the output file is still there afterwards
};

void RunToolCases(bool txe, const std::vector<ToolCase> &cases) {
  const std::u16string file = txe ? u"TxeInfoTmp.txt" : u"MeInfoTmp.txt";
  for (const ToolCase &c : cases) {
    SCOPED_TRACE(c.what);
    sim::Board board;
    board.SetCurDir(u"FS0:\\UPD");
    c.setup(board);
    const bool tool_there = board.HasFile(txe ? u"TXEInfo.efi" : u"MeInfo.efi");
    FwVersion v{0, 0, 0, 0};
    PlatStatus status = txe ? ReadTxeInfoToolVersion(&v, 0) : ReadMeInfoToolVersion(&v, 0);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(v.Major, c.want.Major);
    EXPECT_EQ(v.Minor, c.want.Minor);
    EXPECT_EQ(v.HotFix, c.want.HotFix);
    EXPECT_EQ(v.Build, c.want.Build);
    EXPECT_EQ(Printed(board), c.printed);
    EXPECT_EQ(board.HasFile(file), c.file_left);
    // A missing tool is never handed to the shell.
    std::vector<std::u16string> lines;
    for (const sim::ExecRecord &r : board.shell().Executed()) lines.push_back(r.line);
    EXPECT_EQ(lines, tool_there ? std::vector<std::u16string>{txe ? u"TXEInfo.efi >> TxeInfoTmp.txt"
                                                                  : u"MeInfo.efi >> MeInfoTmp.txt"}
                                : std::vector<std::u16string>{});
    EXPECT_EQ(board.OpenFiles(), 0u);
    EXPECT_EQ(board.LiveAllocations(), 0u);
  }
}

void Tool(sim::Board &b, std::u16string output, PlatStatus status = PLAT_SUCCESS) {
  b.InstallProgram(u"FS0:\\UPD\\MeInfo.efi", [output, status](sim::Board &,
                                                               const std::vector<std::u16string> &,
                                                               std::u16string &out) {
    out += output;
    return status;
  });
}

TEST(FwverMeInfoTool, ReadsTheVersionFromTheToolsOutput) {
  const std::u16string usual = u"Intel(R) MEInfo Version: 12.0.1.1\r\nFW Version: 12.0.64.1551\r\n";
  std::u16string huge(70000, u'x');
  RunToolCases(false, {
      {"usual output; file deleted afterwards", [&](sim::Board &b) { Tool(b, usual); }, 0,
       {12, 0, 64, 1551}, "", false},
      {"an earlier run's file is not read",
       [&](sim::Board &b) {
         b.PutFile(u"MeInfoTmp.txt", Utf16(u"FW Version: 1.1.1.1\r\n"));
         Tool(b, usual);
       },
       0, {12, 0, 64, 1551}, "", false},
      {"a non-error status of the tool is no failure",
       [&](sim::Board &b) { Tool(b, usual, 0xC601); }, 0, {12, 0, 64, 1551}, "", false},
      {"no label: F07, file kept", [](sim::Board &b) { Tool(b, u"MEInfo\r\n"); }, PLAT_NOT_FOUND,
       {}, kF07, true},
      {"empty output", [](sim::Board &b) { Tool(b, u""); }, PLAT_NOT_FOUND, {}, kF07, true},
      {"lower-case label", [](sim::Board &b) { Tool(b, u"fw version: 12.0.64.1551\r\n"); },
       PLAT_NOT_FOUND, {}, kF07, true},
      {"three numbers: parser's F08, status 0, record zero",
       [](sim::Board &b) { Tool(b, u"FW Version: 12.0.64\r\n"); }, 0, {}, kF08, false},
      {"over-long run of digits: F07",
       [](sim::Board &b) { Tool(b, u"FW Version: 12.0.64.1551.0.0.0.0.0.0.0\r\n"); },
       PLAT_NOT_FOUND, {}, kF07, true},
      {"more than 65,535 characters before the line",
       [&](sim::Board &b) { Tool(b, huge + u"\r\nFW Version: 12.0.64.1551\r\n"); }, 0,
       {12, 0, 64, 1551}, "", false},
      // The shell hands an application's status on cut to its low 32 bits, so a
      // tool's own error status is not seen as one; its output still counts.
      {"tool's own error status is cut by the shell",
       [&](sim::Board &b) { Tool(b, usual, PLAT_LOAD_ERROR); }, 0, {12, 0, 64, 1551}, "", false},
      {"tool missing", [](sim::Board &) {}, PLAT_LOAD_ERROR, {}, kF03Me, false},
      {"execute itself fails",
       [&](sim::Board &b) {
         Tool(b, usual);
         b.shell().SetExecuteResult(PLAT_OUT_OF_RESOURCES);
       },
       PLAT_LOAD_ERROR, {}, kF03Me, false},
      {"output cannot be opened",
       [&](sim::Board &b) {
         Tool(b, usual);
         b.shell().InjectOpenFailure(u"FS0:\\UPD\\MEINFOTMP.TXT", PLAT_ACCESS_DENIED);
       },
       PLAT_ACCESS_DENIED, {}, "Fail\n\nError F04: Open File failed!\n", true},
      {"output cannot be read",
       [&](sim::Board &b) {
         Tool(b, usual);
         b.shell().InjectReadFailure(u"FS0:\\UPD\\MEINFOTMP.TXT", PLAT_DEVICE_ERROR);
       },
       PLAT_DEVICE_ERROR, {}, "Fail\n\nError F06: Read File failed!\n", true},
  });
}

TEST(FwverMeInfoTool, OddByteCountIgnoresTheLastByte) {
  sim::Board board;
  Tool(board, u"");  // the file is replaced below, after the tool has run
  Bytes odd = Utf16(u"FW Version: 12.0.64.1551");
  odd.push_back('7');  // half a character: not a digit of the version
  board.InstallProgram(u"FS0:\\MeInfo.efi", [&odd](sim::Board &b, const std::vector<std::u16string> &,
                                                  std::u16string &) {
    b.PutFile(u"MeInfoTmp.txt", odd);
    return PLAT_SUCCESS;
  });
  FwVersion v{};
  EXPECT_EQ(ReadMeInfoToolVersion(&v, 0), 0u);
  EXPECT_EQ(v.Build, 1551);
  EXPECT_EQ(board.LiveAllocations(), 0u);
}

TEST(FwverTxeInfoTool, SameWorkingWithTheTxeTool) {
  auto txe = [](sim::Board &b, std::u16string output, PlatStatus status = PLAT_SUCCESS) {
    InstallTool(b, u"UPD\\TXEInfo.efi", std::move(output), status);
  };
  RunToolCases(true, {
      {"usual output", [&](sim::Board &b) { txe(b, u"FW Version: 3.1.50.2222\r\n"); }, 0,
       {3, 1, 50, 2222}, "", false},
      {"MeInfo.efi alone is not used",
       [&](sim::Board &b) { Tool(b, u"FW Version: 12.0.64.1551\r\n"); }, PLAT_LOAD_ERROR, {},
       kF03Txe, false},
      {"tool missing", [](sim::Board &) {}, PLAT_LOAD_ERROR, {}, kF03Txe, false},
      {"no label", [&](sim::Board &b) { txe(b, u"TXEInfo\r\n"); }, PLAT_NOT_FOUND, {}, kF07, true},
  });
}

// ---- The dispatcher --------------------------------------------------------------------------

// What is available on the simulated board; the HECI method always fails here
// (no HECI protocol is installed).
struct Sources {
  std::optional<Bytes> variable;
  std::optional<std::u16string> meinfo;  // nullopt: the tool is not there
};

struct DispatchCase {
  const char *what;
  BoardReadMethod method;
  Sources sources;
  bool status_zero;              // otherwise any non-zero status
  std::optional<PlatStatus> exact;  // when the status is known exactly
  FwVersion want;
  bool tool_ran;
  std::string printed;
};

TEST(FwverReadBoardFwVersion, MethodOrderAndStatuses) {
  const Bytes good = SetupData(12, 0, 49, 1534);
  const Bytes zero_major = SetupData(0, 1, 2, 3);
  const std::u16string meinfo = u"FW Version: 12.0.64.1551\r\n";
  const DispatchCase cases[] = {
      {"manual 1 fails without trying 2 and 3", BoardReadMethod::FwUpdateLib, {good, meinfo}, false,
       std::nullopt, {}, false, ""},
      {"manual 2", BoardReadMethod::BiosSetupVariable, {good, meinfo}, true, 0, {12, 0, 49, 1534},
       false, ""},
      {"manual 2 missing: status 1, 3 not tried", BoardReadMethod::BiosSetupVariable,
       {std::nullopt, meinfo}, false, 1, {}, false, ""},
      {"manual 2 with Major 0: status 0, zero Major", BoardReadMethod::BiosSetupVariable,
       {zero_major, meinfo}, true, 0, {0, 1, 2, 3}, false, ""},
      {"manual 3", BoardReadMethod::MeInfoTool, {good, meinfo}, true, 0, {12, 0, 64, 1551}, true, ""},
      {"auto: 1 fails, 2 delivers, 3 not run", BoardReadMethod::Auto, {good, meinfo}, true, 0,
       {12, 0, 49, 1534}, false, ""},
      {"auto: 2 missing, 3 delivers", BoardReadMethod::Auto, {std::nullopt, meinfo}, true, 0,
       {12, 0, 64, 1551}, true, ""},
      {"auto: 2 with Major 0 does not count, 3 delivers", BoardReadMethod::Auto,
       {zero_major, meinfo}, true, 0, {12, 0, 64, 1551}, true, ""},
      {"auto: 1 and 2 fail, 3 finds no version", BoardReadMethod::Auto,
       {std::nullopt, u"nothing\r\n"}, false, PLAT_NOT_FOUND, {}, true, kF07},
      {"auto: 3 rejects the text: status 0, zero Major", BoardReadMethod::Auto,
       {std::nullopt, u"FW Version: 12.0\r\n"}, true, 0, {}, true, kF08},
      {"unknown method 4", static_cast<BoardReadMethod>(4), {good, meinfo}, false, std::nullopt, {},
       false, ""},
      {"unknown method 255", static_cast<BoardReadMethod>(255), {good, meinfo}, false,
       std::nullopt, {}, false, ""},
  };
  for (const DispatchCase &c : cases) {
    SCOPED_TRACE(c.what);
    sim::Board board;
    if (c.sources.variable) board.SetVariable(u"MeInfoSetup", kMeInfoSetupGuid, *c.sources.variable);
    if (c.sources.meinfo) InstallTool(board, u"MeInfo.efi", *c.sources.meinfo);
    FwVersion v{0, 0, 0, 0};
    PlatStatus status = ReadBoardFwVersion(&v, c.method, 0);
    if (c.status_zero) {
      EXPECT_EQ(status, PLAT_SUCCESS);
    } else {
      EXPECT_NE(status, PLAT_SUCCESS);
    }
    if (c.exact) {
      EXPECT_EQ(status, *c.exact);
    }
    EXPECT_EQ(v.Major, c.want.Major);
    EXPECT_EQ(v.Minor, c.want.Minor);
    EXPECT_EQ(v.HotFix, c.want.HotFix);
    EXPECT_EQ(v.Build, c.want.Build);
    EXPECT_EQ(!board.shell().Executed().empty(), c.tool_ran);
    EXPECT_EQ(Printed(board), c.printed);
  }
}

TEST(FwverReadBoardFwVersion, MethodElevenRunsTheTxeTool) {
  sim::Board board;
  InstallTool(board, u"TXEInfo.efi", u"FW Version: 3.1.50.2222\r\n");
  InstallTool(board, u"MeInfo.efi", u"FW Version: 12.0.64.1551\r\n");
  FwVersion v{};
  EXPECT_EQ(ReadBoardFwVersion(&v, BoardReadMethod::TxeInfoTool, 0), 0u);
  EXPECT_EQ(v.Major, 3);
  ASSERT_EQ(board.shell().Executed().size(), 1u);
  EXPECT_EQ(board.shell().Executed()[0].line, u"TXEInfo.efi >> TxeInfoTmp.txt");
}

TEST(FwverReadBoardFwVersion, VerboseTraceOfTheAutomaticOrder) {
  sim::Board board;
  board.SetVariable(u"MeInfoSetup", kMeInfoSetupGuid, SetupData(12, 0, 9999, 1));
  InstallTool(board, u"MeInfo.efi", u"FW Version: 12.0.64.1551\r\n");
  FwVersion v{};
  EXPECT_EQ(ReadBoardFwVersion(&v, BoardReadMethod::Auto, 1), 0u);
  std::string text = Printed(board);
  // The dump of the variable lies between the method-2 header and its verdict.
  const std::string want_start =
      "Get ME Version On Board DeBug message >>\n"
      "Mode: Auto mode \n"
      "IntelFWUpdateLib:\n"
      "WARNING! IntelFWUpdateLib function is not support.\n\n"
      "  AmiBIOSSetup:\n"
      "   MeInfoSetupData\n";
  const std::string want_end =
      "   ERROR! Version information is wrong.\n"
      "   WARNING! AmiBIOSSetup Function is not support.\n\n"
      "Use MEInfo Tool ==> \n"
      "MEInfo String ME Version: 12.0.64.1551\n"
      "   Successful.\n\n"
      " Get ME Version On Board DeBug message <<\n\n";
  EXPECT_EQ(text.substr(0, want_start.size()), want_start);
  ASSERT_GE(text.size(), want_end.size());
  EXPECT_EQ(text.substr(text.size() - want_end.size()), want_end);
  // With the trace on, the tool's output file stays for inspection.
  EXPECT_TRUE(board.HasFile(u"MeInfoTmp.txt"));
}

TEST(FwverReadBoardFwVersion, VerboseFailuresLeaveOutTheFailWord) {
  sim::Board board;
  FwVersion v{};
  EXPECT_EQ(ReadBoardFwVersion(&v, BoardReadMethod::MeInfoTool, 1), PLAT_LOAD_ERROR);
  EXPECT_EQ(Printed(board),
            "Get ME Version On Board DeBug message >>\n"
            "Mode: Manual mode \n"
            "Use MEInfo Tool ==> \n"
            "Error F03: An error occurs when using \"MeInfo.efi.\"\n"
            "   WARNING! IntelMeInfo Function is not support.\n\n"
            " Get ME Version On Board DeBug message <<\n\n");
}

}  // namespace
