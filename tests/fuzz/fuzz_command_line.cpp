// The command-line scan on fuzzed argument vectors, against a model written
// straight from the scan's rules: the same command, options and value, the
// same words upper-cased in place (values never), and no access outside any
// word. Every word sits in a buffer of exactly its size.
//
// Input: one byte of set-up, then the words, separated by 16-bit NULs (see
// DecodeText16; the byte 0 is the separator). With bit 0 of the set-up byte
// the whole utility runs on the vector as well, on a board of ours with an EC
// and a valid MeInfoSetup variable, answering "N" to every prompt: it must end
// with one of its exit statuses and release every buffer and file.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "navo/command_line.h"
#include "navo/fw_version/setup_variable.h"
#include "navo/main.h"
#include "tests/sim/sim_board.h"
#include "tests/sim/sim_ec.h"
#include "tests/fuzz/support/fuzz_input.h"

namespace {

struct Expected {
  ImmediateSwitch immediate = ImmediateSwitch::None;
  bool error = false;
  CommandId command = CommandId::None;
  uint8_t kind = 0;
  uint8_t method = 0;
  OverridePinMode pin = OverridePinMode::PinToggle;
  VersionSource source = VersionSource::None;
  std::size_t value = 0;  // index of the value word; 0: none
};

void Upcase(std::u16string &w) {
  for (char16_t &c : w)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 0x20);
}

Expected Model(std::vector<std::u16string> &words) {
  Expected e;
  const std::size_t argc = words.size();
  auto fault = [&e] {
    e.error = true;
    return e;
  };
  for (std::size_t i = 1; i < argc; ++i) {
    Upcase(words[i]);
    const std::u16string w = words[i];
    if (w == u"-VER") return e.immediate = ImmediateSwitch::Version, e;
    if (w == u"-COLDRST") return e.immediate = ImmediateSwitch::ColdReset, e;
    if (w == u"-H") return e.immediate = ImmediateSwitch::Help, e;
    if (w == u"-ECOVRPIN") {
      if (e.command != CommandId::None) return fault();
      e.command = CommandId::EcPin;
      if (i + 1 == argc) return e;
      Upcase(words[++i]);
      if (words[i] == u"-ON") e.pin = OverridePinMode::PinOn;
      else if (words[i] == u"-OFF") e.pin = OverridePinMode::PinOff;
      else return fault();
    } else if (w == u"-ECOVRAUTO" || w == u"-MBMEVER" || w == u"-MBTXEVER") {
      if (e.command != CommandId::None) return fault();
      e.command = w == u"-ECOVRAUTO" ? CommandId::EcAuto
                  : w == u"-MBMEVER" ? CommandId::BoardMe
                                     : CommandId::BoardTxe;
      e.kind = w == u"-ECOVRAUTO" ? 0 : w == u"-MBMEVER" ? 2 : 3;
    } else if (e.command == CommandId::CheckMe || e.command == CommandId::BoardMe) {
      const uint8_t method = w == u"-RB01" ? 1 : w == u"-RB02" ? 2 : w == u"-RB03" ? 3 : 0;
      if (method != 0) {
        if (e.method != 0) return fault();
        e.method = method;
      }
    } else if (w == u"-CHKMEVER" || w == u"-CHKTXEVER") {
      if (e.command != CommandId::None || i + 1 >= argc) return fault();
      Upcase(words[++i]);
      if (words[i] == u"-N") e.source = VersionSource::SourceNumber;
      else if (words[i] == u"-F") e.source = VersionSource::SourceFile;
      else return fault();
      if (i + 1 >= argc) return fault();
      e.value = ++i;
      e.command = w == u"-CHKMEVER" ? CommandId::CheckMe : CommandId::CheckTxe;
      e.kind = w == u"-CHKMEVER" ? 2 : 3;
    } else if (w == u"-FILEMEVER" || w == u"-FILETXEVER") {
      if (e.command != CommandId::None || i + 1 >= argc) return fault();
      e.value = ++i;
      e.command = CommandId::FileVersion;
      e.kind = w == u"-FILEMEVER" ? 2 : 3;
    } else {
      return fault();
    }
  }
  return e;
}

struct Vector {
  std::vector<std::unique_ptr<char16_t[]>> storage;
  std::vector<char16_t *> argv;
  explicit Vector(const std::vector<std::u16string> &words) {
    for (const auto &w : words) {
      storage.push_back(fuzz::ExactCopy(w));
      argv.push_back(storage.back().get());
    }
  }
};

void RunUtility(const std::vector<std::u16string> &words) {
  sim::Board board;
  board.PutLegacy(0xF8000, "$$ZAN-");
  sim::SimEc ec;
  board.ports().Attach(&ec);
  board.SetVariable(u"MeInfoSetup", kMeInfoSetupGuid,
                    {0, 12, 0, 0, 0, 0, 0, 0, 0, 64, 0, 0, 0, 0x0F, 0x06, 0, 0, 0, 0, 0, 0, 0});
  // An image whose FTPR manifest holds 12.0.64.1552.
  board.PutFile(u"FS0:\\IMAGE.BIN", std::string_view("$CPD\x01\0\0\0" "...." "FTPR"
                                                      "$MN2" "...." "\x0C\0\0\0" "\x40\0" "\x10\x06",
                                                      32));
  board.console().SetStarveLimit(1);
  board.console().OnKeysStarved([](sim::Board &b) { b.Type("n"); });

  Vector v(words);
  const uint64_t status = NavoMain(v.argv.size(), v.argv.data());
  FUZZ_CHECK(status == 0 || status == 1 || status == 2 || status == 64 || status == 69);
  FUZZ_CHECK(board.LiveAllocations() == 0);
  FUZZ_CHECK(board.OpenFiles() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  fuzz::Input in(data, size);
  const uint8_t setup = in.Byte();
  std::u16string text = fuzz::DecodeText16(in.Rest());

  std::vector<std::u16string> words{u"NAVO.efi"};
  if (!text.empty()) {
    std::size_t start = 0;
    for (;;) {
      std::size_t nul = text.find(u'\0', start);
      words.push_back(text.substr(start, nul == std::u16string::npos ? nul : nul - start));
      if (nul == std::u16string::npos) break;
      start = nul + 1;
    }
  }

  std::vector<std::u16string> model_words = words;
  const Expected e = Model(model_words);

  Vector v(words);
  ParsedCommand parsed{};
  const ImmediateSwitch immediate = ScanCommandLine(v.argv.size(), v.argv.data(), &parsed);

  for (std::size_t i = 0; i < words.size(); ++i) FUZZ_CHECK(model_words[i] == v.argv[i]);
  FUZZ_CHECK(immediate == e.immediate);
  if (immediate == ImmediateSwitch::None) {
    FUZZ_CHECK(parsed.error == e.error);
    if (!parsed.error) {
      FUZZ_CHECK(parsed.command == e.command);
      FUZZ_CHECK(static_cast<uint8_t>(parsed.kind) == e.kind);
      FUZZ_CHECK(static_cast<uint8_t>(parsed.method) == e.method);
      FUZZ_CHECK(parsed.pin_mode == e.pin);
      FUZZ_CHECK(parsed.source == e.source);
      FUZZ_CHECK(parsed.value == (e.value == 0 ? nullptr : v.argv[e.value]));
    }
  }

  if (setup & 1) RunUtility(words);
  return 0;
}
