// The board version in automatic mode with an ME that answers over HECI: the
// HECI query comes first, then the MeInfoSetup variable, then MeInfo.efi.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "navo/fw_version/board_version.h"
#include "tests/sim/sim_board.h"
#include "tests/sim/sim_me.h"

namespace {

using ::testing::IsEmpty;

constexpr PlatGuid kMeInfoSetupGuid = {
    0x78259433, 0x7B6D, 0x4DB3, {0x9A, 0xE8, 0x36, 0xC4, 0xC2, 0xC3, 0xA1, 0x7D}};

std::vector<uint8_t> SetupData(uint32_t major, uint32_t minor, uint32_t hotfix, uint32_t build) {
  std::vector<uint8_t> d(22, 0);
  const uint32_t f[] = {major, minor, hotfix, build};
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 4; ++k) d[1 + 4 * i + k] = static_cast<uint8_t>(f[i] >> (8 * k));
  return d;
}

struct Sources {
  bool heci = true;  // the HECI protocol is there
  std::function<void(sim::SimMe &)> me;  // how the ME answers
  std::optional<std::vector<uint8_t>> variable;
  std::optional<std::string> tool_output;  // MeInfo.efi present with this output
};

struct Case {
  const char *what;
  BoardReadMethod method;
  Sources sources;
  PlatStatus status;
  FwVersion version;
  bool heci_tried, tool_tried;
};

const std::vector<uint8_t> kVariable = SetupData(11, 1, 22, 333);
const std::string kTool = "FW Version: 10.2.30.4000\r\n";
void NoMkhi(sim::SimMe &me) { me.clients.erase(me.clients.begin() + 1); }
void Refuses(sim::SimMe &me) { me.version_result = 0x81; }
void ZeroMajor(sim::SimMe &me) { me.version = {0, 5, 6, 7}; }

TEST(HeciAutoOrder, HeciThenVariableThenTool) {
  const Case cases[] = {
      {"HECI answers: nothing else is asked", BoardReadMethod::Auto,
       {true, nullptr, kVariable, kTool}, 0, {12, 0, 64, 1551}, true, false},
      {"no MKHI client: the variable answers", BoardReadMethod::Auto,
       {true, NoMkhi, kVariable, kTool}, 0, {11, 1, 22, 333}, true, false},
      {"ME refuses (326): the variable answers", BoardReadMethod::Auto,
       {true, Refuses, kVariable, kTool}, 0, {11, 1, 22, 333}, true, false},
      {"no HECI protocol: the variable answers", BoardReadMethod::Auto,
       {false, nullptr, kVariable, kTool}, 0, {11, 1, 22, 333}, false, false},
      {"HECI refuses, no variable: the tool answers", BoardReadMethod::Auto,
       {true, Refuses, std::nullopt, kTool}, 0, {10, 2, 30, 4000}, true, true},
      // Status 0 with Major 0 is no version: the next method is asked.
      {"HECI Major 0: the variable answers", BoardReadMethod::Auto,
       {true, ZeroMajor, kVariable, kTool}, 0, {11, 1, 22, 333}, true, false},
      {"HECI and variable Major 0: the tool answers", BoardReadMethod::Auto,
       {true, ZeroMajor, SetupData(0, 1, 1, 1), kTool}, 0, {10, 2, 30, 4000}, true, true},
      {"HECI Major 0 and nothing else: the missing tool is the status", BoardReadMethod::Auto,
       {true, ZeroMajor, std::nullopt, std::nullopt}, PLAT_LOAD_ERROR, {0, 0, 0, 0}, true, false},
      {"manual HECI: its own status, nothing else tried", BoardReadMethod::FwUpdateLib,
       {true, Refuses, kVariable, kTool}, 326, {0, 0, 0, 0}, true, false},
      {"manual HECI answers", BoardReadMethod::FwUpdateLib,
       {true, nullptr, kVariable, kTool}, 0, {12, 0, 64, 1551}, true, false},
      {"manual HECI without an MKHI client", BoardReadMethod::FwUpdateLib,
       {true, NoMkhi, kVariable, kTool}, 28, {0, 0, 0, 0}, true, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    sim::Board board;
    sim::SimMe me;
    if (c.sources.heci) board.me().Install(&me);
    if (c.sources.me) c.sources.me(me);
    if (c.sources.variable) board.SetVariable(u"MeInfoSetup", kMeInfoSetupGuid, *c.sources.variable);
    if (c.sources.tool_output) {
      std::u16string output = sim::U16(*c.sources.tool_output);
      board.InstallProgram(u"FS0:\\MeInfo.efi",
                           [output](sim::Board &, const std::vector<std::u16string> &,
                                    std::u16string &out) {
                             out += output;
                             return PlatStatus{PLAT_SUCCESS};
                           });
    }

    FwVersion v{};
    EXPECT_EQ(ReadBoardFwVersion(&v, c.method, 0), c.status);

    EXPECT_EQ(v.Major, c.version.Major);
    EXPECT_EQ(v.Minor, c.version.Minor);
    EXPECT_EQ(v.HotFix, c.version.HotFix);
    EXPECT_EQ(v.Build, c.version.Build);
    EXPECT_EQ(!board.shell().Executed().empty(), c.tool_tried);
    if (c.heci_tried) {
      // HECI went first and closed its connection whatever came of it.
      ASSERT_GE(me.sent.size(), 2u);
      EXPECT_EQ(me.sent.front().bytes, std::vector<uint8_t>({0x04, 0, 0, 0}));
      EXPECT_EQ(me.sent.back().bytes[0], 0x07);
    } else {
      EXPECT_THAT(me.sent, IsEmpty());
    }
    // Only the tool's failure is reported on screen; HECI and the variable are silent.
    if (c.status == PLAT_LOAD_ERROR) {
      EXPECT_THAT(board.console().screen().Text(), ::testing::HasSubstr("Error F03"));
    } else {
      EXPECT_EQ(board.console().screen().Text(), "");
    }
    EXPECT_THAT(me.faults, IsEmpty());
    EXPECT_EQ(board.LiveAllocations(), 0u);
    EXPECT_EQ(board.OpenFiles(), 0u);
  }
}

}  // namespace
