// Linux file names through UCS-2 and back: every byte string comes back as it
// was, and UTF-8 of the 16-bit range reads as its characters. In messages a
// name shows as it is unless it carries what a terminal would act on.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/posix/byte_names.h"

namespace {

TEST(PosixByteNames, DecodesUtf8AndEscapesEverythingElse) {
  struct Case {
    const char *what;
    std::string bytes;
    std::u16string ucs2;
  };
  const Case cases[] = {
      {"ASCII", "Q420TM07.BIN", u"Q420TM07.BIN"},
      {"UTF-8, two bytes", "M\xC3\xBCller", u"M\u00FCller"},
      {"UTF-8, three bytes", "\xE2\x82\xAC", u"\u20AC"},
      {"Latin-1", "M\xFCller", u"M\xDCFCller"},
      {"outside 16 bits (four bytes)", "\xF0\x9F\x98\x80", u"\xDCF0\xDC9F\xDC98\xDC80"},
      {"overlong form", "\xC0\xAF", u"\xDCC0\xDCAF"},
      {"an encoded surrogate", "\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},
      {"cut short at the end", "a\xE2\x82", u"a\xDCE2\xDC82"},
      {"a stray continuation byte", "\x80z", u"\xDC80z"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Ucs2FromBytes(c.bytes), c.ucs2);
    EXPECT_EQ(BytesFromUcs2(c.ucs2.c_str()), c.bytes);
  }
}

TEST(PosixByteNames, AnyBytesComeBackUnchanged) {
  std::mt19937 rng(99);
  for (int round = 0; round < 20000; ++round) {
    std::string bytes(rng() % 12, '\0');
    for (char &b : bytes) b = static_cast<char>(1 + rng() % 255);
    ASSERT_EQ(BytesFromUcs2(Ucs2FromBytes(bytes).c_str()), bytes) << "round " << round;
  }
}

TEST(PosixByteNames, MessagesQuoteNamesThatATerminalWouldActOn) {
  struct Case {
    const char *what;
    std::string bytes;
    std::string shown;
  };
  const Case cases[] = {
      {"space, quote, backslash, UTF-8 of four bytes too", "it's a\\b M\xC3\xBCller-\xF0\x9F\x98\x80",
       "it's a\\b M\xC3\xBCller-\xF0\x9F\x98\x80"},
      {"a terminal escape first, a control last", "\x1B]0;t\a", "$'\\033'']0;t'$'\\a'"},
      {"a quote beside a control", "it's\t", "'it'\\''s'$'\\t'"},
      {"DEL and a C1 control in UTF-8", "\x7F\xC2\x9B", "$'\\177\\302\\233'"},
      {"Latin-1, a cut sequence at the end", "M\xFCller a\xE2\x82", "'M'$'\\374''ller a'$'\\342\\202'"},
      {"empty", "", "''"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(NameForMessage(c.bytes), c.shown);
  }
  // Whatever the bytes, what a message shows needs no quoting itself: no
  // control character, nothing ill-formed.
  std::mt19937 rng(7);
  for (int round = 0; round < 20000; ++round) {
    std::string bytes(rng() % 8, '\0');
    for (char &b : bytes) b = static_cast<char>(rng());
    const std::string shown = NameForMessage(bytes);
    ASSERT_EQ(NameForMessage(shown), shown) << "round " << round;
  }
}

}  // namespace
