// The -ECOVRAUTO sequence through its state table: first run, the restart into
// the generated script, the final run, and every failure the table names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "autoupdate_machine_test.h"
#include "navo/auto_update.h"
#include "screen_text.h"
#include "tests/sim/sim_board.h"
#include "tests/sim/sim_ec.h"

namespace {

using autoupdate_test::kRootScript;
using autoupdate_test::kWorkDir;
using autoupdate_test::Machine;

const std::string kScriptForUpdate =
    "@echo -off\r\n"
    "FS0:\r\n"
    "cd FS0:\\UPDATE\r\n"
    "If exist UpdatewithEC_Step1.set then\r\n"
    "go me1\r\n"
    "endif\r\n"
    "NAVO.efi -ECOVRAUTO\r\n";

std::u16string Notice() { return screen_text::Printed("notice") + u"Continue (Y/N)?\r\n"; }

std::u16string Closing() { return screen_text::Printed("closing") + u"\r\n<Enter any key to continue>"; }

const char16_t kCopyLine[] = u"cp -q FS0:\\UPDATE\\startup.nsh FS0:\\startup.nsh";
const char16_t kMarkerLine[] = u"echo \"Update with EC support step 1.\" >> UpdatewithEC_Step1.set";
const char16_t kRemoveLine[] = u"rm FS0:\\startup.nsh";

std::vector<std::u16string> Lines(const sim::Board &board) {
  std::vector<std::u16string> lines;
  for (const auto &e : board.shell().Executed()) lines.push_back(e.line);
  return lines;
}

bool PinWritten(const sim::SimEc &ec) {
  for (const auto &t : ec.transactions)
    if (t.write) return true;
  return false;
}

// An armed machine's next two starts: "go me1" once with the pin on, then the
// final run leaves it idle with the pin off.
void ExpectFinishesFromArmed(Machine &m) {
  EXPECT_EQ(m.Start(), 2);
  EXPECT_TRUE(m.problems.empty());
  EXPECT_EQ(m.GoRuns(), std::vector<std::string>{"on"});
  EXPECT_EQ(m.State(), "Idle, pin off");
}

TEST(AutoUpdateSequence, IdleToArmedToIdle) {
  Machine m;
  EXPECT_EQ(m.TypeCommand('y'), 0);

  // Armed: the 108-byte script in the root, the local copy gone, pin on, marker
  // made by the shell, one reset.
  const auto script = m.board.FileBytes(kRootScript);
  EXPECT_EQ(script.size(), 108u);
  EXPECT_EQ(std::string(script.begin(), script.end()), kScriptForUpdate);
  EXPECT_FALSE(m.LocalScript());
  EXPECT_TRUE(m.ec.PinOn());
  EXPECT_EQ(m.ec.PinRegister(), 0x80);
  EXPECT_TRUE(m.Step1());
  EXPECT_EQ(m.State(), "Armed, pin on");
  EXPECT_EQ(m.board.ports().Resets(), 1);
  EXPECT_EQ(m.board.ports().Stalls(), std::vector<uint64_t>{500});
  EXPECT_EQ(Lines(m.board), (std::vector<std::u16string>{kCopyLine, kMarkerLine}));
  EXPECT_EQ(m.board.console().screen().Raw(), Notice() +
                                      u"Preparing Update files...OK\r\n"
                                      u"Adjust EC FW override Status...OK\r\n"
                                      u"\r\nRestarting, please wait...");
  EXPECT_EQ(m.board.OpenFiles(), 0u);
  EXPECT_EQ(m.ec.protocol_errors, 0);

  // The restart: the script runs the maker's update with the pin on, then the
  // final run, which resets once more; the third start finds nothing to do.
  const std::size_t shown = m.board.console().screen().Raw().size();
  m.board.shell().ClearExecuted();
  bool pin_on_at_prompt = false;
  m.board.console().ClearKeys();
  m.script_key = '\0';  // the any-key prompt gets no key until the test looks
  m.board.console().SetStarveLimit(10);
  m.board.console().OnKeysStarved([&](sim::Board &b) {
    pin_on_at_prompt = m.ec.PinOn();
    b.PressScan(0x17);  // Escape: a scan code alone is a key too
  });
  EXPECT_EQ(m.Start(), 2);
  EXPECT_TRUE(m.problems.empty()) << m.problems.front();
  EXPECT_EQ(m.GoRuns(), std::vector<std::string>{"on"});
  EXPECT_TRUE(pin_on_at_prompt);
  EXPECT_EQ(m.results, (std::vector<uint8_t>{0, 0}));
  EXPECT_EQ(m.State(), "Idle, pin off");
  EXPECT_EQ(m.ec.PinRegister(), 0x00);
  EXPECT_EQ(m.board.ports().Resets(), 2);
  EXPECT_EQ(Lines(m.board), std::vector<std::u16string>{kRemoveLine});
  EXPECT_EQ(m.board.console().screen().Raw().substr(shown),
            Closing() + u"Restore FW override pin Status...OK\r\n\r\n");
  EXPECT_EQ(m.boots, 2);
}

TEST(AutoUpdateSequence, DeclinedWritesNothing) {
  for (char key : {'n', 'N'}) {
    Machine m;
    const auto files = m.board.FileNames();
    m.board.Type("x\r");  // ignored by the prompt before the answer
    m.board.console().PressFirst({0x01, 0});
    m.board.Type(std::string(1, key));
    EXPECT_EQ(AutoUpdateCommand(), 2);
    EXPECT_EQ(m.board.console().screen().Raw(), Notice() + u"\r\nUser canceled update.\r\n\r\n");
    EXPECT_EQ(m.board.FileNames(), files);
    EXPECT_TRUE(m.board.shell().Executed().empty());
    EXPECT_TRUE(m.board.ports().Log().empty());
    EXPECT_EQ(m.board.ports().Resets(), 0);
  }
}

// The failures of the first run and what each leaves behind.
struct FirstRunFailure {
  const char *name;
  std::function<void(Machine &)> arrange;
  std::u16string tail;  // output after "Preparing Update files..."
  std::string state;
  bool local_script;
};

TEST(AutoUpdateSequence, FirstRunFailures) {
  const FirstRunFailure cases[] = {
      {"F04 open", [](Machine &m) { m.board.shell().InjectOpenFailure(u"FS0:\\UPDATE\\startup.nsh", PLAT_ACCESS_DENIED); },
       u"Fail.\r\n\r\nError F04: Open File failed!\r\n", "Idle, pin off", false},
      {"F04 write", [](Machine &m) { m.board.shell().InjectWriteFailure(u"FS0:\\UPDATE\\startup.nsh", PLAT_DEVICE_ERROR); },
       u"Fail.\r\n\r\nError F04: Write File failed!\r\n", "Idle, pin off, local copy", true},
      {"F10 copy", [](Machine &m) { m.board.shell().InjectWriteFailure(kRootScript, PLAT_ACCESS_DENIED); },
       u"OK\r\nFail\r\n\r\nError F10: An error occurs when copying \"startup.nsh\" to root directory\r\n",
       "Idle, pin off, local copy", true},
      {"F10 copy: shell cannot run it", [](Machine &m) { m.board.shell().SetExecuteResult(PLAT_OUT_OF_RESOURCES); },
       u"OK\r\nFail\r\n\r\nError F10: An error occurs when copying \"startup.nsh\" to root directory\r\n",
       "Idle, pin off, local copy", true},
      {"F09 no API table", [](Machine &m) { m.ec.SetRegister(0, 0, 0xFF); },
       u"OK\r\nAdjust EC FW override Status...Fail.\r\n\r\nError F09: Not Find EC API table.\r\n",
       "Orphan script, pin off", false},
      {"F09 no EC at all", [](Machine &m) { m.board.ports().DetachAll(); },
       u"OK\r\nAdjust EC FW override Status...Fail.\r\n\r\nError F09: Not Find EC API table.\r\n",
       "Orphan script, pin off", false},
  };
  for (const FirstRunFailure &c : cases) {
    SCOPED_TRACE(c.name);
    Machine m;
    c.arrange(m);
    EXPECT_EQ(m.TypeCommand('y'), 1);
    EXPECT_EQ(m.board.console().screen().Raw(), Notice() + u"Preparing Update files..." + c.tail);
    m.board.ports().DetachAll();
    m.board.ports().Attach(&m.ec);
    EXPECT_EQ(m.State(), c.state);
    EXPECT_EQ(m.LocalScript(), c.local_script);
    if (c.local_script) {
      // What is there holds no more than the script.
      const auto bytes = m.board.FileBytes(u"FS0:\\UPDATE\\startup.nsh");
      EXPECT_EQ(std::string(bytes.begin(), bytes.end()), kScriptForUpdate.substr(0, bytes.size()));
    }
    EXPECT_FALSE(m.Step1());
    EXPECT_FALSE(PinWritten(m.ec));
    EXPECT_EQ(m.board.ports().Resets(), 0);
    EXPECT_EQ(m.board.OpenFiles(), 0u);
  }
}

// After F09 the orphan script asks again at the next start; with the EC back
// the sequence then completes.
TEST(AutoUpdateSequence, OrphanScriptAsksAgain) {
  Machine m;
  m.ec.SetRegister(0, 0, 0xFF);
  EXPECT_EQ(m.TypeCommand('y'), 1);
  ASSERT_EQ(m.State(), "Orphan script, pin off");

  m.script_key = 'n';
  const std::size_t shown = m.board.console().screen().Raw().size();
  EXPECT_EQ(m.Start(), 1);
  EXPECT_EQ(m.results.back(), 2);
  EXPECT_TRUE(m.GoRuns().empty());  // no marker: the maker's update is skipped
  EXPECT_EQ(m.board.console().screen().Raw().substr(shown, Notice().size()), Notice());
  EXPECT_EQ(m.State(), "Orphan script, pin off");

  m.ec.SetRegister(0, 0, 0x01);
  m.script_key = 'y';
  EXPECT_EQ(m.Start(), 3);
  EXPECT_TRUE(m.problems.empty());
  EXPECT_EQ(m.GoRuns(), std::vector<std::string>{"on"});
  EXPECT_EQ(m.State(), "Idle, pin off");
}

TEST(AutoUpdateSequence, FinalRunRemovalFails) {
  Machine m;
  ASSERT_EQ(m.TypeCommand('y'), 0);
  m.board.shell().InjectWriteFailure(kRootScript, PLAT_ACCESS_DENIED);
  m.board.console().screen() = sim::Screen();
  m.board.SetCurDir(kWorkDir);
  EXPECT_EQ(AutoUpdateCommand(), 1);
  EXPECT_EQ(m.board.console().screen().Raw(),
            u"Fail\r\n\r\nError F11: An error occurs when removing \"startup.nsh\" in root directory\r\n");
  // The marker goes all the same; the pin stays on; the script that could not be
  // removed is an orphan that asks again at the next start.
  EXPECT_EQ(m.State(), "Orphan script, pin on");
  EXPECT_EQ(m.board.ports().Resets(), 1);
  m.board.shell().ClearWriteFailures();
  m.script_key = 'y';
  EXPECT_EQ(m.Start(), 3);
  EXPECT_EQ(m.GoRuns(), std::vector<std::string>{"on"});
  EXPECT_EQ(m.State(), "Idle, pin off");
}

TEST(AutoUpdateSequence, FinalRunLosesTheEc) {
  Machine m;
  ASSERT_EQ(m.TypeCommand('y'), 0);
  m.after_go = [](Machine &mm) { mm.board.ports().DetachAll(); };
  const std::size_t shown = m.board.console().screen().Raw().size();
  EXPECT_EQ(m.Start(), 1);
  EXPECT_EQ(m.results.back(), 1);
  EXPECT_EQ(m.board.console().screen().Raw().substr(shown),
            Closing() +
                u"Restore FW override pin Status...Fail.\r\n\r\nError F09: Not Find EC API table.\r\n");
  EXPECT_EQ(m.State(), "Idle, pin on");
  EXPECT_EQ(m.board.ports().Resets(), 1);
}

struct MarkerCase {
  const char *name;
  bool step1, step2;
  const char *expected;  // "final", "nothing"
};

TEST(AutoUpdateSequence, MarkersChooseTheStep) {
  const MarkerCase cases[] = {
      {"both markers: final run", true, true, "final"},
      {"Step1 only: final run", true, false, "final"},
      {"Step2 only: nothing", false, true, "nothing"},
  };
  for (const MarkerCase &c : cases) {
    SCOPED_TRACE(c.name);
    Machine m;
    m.board.PutFile(kRootScript, kScriptForUpdate);
    if (c.step1) m.board.PutFile(u"FS0:\\UPDATE\\UpdatewithEC_Step1.set", std::string_view("x"));
    if (c.step2) m.board.PutFile(u"FS0:\\UPDATE\\UpdatewithEC_Step2.set", std::string_view("x"));
    m.ec.SetRegister(1, 0x21, 0x80);
    const auto files = m.board.FileNames();
    m.board.Type("y");
    const uint8_t result = AutoUpdateCommand();
    EXPECT_EQ(result, 0);
    if (std::string(c.expected) == "nothing") {
      EXPECT_EQ(m.board.console().screen().Raw(), u"");
      EXPECT_EQ(m.board.FileNames(), files);
      EXPECT_TRUE(m.board.shell().Executed().empty());
      EXPECT_TRUE(m.board.ports().Log().empty());
      EXPECT_EQ(m.board.console().KeysLeft(), 1u);
    } else {
      EXPECT_EQ(Lines(m.board), std::vector<std::u16string>{kRemoveLine});
      EXPECT_FALSE(m.Step1());
      EXPECT_EQ(m.Step2(), c.step2);
      EXPECT_FALSE(m.RootScript());
      EXPECT_FALSE(m.ec.PinOn());
      EXPECT_EQ(m.board.ports().Resets(), 1);
    }
  }
}

// An older, longer startup.nsh in the working directory is replaced by exactly
// the generated bytes.
TEST(AutoUpdateSequence, OlderLongerLocalScriptIsCut) {
  Machine m;
  m.board.PutFile(u"FS0:\\UPDATE\\startup.nsh", std::string(400, '#'));
  m.board.shell().InjectWriteFailure(kRootScript, PLAT_ACCESS_DENIED);  // keep the local copy to look at
  EXPECT_EQ(m.TypeCommand('y'), 1);
  const auto bytes = m.board.FileBytes(u"FS0:\\UPDATE\\startup.nsh");
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), kScriptForUpdate);
}

// The working directory decides the script, the copy and the removal.
struct DirCase {
  const char *name;
  std::u16string dir;
  const char *result;  // "armed", "too long", "mapping too long"
};

TEST(AutoUpdateSequence, WorkingDirectoryLimits) {
  // 72 characters of directory and mapping name together fit; 73 do not.
  const std::u16string fits = u"FS0:\\" + std::u16string(63, u'D');      // 68 + 4
  const std::u16string too_long = u"FS0:\\" + std::u16string(64, u'D');  // 69 + 4
  const std::u16string long_map = u"FS0123456789ABCD:\\X";                 // prefix of 17
  const std::u16string huge = u"FS0:\\" + std::u16string(5000, u'E');
  const DirCase cases[] = {
      {"72 fit", fits, "armed"},
      {"73 are refused", too_long, "too long"},
      {"mapping name over 15", long_map, "mapping too long"},
      {"mapping name over 15 in a path over 72", u"FS0123456789ABCD:\\" + std::u16string(80, u'X'),
       "mapping too long"},
      {"far too long", huge, "too long"},
  };
  for (const DirCase &c : cases) {
    SCOPED_TRACE(c.name);
    Machine m(c.dir);
    const uint8_t result = m.TypeCommand('y');
    if (std::string(c.result) == "armed") {
      EXPECT_EQ(result, 0);
      const std::u16string copy = u"cp -q " + c.dir + u"\\startup.nsh FS0:\\startup.nsh";
      EXPECT_EQ(copy.size(), 103u);
      EXPECT_EQ(Lines(m.board), (std::vector<std::u16string>{copy, kMarkerLine}));
      EXPECT_EQ(m.board.FileBytes(kRootScript).size(), 93u + 4u + c.dir.size());
      ExpectFinishesFromArmed(m);
    } else {
      EXPECT_EQ(result, 1);
      const std::u16string why =
          std::string(c.result) == "too long"
              ? u"Error F12: Path and mapping over 72 characters. Use a folder like FS0:\\UPDATE.\r\n"
              : u"Error F12: Mapping name over 15 characters. Use a folder like FS0:\\UPDATE.\r\n";
      EXPECT_EQ(m.board.console().screen().Raw(),
                Notice() + u"Preparing Update files...Fail\r\n\r\n" + why);
      EXPECT_TRUE(m.board.shell().Executed().empty());
      EXPECT_TRUE(m.board.ports().Log().empty());
      EXPECT_FALSE(m.LocalScript());
      EXPECT_FALSE(m.RootScript());
    }
  }
}

// The script holds one byte per character and the shell reads it back as
// Latin-1: a directory with letters up to U+00FF comes back unchanged; anything
// above, and control characters, are refused before anything is written. So is
// any character that the shell reads as its own syntax in the copy line and the
// script's "cd" line; the first offending character of the path is the one named.
TEST(AutoUpdateSequence, DirectoryCharacters) {
  const std::u16string kLatin1 = u"is not printable Latin-1.";
  auto shell = [](const char16_t *what) { return std::u16string(u"holds ") + what + u"."; };
  struct Case {
    const char *name;
    std::u16string dir;
    std::u16string refusal;  // empty: accepted
  };
  const Case cases[] = {
      {"Latin-1 letters", u"FS0:\\M\u00FCller", u""},
      {"the first and last above ASCII", u"FS0:\\\u0080\u00FF", u""},
      {"dots, dashes and underscores", u"FS0:\\BIOS_V2.1-A", u""},
      {"above Latin-1", u"FS0:\\M\u0100ller", kLatin1},
      {"low byte a line feed", u"FS0:\\A\u010Areset", kLatin1},
      {"a control character", u"FS0:\\A\u001Fb", kLatin1},
      {"DEL", u"FS0:\\A\u007Fb", kLatin1},
      {"a blank", u"FS0:\\BIOS V2", shell(u"a blank")},
      {"a comment", u"FS0:\\A#B", shell(u"'#'")},
      {"a variable", u"FS0:\\50%OFF", shell(u"'%'")},
      {"an escape", u"FS0:\\A^B", shell(u"'^'")},
      {"a quote", u"FS0:\\A\"B", shell(u"'\"'")},
      {"input redirection", u"FS0:\\A<B", shell(u"'<'")},
      {"output redirection", u"FS0:\\A>B", shell(u"'>'")},
      {"a pipe", u"FS0:\\A|B", shell(u"'|'")},
      {"a set to match names against", u"FS0:\\A[1]", shell(u"'['")},
      {"a closing bracket alone", u"FS0:\\A]1", u""},
      {"the first of several", u"FS0:\\A%B C#D", shell(u"'%'")},
      {"a blank before a character above Latin-1", u"FS0:\\A B\u0100", shell(u"a blank")},
      {"a character above Latin-1 before a blank", u"FS0:\\A\u0100 B", kLatin1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Machine m(c.dir);
    const uint8_t result = m.TypeCommand('y');
    if (c.refusal.empty()) {
      EXPECT_EQ(result, 0);
      std::string line = "cd ";
      for (char16_t ch : c.dir) line += static_cast<char>(ch);
      const auto bytes = m.board.FileBytes(kRootScript);
      EXPECT_NE(std::string(bytes.begin(), bytes.end()).find(line + "\r\n"), std::string::npos);
      ExpectFinishesFromArmed(m);
      continue;
    }
    const std::u16string why = u"Error F12: The path " + c.refusal + u" Use a folder like FS0:\\UPDATE.\r\n";
    EXPECT_EQ(result, 1);
    EXPECT_EQ(m.board.console().screen().Raw(), Notice() + (u"Preparing Update files...Fail\r\n\r\n" + why));
    EXPECT_TRUE(m.board.shell().Executed().empty());
    EXPECT_TRUE(m.board.ports().Log().empty());
    EXPECT_FALSE(m.RootScript());
    EXPECT_FALSE(m.LocalScript());
    EXPECT_FALSE(m.Step1());

    // No script of ours leads there: a marker found there is left, and the pin.
    m.board.PutFile(autoupdate_test::InDir(c.dir, u"UpdatewithEC_Step1.set"), std::string_view("x"));
    m.board.console().screen() = sim::Screen();
    EXPECT_EQ(AutoUpdateFinalRun(), 1);
    EXPECT_EQ(m.board.console().screen().Raw(), u"Fail\r\n\r\n" + why);
    EXPECT_TRUE(m.board.shell().Executed().empty());
    EXPECT_TRUE(m.board.ports().Log().empty());
    EXPECT_TRUE(m.Step1());
  }
}

TEST(AutoUpdateSequence, NoCurrentDirectory) {
  const std::u16string kNoDirectory =
      u"Error F12: No current directory. Type fs0: and cd to the update folder.\r\n";
  for (bool empty_text : {false, true}) {
    Machine m;
    if (empty_text) {
      m.board.shell().ChangeDir(u"");
    } else {
      m.board.shell().ChangeDir(std::nullopt);
    }
    m.board.Type("y");
    const auto files = m.board.FileNames();
    EXPECT_EQ(AutoUpdateFirstRun(), 1);
    EXPECT_EQ(m.board.console().screen().Raw(), Notice() +
                                        u"Preparing Update files...Fail\r\n\r\n" + kNoDirectory);
    EXPECT_EQ(m.board.FileNames(), files);
    EXPECT_TRUE(m.board.shell().Executed().empty());
    EXPECT_TRUE(m.board.ports().Log().empty());

    // A final run started by hand without one leaves marker and pin alone.
    m.board.console().screen() = sim::Screen();
    m.ec.SetRegister(1, 0x21, 0x80);
    EXPECT_EQ(AutoUpdateFinalRun(), 1);
    EXPECT_EQ(m.board.console().screen().Raw(), u"Fail\r\n\r\n" + kNoDirectory);
    EXPECT_TRUE(m.board.shell().Executed().empty());
    EXPECT_TRUE(m.ec.PinOn());
  }
}

// Run from the root of the mapping the local script is the root script: it is
// neither copied onto itself nor deleted, and the sequence completes.
TEST(AutoUpdateSequence, RootWorkingDirectory) {
  Machine m(u"FS0:\\");
  EXPECT_EQ(m.TypeCommand('y'), 0);
  EXPECT_EQ(Lines(m.board), std::vector<std::u16string>{kMarkerLine});
  const auto script = m.board.FileBytes(kRootScript);
  EXPECT_EQ(std::string(script.begin(), script.end()),
            "@echo -off\r\nFS0:\r\ncd FS0:\\\r\nIf exist UpdatewithEC_Step1.set then\r\ngo me1\r\n"
            "endif\r\nNAVO.efi -ECOVRAUTO\r\n");
  EXPECT_EQ(m.State(), "Armed, pin on");
  ExpectFinishesFromArmed(m);
}

// A current directory without ":" is its own mapping prefix, so the copy would
// again be the file onto itself.
TEST(AutoUpdateSequence, DirectoryWithoutMappingName) {
  Machine m;
  m.board.shell().ChangeDir(u"\\UPDATE");
  m.board.AddDir(u"\\UPDATE");
  m.board.Type("y");
  EXPECT_EQ(AutoUpdateFirstRun(), 0);
  const auto script = m.board.FileBytes(u"\\UPDATE\\startup.nsh");
  EXPECT_EQ(std::string(script.begin(), script.end()),
            "@echo -off\r\n\\UPDATE\r\ncd \\UPDATE\r\nIf exist UpdatewithEC_Step1.set then\r\ngo me1\r\n"
            "endif\r\nNAVO.efi -ECOVRAUTO\r\n");
  EXPECT_EQ(Lines(m.board), std::vector<std::u16string>{kMarkerLine});
}

}  // namespace
