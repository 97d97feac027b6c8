// The command-line scan: which command, options and values a command line gives,
// where the scan stops, and which immediate switch it reaches.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "navo/command_line.h"
#include "tests/sim/sim_board.h"

namespace {

// A writable argument vector, as the shell hands it over (argv[0] the program).
struct Argv {
  explicit Argv(std::initializer_list<const char *> words) {
    storage.push_back(u"NAVO.efi");
    for (const char *w : words) storage.push_back(sim::U16(w));
    for (auto &s : storage) pointers.push_back(s.data());
    pointers.push_back(nullptr);
  }
  uint64_t argc() const { return storage.size(); }
  char16_t **argv() { return pointers.data(); }
  std::string Word(std::size_t i) const { return sim::Narrow(storage[i]); }
  std::vector<std::u16string> storage;
  std::vector<char16_t *> pointers;
};

constexpr int kNoValue = -1;

struct ScanCase {
  std::initializer_list<const char *> words;
  ImmediateSwitch immediate;
  bool error;
  CommandId command;
  uint8_t kind;
  BoardReadMethod method;
  OverridePinMode pin;
  VersionSource source;
  int value_word;  // index into argv that Value must point at
};

using IS = ImmediateSwitch;
using C = CommandId;
using M = BoardReadMethod;
using P = OverridePinMode;
using S = VersionSource;

constexpr bool kFault = true;
constexpr bool kOk = false;

const ScanCase kScanCases[] = {
    // No argument: no command, which makes it a faulty command line.
    {{}, IS::None, kOk, C::None, 0, M::Auto, P::PinToggle, S::None, kNoValue},
    // Immediate switches, in any letter case, also after a command.
    {{"-ver"}, IS::Version, kOk, C::None, 0, M::Auto, P::PinToggle, S::None, kNoValue},
    {{"-VeR"}, IS::Version, kOk, C::None, 0, M::Auto, P::PinToggle, S::None, kNoValue},
    {{"-coldrst"}, IS::ColdReset, kOk, C::None, 0, M::Auto, P::PinToggle, S::None, kNoValue},
    {{"-h"}, IS::Help, kOk, C::None, 0, M::Auto, P::PinToggle, S::None, kNoValue},
    {{"-MBMEVER", "-VER"}, IS::Version, kOk, C::BoardMe, 2, M::Auto, P::PinToggle, S::None, kNoValue},
    {{"-ECOVRPIN", "-ON", "-H"}, IS::Help, kOk, C::EcPin, 0, M::Auto, P::PinOn, S::None, kNoValue},
    {{"-ECOVRAUTO", "-COLDRST"}, IS::ColdReset, kOk, C::EcAuto, 0, M::Auto, P::PinToggle, S::None, kNoValue},
    {{"-FILEMEVER", "X.BIN", "-H"}, IS::Help, kOk, C::FileVersion, 2, M::Auto, P::PinToggle, S::None, 2},
    {{"-CHKMEVER", "-F", "X.BIN", "-RB01", "-ver"}, IS::Version, kOk, C::CheckMe, 2, M::FwUpdateLib, P::PinToggle, S::SourceFile, 3},
    // After a fault nothing more is looked at, immediate switches included.
    {{"bogus", "-VER"}, IS::None, kFault, C::None, 0, M::Auto, P::PinToggle, S::None, kNoValue},
    {{"-MBTXEVER", "-RB01", "-H"}, IS::None, kFault, C::BoardTxe, 3, M::Auto, P::PinToggle, S::None, kNoValue},
    {{"-ECOVRPIN", "-ON", "-OFF", "-COLDRST"}, IS::None, kFault, C::EcPin, 0, M::Auto, P::PinOn, S::None, kNoValue},
    // The pin command and its one optional word.
    {{"-ECOVRPIN"}, IS::None, kOk, C::EcPin, 0, M::Auto, P::PinToggle, S::None, kNoValue},
    {{"-ecovrpin", "-off"}, IS::None, kOk, C::EcPin, 0, M::Auto, P::PinOff, S::None, kNoValue},
    {{"-ECOVRPIN", "-ON"}, IS::None, kOk, C::EcPin, 0, M::Auto, P::PinOn, S::None, kNoValue},
    {{"-ECOVRPIN", "-ON", "-OFF"}, IS::None, kFault, C::EcPin, 0, M::Auto, P::PinOn, S::None, kNoValue},
    {{"-ECOVRPIN", "-H"}, IS::None, kFault, C::EcPin, 0, M::Auto, P::PinToggle, S::None, kNoValue},
    {{"-ECOVRPIN", "-RB01"}, IS::None, kFault, C::EcPin, 0, M::Auto, P::PinToggle, S::None, kNoValue},
    // The check commands: -N or -F and a value, taken as typed and never compared.
    {{"-CHKMEVER"}, IS::None, kFault, C::None, 0, M::Auto, P::PinToggle, S::None, kNoValue},
    {{"-CHKMEVER", "-N"}, IS::None, kFault, C::None, 0, M::Auto, P::PinToggle, S::SourceNumber, kNoValue},
    {{"-CHKMEVER", "-X", "1.2.3.4"}, IS::None, kFault, C::None, 0, M::Auto, P::PinToggle, S::None, kNoValue},
    {{"-CHKMEVER", "1.2.3.4"}, IS::None, kFault, C::None, 0, M::Auto, P::PinToggle, S::None, kNoValue},
    {{"-chkmever", "-f", "q420tm07.bin"}, IS::None, kOk, C::CheckMe, 2, M::Auto, P::PinToggle, S::SourceFile, 3},
    {{"-CHKMEVER", "-N", "-H"}, IS::None, kOk, C::CheckMe, 2, M::Auto, P::PinToggle, S::SourceNumber, 3},
    {{"-CHKMEVER", "-N", "12.0.64.1551", "-RB02"}, IS::None, kOk, C::CheckMe, 2, M::BiosSetupVariable, P::PinToggle, S::SourceNumber, 3},
    {{"-CHKMEVER", "-N", "12.0.64.1551", "-rb03"}, IS::None, kOk, C::CheckMe, 2, M::MeInfoTool, P::PinToggle, S::SourceNumber, 3},
    {{"-CHKMEVER", "-F", "Q420TM07.BIN", "-RB01", "-RB01"}, IS::None, kFault, C::CheckMe, 2, M::FwUpdateLib, P::PinToggle, S::SourceFile, 3},
    {{"-CHKMEVER", "-F", "Q420TM07.BIN", "-RB01", "-RB03"}, IS::None, kFault, C::CheckMe, 2, M::FwUpdateLib, P::PinToggle, S::SourceFile, 3},
    // After -CHKMEVER and -MBMEVER words outside the list, and the commands that
    // do not clash, are skipped; the value words they would take are skipped too.
    {{"-CHKMEVER", "-F", "Q420TM07.BIN", "-RB01", "junk", "-CHKTXEVER", "-FILEMEVER", "-N"}, IS::None, kOk, C::CheckMe, 2, M::FwUpdateLib, P::PinToggle, S::SourceFile, 3},
    {{"-CHKMEVER", "-N", "1.2.3.4", "-CHKMEVER", "-F", "X"}, IS::None, kOk, C::CheckMe, 2, M::Auto, P::PinToggle, S::SourceNumber, 3},
    {{"-CHKMEVER", "-N", "1.2.3.4", "-MBMEVER"}, IS::None, kFault, C::CheckMe, 2, M::Auto, P::PinToggle, S::SourceNumber, 3},
    {{"-CHKMEVER", "-N", "1.2.3.4", "-ECOVRPIN"}, IS::None, kFault, C::CheckMe, 2, M::Auto, P::PinToggle, S::SourceNumber, 3},
    {{"-MBMEVER", "-CHKTXEVER"}, IS::None, kOk, C::BoardMe, 2, M::Auto, P::PinToggle, S::None, kNoValue},
    {{"-mbmever", "-Rb03"}, IS::None, kOk, C::BoardMe, 2, M::MeInfoTool, P::PinToggle, S::None, kNoValue},
    {{"-MBMEVER", "-ECOVRAUTO"}, IS::None, kFault, C::BoardMe, 2, M::Auto, P::PinToggle, S::None, kNoValue},
    {{"-MBMEVER", "-MBTXEVER"}, IS::None, kFault, C::BoardMe, 2, M::Auto, P::PinToggle, S::None, kNoValue},
    // The TXE commands take no read method and nothing after them.
    {{"-CHKTXEVER", "-N", "1.2.3.4"}, IS::None, kOk, C::CheckTxe, 3, M::Auto, P::PinToggle, S::SourceNumber, 3},
    {{"-CHKTXEVER", "-F", "Q420TM07.BIN", "-RB01"}, IS::None, kFault, C::CheckTxe, 3, M::Auto, P::PinToggle, S::SourceFile, 3},
    {{"-CHKTXEVER", "-F", "Q420TM07.BIN", "junk"}, IS::None, kFault, C::CheckTxe, 3, M::Auto, P::PinToggle, S::SourceFile, 3},
    {{"-MBTXEVER"}, IS::None, kOk, C::BoardTxe, 3, M::Auto, P::PinToggle, S::None, kNoValue},
    {{"-MBTXEVER", "-CHKTXEVER"}, IS::None, kFault, C::BoardTxe, 3, M::Auto, P::PinToggle, S::None, kNoValue},
    {{"-ECOVRAUTO"}, IS::None, kOk, C::EcAuto, 0, M::Auto, P::PinToggle, S::None, kNoValue},
    {{"-ECOVRAUTO", "-RB01"}, IS::None, kFault, C::EcAuto, 0, M::Auto, P::PinToggle, S::None, kNoValue},
    // A method word is never taken before its command.
    {{"-RB01", "-MBMEVER"}, IS::None, kFault, C::None, 0, M::Auto, P::PinToggle, S::None, kNoValue},
    // The file commands take the next word as the name, whatever it is.
    {{"-FILEMEVER"}, IS::None, kFault, C::None, 0, M::Auto, P::PinToggle, S::None, kNoValue},
    {{"-FILEMEVER", "A.BIN", "B.BIN"}, IS::None, kFault, C::FileVersion, 2, M::Auto, P::PinToggle, S::None, 2},
    {{"-FILEMEVER", "-N"}, IS::None, kOk, C::FileVersion, 2, M::Auto, P::PinToggle, S::None, 2},
    {{"-filetxever", "image.bin"}, IS::None, kOk, C::FileVersion, 3, M::Auto, P::PinToggle, S::None, 2},
    {{"-FILETXEVER", "A.BIN", "-RB01"}, IS::None, kFault, C::FileVersion, 3, M::Auto, P::PinToggle, S::None, 2},
    // A second command.
    {{"-ECOVRAUTO", "-ECOVRPIN"}, IS::None, kFault, C::EcAuto, 0, M::Auto, P::PinToggle, S::None, kNoValue},
    {{"-FILEMEVER", "A.BIN", "-CHKMEVER", "-N", "1.2.3.4"}, IS::None, kFault, C::FileVersion, 2, M::Auto, P::PinToggle, S::None, 2},
    {{"VER"}, IS::None, kFault, C::None, 0, M::Auto, P::PinToggle, S::None, kNoValue},
    {{"-VERSION"}, IS::None, kFault, C::None, 0, M::Auto, P::PinToggle, S::None, kNoValue},
};

std::string Describe(const ScanCase &c) {
  std::string s = "NAVO.efi";
  for (const char *w : c.words) s += std::string(" ") + w;
  return s;
}

TEST(FrontCommandLine, ScanRules) {
  for (const ScanCase &c : kScanCases) {
    SCOPED_TRACE(Describe(c));
    Argv args(c.words);
    ParsedCommand parsed;
    parsed.error = !c.error;  // the scan must start from a clean record
    parsed.value = u"stale";
    EXPECT_EQ(ScanCommandLine(args.argc(), args.argv(), &parsed), c.immediate);
    EXPECT_EQ(parsed.error, c.error);
    if (c.error) continue;  // the other fields are not looked at after a fault
    EXPECT_EQ(parsed.command, c.command);
    EXPECT_EQ(static_cast<int>(parsed.kind), c.kind);
    EXPECT_EQ(parsed.method, c.method);
    EXPECT_EQ(parsed.pin_mode, c.pin);
    EXPECT_EQ(parsed.source, c.source);
    if (c.value_word == kNoValue) {
      EXPECT_EQ(parsed.value, nullptr);
    } else {
      // The very word of the vector, not a copy.
      EXPECT_EQ(parsed.value, args.storage[c.value_word].data());
    }
  }
}

TEST(FrontCommandLine, ValuesKeepTheirCaseAndLaterWordsAreNotTouched) {
  Argv args({"-chkmever", "-f", "q420tm07.bin", "-rb02", "skip.me"});
  ParsedCommand parsed;
  EXPECT_EQ(ScanCommandLine(args.argc(), args.argv(), &parsed), ImmediateSwitch::None);
  EXPECT_FALSE(parsed.error);
  // Command and option words are upper-cased in place; the value is as typed.
  EXPECT_EQ(args.Word(1), "-CHKMEVER");
  EXPECT_EQ(args.Word(2), "-F");
  EXPECT_EQ(sim::Narrow(parsed.value), "q420tm07.bin");
  EXPECT_EQ(args.Word(3), "q420tm07.bin");
  EXPECT_EQ(args.Word(4), "-RB02");

  // The scan stops at the first fault: the words after it stay as typed.
  Argv faulty({"-mbtxever", "-rb01", "-ver"});
  EXPECT_EQ(ScanCommandLine(faulty.argc(), faulty.argv(), &parsed), ImmediateSwitch::None);
  EXPECT_TRUE(parsed.error);
  EXPECT_EQ(faulty.Word(3), "-ver");

  // A file name after -FILEMEVER is never upper-cased either.
  Argv file({"-filemever", "-n"});
  EXPECT_EQ(ScanCommandLine(file.argc(), file.argv(), &parsed), ImmediateSwitch::None);
  EXPECT_FALSE(parsed.error);
  EXPECT_EQ(file.Word(2), "-n");
}

}  // namespace
