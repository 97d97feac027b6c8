// Prompts, upper-casing, the usage box and banner.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "navo/console.h"
#include "navo/main.h"
#include "platform/guards.h"
#include "screen_text.h"
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
    for (const sim::Key &k : c.keys) board.console().Press(k);
    EXPECT_EQ(PromptUser(u"Continue", c.kind), c.result);
    EXPECT_EQ(board.console().KeysLeft(), c.keys_left);
    // Only the question: nothing of the answer, no line end after it.
    const std::u16string shown =
        c.kind == PromptKind::PromptYesNo ? u"Continue (Y/N)?" : u"Continue\r\n<Enter any key to continue>";
    EXPECT_EQ(board.console().screen().Raw(), shown);
  }
}

TEST(FrontConsole, PromptPollsUntilAKeyArrives) {
  sim::Board board;
  board.console().SetStarveLimit(50);
  int starved = 0;
  board.console().OnKeysStarved([&](sim::Board &b) {
    // Keys that do not answer the question first, then the answer.
    if (++starved == 1) b.PressScan(kScanUp);
    else b.Type("N");
  });
  EXPECT_EQ(PromptUser(u"", PromptKind::PromptYesNo), 0);
  EXPECT_EQ(starved, 2);
  EXPECT_GE(board.console().KeyPolls(), 100u);
  EXPECT_EQ(board.console().screen().Raw(), u" (Y/N)?");
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

TEST(FrontConsole, UsageBoxByteForByte) {
  sim::Board board;
  PrintUsage();
  std::u16string expected;
  std::size_t lines = 0;
  // The 33 rows of the table, then the closing frame.
  for (const std::string &row : screen_text::Rows("usage")) {
    ASSERT_EQ(row.size(), 69u) << row;
    expected += U16(row) + u"\r\n";
    ++lines;
  }
  EXPECT_EQ(lines, 34u);
  EXPECT_EQ(board.console().screen().Raw(), expected);
}

TEST(FrontConsole, BannerByteForByte) {
  sim::Board board;
  PrintBanner();
  const char *title = "|                 ZAN Firmware Update Utility 1.1.0                 |";
  ASSERT_EQ(std::strlen(title), 69u);
  ASSERT_EQ(std::strlen(kFrame), 69u);
  EXPECT_EQ(board.console().screen().Raw(), U16(kFrame) + u"\r\n" + U16(title) + u"\r\n" + U16(kFrame) + u"\r\n");
}

}  // namespace
