#include <gtest/gtest.h>

#include <string>

#include "navo/fw_version/version_compare.h"
#include "navo/fw_version/version_text.h"
#include "tests/sim/sim_board.h"

namespace {

constexpr char kF08[] = "Fail\n\nError F08: ME/TXE FW version contains non-digits.\n";

struct TextCase {
  std::string text;
  bool ok;
  FwVersion want;
};

std::string Printed(const sim::Board &board) {
  std::string s = sim::Narrow(board.console().screen().Raw());
  std::string out;
  for (char c : s)
    if (c != '\r') out += c;
  return out;
}

TEST(FwverVersionText, AcceptsFourDotSeparatedNumbersOnly) {
  const TextCase cases[] = {
      {"12.0.64.1551", true, {12, 0, 64, 1551}},
      {"012.00.0064.1551", true, {12, 0, 64, 1551}},
      {"1..2.3", true, {1, 0, 2, 3}},
      {"1.2.3.", true, {1, 2, 3, 0}},
      {"...", true, {0, 0, 0, 0}},
      {"12.1234.5.6", true, {12, 1234, 5, 6}},
      {"12.0.1234.5678", true, {12, 0, 1234, 5678}},
      {"9999.9999.9999.9999", true, {9999, 9999, 9999, 9999}},
      {"0000.0.0.1", true, {0, 0, 0, 1}},
      {"1.2.3", false, {}},
      {"1.2.3.4.5", false, {}},
      {"....", false, {}},
      {"", false, {}},
      {" 1.2.3.4", false, {}},
      {"1.2.3.4 ", false, {}},
      {"a1.2.3.4", false, {}},
      {"1.2.3.4a", false, {}},
      {"-1.2.3.4", false, {}},
      {"1,2,3,4", false, {}},
      {"12.0.64.1551x", false, {}},
      // A field holds four digits; a fifth (leading zeros too) is refused
      // rather than overflowing the 16-bit field.
      {"12345.0.0.1", false, {}},
      {"1.2.3.65536", false, {}},
      {"00001.2.3.4", false, {}},
      {"1.2.3.99999", false, {}},
  };
  for (const TextCase &c : cases) {
    SCOPED_TRACE("text \"" + c.text + "\"");
    sim::Board board;
    FwVersion v{7, 7, 7, 7};  // a failure must not leave these behind
    std::u16string text = sim::U16(c.text);
    PlatStatus status = ParseFwVersionText(text.c_str(), &v);
    if (c.ok) {
      EXPECT_EQ(status, PLAT_SUCCESS);
      EXPECT_EQ(Printed(board), "");
    } else {
      EXPECT_EQ(status, PLAT_NOT_FOUND);
      EXPECT_EQ(Printed(board), kF08);
    }
    const FwVersion want = c.ok ? c.want : FwVersion{0, 0, 0, 0};
    EXPECT_EQ(v.Major, want.Major);
    EXPECT_EQ(v.Minor, want.Minor);
    EXPECT_EQ(v.HotFix, want.HotFix);
    EXPECT_EQ(v.Build, want.Build);
    EXPECT_EQ(text, sim::U16(c.text));  // the text is left as it was
  }
}

TEST(FwverVersionText, LongTextsAreRefusedWithoutOverrun) {
  // Texts past 255 characters: the walk counts in full width, and any such text
  // has a field of more than four digits or the wrong number of dots.
  const std::string cases[] = {
      std::string(300, '0') + "1.2.3.4",
      "1.2.3." + std::string(256, '9'),
      std::string(400, '.'),
      "1.2.3.4" + std::string(1000, '.'),
  };
  for (const std::string &c : cases) {
    sim::Board board;
    FwVersion v{1, 1, 1, 1};
    EXPECT_EQ(ParseFwVersionText(sim::U16(c).c_str(), &v), PLAT_NOT_FOUND);
    EXPECT_EQ(v.Major | v.Minor | v.HotFix | v.Build, 0);
    EXPECT_EQ(Printed(board), kF08);
  }
}

TEST(FwverVersionText, AbsentTextIsRefused) {
  sim::Board board;
  FwVersion v{1, 2, 3, 4};
  EXPECT_EQ(ParseFwVersionText(nullptr, &v), PLAT_NOT_FOUND);
  EXPECT_EQ(v.Major, 0);
  EXPECT_EQ(Printed(board), kF08);
}

TEST(FwverVersionCompare, FirstDifferingFieldDecides) {
  struct Case {
    FwVersion a, b;
    int sign;
  };
  const Case cases[] = {
      {{12, 0, 64, 1551}, {12, 0, 64, 1551}, 0},
      {{12, 0, 64, 1551}, {12, 0, 70, 1000}, -1},  // HotFix decides, Build not looked at
      {{12, 1, 0, 0}, {12, 0, 99, 9999}, 1},
      {{11, 8, 50, 3399}, {12, 0, 0, 0}, -1},
      {{12, 0, 64, 1552}, {12, 0, 64, 1551}, 1},
      {{65535, 0, 0, 0}, {1, 65535, 65535, 65535}, 1},  // unsigned, not signed
      {{12, 0, 0, 32768}, {12, 0, 0, 32767}, 1},
  };
  for (const Case &c : cases) {
    int r = CompareFwVersion(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a.Major << "." << c.a.Minor << "." << c.a.HotFix
                                         << "." << c.a.Build;
    int back = CompareFwVersion(c.b, c.a);
    EXPECT_EQ((back > 0) - (back < 0), -c.sign);
  }
}

}  // namespace
