#include <gtest/gtest.h>

#include <string>

#include "platform/print.h"
#include "tests/sim/sim_board.h"

namespace {

template <class... A>
std::string Fmt(const char16_t *format, A... args) {
  char16_t out[400];
  plat::Format(out, format, args...);
  return sim::Narrow(out);
}

TEST(Format, ConversionsMatchTheUefiLibrary) {
  EXPECT_EQ(Fmt(u"File size            : 0x%X", 0x11170u), "File size            : 0x11170");
  EXPECT_EQ(Fmt(u"0x%08X", 0x01105E90u), "0x01105E90");
  EXPECT_EQ(Fmt(u"%04X", 0x5E90u), "5E90");
  EXPECT_EQ(Fmt(u"%04X", 0x1u), "0001");
  EXPECT_EQ(Fmt(u"%02x %08x", 0xABu, 0x12u), "AB 00000012");  // upper-case digits for %x as well
  EXPECT_EQ(Fmt(u"%d.%d.%d.%d", 12, 0, 64, 1551), "12.0.64.1551");
  EXPECT_EQ(Fmt(u"%d", -5), "-5");
  EXPECT_EQ(Fmt(u"%d", uint16_t{65535}), "65535");
  EXPECT_EQ(Fmt(u"%s-%a-%S", u"wide", "narrow", u"S"), "wide-narrow-S");
  EXPECT_EQ(Fmt(u"%s", static_cast<const char16_t *>(nullptr)), "<null string>");
  EXPECT_EQ(Fmt(u"100%%"), "100%");
  EXPECT_EQ(Fmt(u"[%5d][%-3d]", 42, 7), "[   42][7  ]");
}

TEST(Format, ValuesWithoutLongFlagAreThirtyTwoBit) {
  // A 64-bit count printed with %X shows its low 32 bits, as the firmware does.
  EXPECT_EQ(Fmt(u"%X", uint64_t{0x100000010}), "10");
  EXPECT_EQ(Fmt(u"%lX", uint64_t{0x100000010}), "100000010");
}

TEST(Format, NewlinesOfTheFormatBecomeCrLfButNotThoseOfArguments) {
  EXPECT_EQ(Fmt(u"a\nb\n\rc\r\nd"), "a\r\nb\r\nc\r\nd");
  EXPECT_EQ(Fmt(u"%a", "x\ny"), "x\ny");
}

TEST(Format, OutputIsCutToTheBufferAndTerminated) {
  char16_t out[5];
  EXPECT_EQ(plat::Format(out, u"%s", u"abcdefgh"), 4u);
  EXPECT_EQ(sim::Narrow(out), "abcd");
}

TEST(Print, OneCallShowsAtMost320Characters) {
  sim::Board board;
  std::u16string long_text(400, u'x');
  Print(u"%s", long_text.c_str());
  EXPECT_EQ(board.console().screen().Raw().size(), plat::kMaxPrintChars);
}

}  // namespace
