// The automatic update's script and command lines built from fuzzed current
// directories (any length, any characters, with or without a mapping), on the
// simulated board, against the rules they are built by: the mapping prefix,
// the copy and removal lines, the 8-bit script of seven CR LF lines, and the
// limits (prefix at most 15 characters, directory and prefix together at most
// 72). A directory beyond them, or one the script or the shell cannot carry,
// is refused before anything is written or run.
//
// Input: one byte of set-up (bits 0-1: markers present, 0 none, 1 Step1,
// 2 Step2, 3 both; bit 2: answer N; bit 3: no EC; bit 4: no current
// directory; bit 5: the root script of an earlier first run is in place;
// bit 6: writing the local script fails), then the directory text (see
// DecodeText16).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "navo/auto_update.h"
#include "tests/sim/sim_board.h"
#include "tests/sim/sim_ec.h"
#include "tests/fuzz/support/fuzz_input.h"

namespace {

struct Model {
  bool usable = false;
  std::u16string prefix;
  std::u16string copy_line, remove_line;
  std::string script;
  bool root = false;
};

// What the generated script and the copy line can carry: printable Latin-1,
// one byte each, and nothing that the shell reads as its own syntax.
bool Carried(const std::u16string &s) {
  for (char16_t c : s)
    if (c < 0x20 || c == 0x7F || c > 0xFF) return false;
  return s.find_first_of(u" #%^\"<>|[") == std::u16string::npos;
}

Model Expect(const std::optional<std::u16string> &dir) {
  Model m;
  if (!dir || dir->empty()) return m;
  const std::size_t colon = dir->find(u':');
  m.prefix = colon == std::u16string::npos ? *dir : dir->substr(0, colon + 1);
  if (m.prefix.size() > 15 || dir->size() + m.prefix.size() > 72 || !Carried(*dir)) return m;
  m.usable = true;
  m.copy_line = u"cp -q " + *dir + u"\\startup.nsh " + m.prefix + u"\\startup.nsh";
  m.remove_line = u"rm " + m.prefix + u"\\startup.nsh";
  std::u16string text = u"@echo -off\r\n" + m.prefix + u"\r\ncd " + *dir +
                        u"\r\nIf exist UpdatewithEC_Step1.set then\r\ngo me1\r\nendif\r\n"
                        u"NAVO.efi -ECOVRAUTO\r\n";
  for (char16_t c : text) m.script += static_cast<char>(c & 0xFF);
  m.root = dir->find_first_not_of(u'\\', m.prefix.size()) == std::u16string::npos;
  return m;
}

const char16_t kStep1[] = u"UpdatewithEC_Step1.set";
const char16_t kStep2[] = u"UpdatewithEC_Step2.set";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  fuzz::Input in(data, size);
  const uint8_t setup = in.Byte();
  std::optional<std::u16string> dir = fuzz::DecodeText16(in.Rest());
  if (const auto nul = dir->find(u'\0'); nul != std::u16string::npos) dir->resize(nul);  // the shell's text ends there
  if (setup & 16) dir.reset();

  sim::Board board;
  board.SetCurDir(dir);
  sim::SimEc ec;
  if (!(setup & 8)) board.ports().Attach(&ec);
  if (setup & 1) board.PutFile(kStep1, std::string_view("marker"));
  if (setup & 2) board.PutFile(kStep2, std::string_view("marker"));
  const Model m = Expect(dir);
  if ((setup & 32) && m.usable) board.PutFile(m.prefix + u"\\startup.nsh", std::string_view("script"));
  if (setup & 64) board.shell().InjectWriteFailure(board.Resolve(u"startup.nsh"), PLAT_DEVICE_ERROR);
  board.Type((setup & 4) ? "n" : "y");
  board.console().SetStarveLimit(1);
  board.console().OnKeysStarved([](sim::Board &b) { b.Type("x"); });

  // The script as it was written, before the copy moves it away.
  std::optional<std::vector<uint8_t>> written;
  board.shell().OnMutation([&written](sim::Board &b, std::string_view what) {
    if (what == "write") written = b.FileBytes(u"startup.nsh");
  });
  const auto files_before = board.FileNames();

  const uint8_t status = AutoUpdateCommand();
  const std::string screen = board.console().screen().Text();
  FUZZ_CHECK(board.LiveAllocations() == 0);
  FUZZ_CHECK(board.OpenFiles() == 0);

  if (!(setup & 1) && (setup & 2)) {
    // Held: nothing at all happens.
    FUZZ_CHECK(status == 0);
    FUZZ_CHECK(screen.empty());
    FUZZ_CHECK(board.shell().Executed().empty());
    FUZZ_CHECK(board.FileNames() == files_before);
    FUZZ_CHECK(ec.transactions.empty());
    return 0;
  }

  if (setup & 1) {
    // The final run.
    if (!m.usable) {
      FUZZ_CHECK(status == 1);
      FUZZ_CHECK(screen.find("Error F12:") != std::string::npos);
      FUZZ_CHECK(board.shell().Executed().empty());
      FUZZ_CHECK(board.HasFile(kStep1));
      return 0;
    }
    FUZZ_CHECK(!board.shell().Executed().empty() && board.shell().Executed()[0].line == m.remove_line);
    FUZZ_CHECK(!board.HasFile(kStep1));
    if (status == 0) {
      // The whole final run: script gone, pin off after the key, one reset.
      FUZZ_CHECK(board.ports().Resets() == 1 && !ec.PinOn());
      FUZZ_CHECK(screen.find("Restore FW override pin Status...OK") != std::string::npos);
    } else {
      FUZZ_CHECK(status == 1);
      FUZZ_CHECK(board.ports().Resets() == 0);
      FUZZ_CHECK(screen.find("Error F11:") != std::string::npos ||
                 screen.find("Error F09:") != std::string::npos);
    }
    return 0;
  }

  // The first run.
  if (setup & 4) {
    FUZZ_CHECK(status == 2);
    FUZZ_CHECK(!written && board.shell().Executed().empty());
    return 0;
  }
  if (!m.usable) {
    FUZZ_CHECK(status == 1);
    FUZZ_CHECK(screen.find("Error F12:") != std::string::npos);
    FUZZ_CHECK(!written && board.shell().Executed().empty());
    FUZZ_CHECK(board.FileNames() == files_before);
    return 0;
  }
  FUZZ_CHECK(m.script.size() == 93 + m.prefix.size() + dir->size());
  FUZZ_CHECK(m.script.size() <= 255 && m.copy_line.size() <= 103);
  if (!written) {
    // Paths the simulated file system cannot create (a directory text it
    // resolves differently from the shell) end at the open, as they would on
    // a file system that refuses them; a refused write ends there.
    FUZZ_CHECK(status == 1 && screen.find("Error F04: ") != std::string::npos);
    FUZZ_CHECK(board.shell().Executed().empty());
    return 0;
  }
  FUZZ_CHECK(std::string(written->begin(), written->end()) == m.script);
  if (m.root) {
    FUZZ_CHECK(board.shell().Executed().empty() || board.shell().Executed()[0].line != m.copy_line);
  } else {
    FUZZ_CHECK(!board.shell().Executed().empty() && board.shell().Executed()[0].line == m.copy_line);
  }
  FUZZ_CHECK(status == 0 || status == 1);
  if (status == 0) {
    FUZZ_CHECK(board.ports().Resets() == 1);
    FUZZ_CHECK(ec.PinOn());
  }
  return 0;
}
