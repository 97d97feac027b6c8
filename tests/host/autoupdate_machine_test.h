// A whole machine for the -ECOVRAUTO tests: the simulated board with the EC, a
// working directory FS0:\UPDATE holding NAVO.efi and the maker's GO.nsh, and a
// small shell that runs FS0:\startup.nsh at each start the way the UEFI Shell
// runs the generated script (mapping line, cd, If exist ... then / endif,
// "go me1", NAVO.efi -ECOVRAUTO).
//
// The stand-in GO.nsh appends one line per run to go.log in the working
// directory, so a test can see whether (and with which pin state) the maker's
// update ran, also across power cuts.
#ifndef TESTS_HOST_AUTOUPDATE_MACHINE_TEST_H_
#define TESTS_HOST_AUTOUPDATE_MACHINE_TEST_H_

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "navo/auto_update.h"
#include "tests/sim/sim_board.h"
#include "tests/sim/sim_ec.h"

namespace autoupdate_test {

inline const std::u16string kWorkDir = u"FS0:\\UPDATE";
inline const std::u16string kRootScript = u"FS0:\\startup.nsh";

inline std::u16string InDir(const std::u16string &dir, const char16_t *name) {
  return dir + (dir.back() == u'\\' ? u"" : u"\\") + name;
}

// What survives a power cut: the files and the EC's registers.
struct Persistent {
  sim::Board::DiskSnapshot disks;
  uint8_t pin_register = 0;
};

class Machine {
 public:
  explicit Machine(std::u16string work_dir = kWorkDir, sim::SimEc::Options ec_options = {})
      : ec(ec_options), work_dir_(std::move(work_dir)) {
    board.ports().Attach(&ec);
    board.SetCurDir(work_dir_);
    board.PutFile(InDir(work_dir_, u"NAVO.efi"), std::string_view("MZ"));
    board.PutFile(InDir(work_dir_, u"GO.nsh"), std::string_view("echo maker's update\r\n"));
  }
  Machine(const Persistent &state, std::u16string work_dir = kWorkDir) : Machine(std::move(work_dir)) {
    board.RestoreDisks(state.disks);
    ec.SetRegister(1, 0x21, state.pin_register);
  }

  Persistent Save() const { return {board.SaveDisks(), ec.PinRegister()}; }

  // The user types `NAVO.efi -ECOVRAUTO` in the working directory and answers
  // the first prompt with `key`. Returns the command's result.
  uint8_t TypeCommand(char key = 'y') {
    board.SetCurDir(work_dir_);
    return RunNavo(key);
  }

  // Power on (or the reset's restart): the shell runs the root startup.nsh if
  // there is one; a run that resets the machine starts it again, up to
  // `max_starts` starts. Returns the number of starts made.
  int Start(int max_starts = 6) {
    int starts = 0;
    do {
      reset_pending_ = false;
      ++starts;
      ++boots;
      ec.PowerCycle();
      board.shell().ChangeDir(u"FS0:\\");
      if (board.HasFile(kRootScript)) RunScript(board.FileBytes(kRootScript));
    } while (reset_pending_ && starts < max_starts);
    return starts;
  }

  // The runs of the maker's script so far, "on"/"off" for the pin at the time.
  std::vector<std::string> GoRuns() const {
    std::vector<std::string> runs;
    const auto bytes = board.FileBytes(InDir(work_dir_, u"go.log"));
    std::string line;
    for (uint8_t b : bytes) {
      if (b == '\n') {
        runs.push_back(line);
        line.clear();
      } else {
        line += static_cast<char>(b);
      }
    }
    return runs;
  }

  bool Step1() const { return board.HasFile(InDir(work_dir_, u"UpdatewithEC_Step1.set")); }
  bool Step2() const { return board.HasFile(InDir(work_dir_, u"UpdatewithEC_Step2.set")); }
  bool RootScript() const { return board.HasFile(kRootScript); }
  bool LocalScript() const {
    return InDir(work_dir_, u"startup.nsh") != kRootScript && board.HasFile(InDir(work_dir_, u"startup.nsh"));
  }

  // The state as the sequence's table names it, or what lies outside the table.
  std::string State() const {
    std::string s;
    const bool m1 = Step1(), m2 = Step2(), root = RootScript(), pin = ec.PinOn();
    if (!m1 && !m2 && !root) s = "Idle";
    else if (m1 && root && pin) s = "Armed";
    else if (!m1 && m2) s = "Held";
    else if (!m1 && !m2 && root) s = "Orphan script";
    else s = std::string("outside: marker") + (root ? ", script" : ", no script");
    s += pin ? ", pin on" : ", pin off";
    if (LocalScript()) s += ", local copy";
    return s;
  }

  sim::Board board;
  sim::SimEc ec;
  std::vector<uint8_t> results;       // every NAVO -ECOVRAUTO result, in order
  std::vector<std::string> problems;  // script lines the shell could not run
  int boots = 0;
  // Typed ahead of each run started from the script ('\0': nothing).
  char script_key = 'y';
  // Lines the maker's script prints at each run.
  std::vector<std::string> go_prints;

 private:
  uint8_t RunNavo(char key) {
    board.console().ClearKeys();
    if (key != '\0') board.Type(std::string(1, key));
    const int resets = board.ports().Resets();
    const uint8_t result = AutoUpdateCommand();
    board.console().ClearKeys();
    results.push_back(result);
    if (board.ports().Resets() != resets) reset_pending_ = true;
    return result;
  }

  void RunScript(const std::vector<uint8_t> &bytes) {
    std::string text(bytes.begin(), bytes.end());
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
      std::size_t end = text.find("\r\n", at);
      if (end == std::string::npos) {
        problems.push_back("line without CR LF: " + text.substr(at));
        end = text.size();
      }
      lines.push_back(text.substr(at, end - at));
      at = end + 2;
    }
    std::vector<bool> skipping;
    for (const std::string &line : lines) {
      if (line.find_first_of("\r\n") != std::string::npos) problems.push_back("stray CR or LF");
      const bool skip = !skipping.empty() && skipping.back();
      if (line.rfind("If exist ", 0) == 0 && line.size() > 14 && line.substr(line.size() - 5) == " then") {
        const std::string name = line.substr(9, line.size() - 14);
        skipping.push_back(skip || !board.HasFile(sim::U16(name)));
        continue;
      }
      if (line == "endif") {
        if (skipping.empty()) problems.push_back("endif without If");
        else skipping.pop_back();
        continue;
      }
      if (skip) continue;
      if (line == "@echo -off") continue;
      if (!line.empty() && line.back() == ':' && line.find(' ') == std::string::npos) {
        std::u16string root = sim::U16(line) + u"\\";
        if (!board.IsDir(sim::Upper(root))) problems.push_back("no mapping " + line);
        else board.shell().ChangeDir(root);
        continue;
      }
      if (line.rfind("cd ", 0) == 0) {
        std::u16string dir = sim::U16(line.substr(3));
        if (!board.IsDir(board.Resolve(dir))) problems.push_back("cd to a missing folder " + line);
        else board.shell().ChangeDir(board.Resolve(dir));
        continue;
      }
      if (line == "go me1") {
        if (!board.HasFile(u"GO.nsh")) {
          problems.push_back("go: no GO.nsh in " + sim::Narrow(*board.shell().CurDir()));
          continue;
        }
        auto log = board.FileBytes(u"go.log");
        std::string entry = ec.PinOn() ? "on\n" : "off\n";
        log.insert(log.end(), entry.begin(), entry.end());
        board.PutFile(u"go.log", std::move(log));
        for (const std::string &shown : go_prints) board.console().out().OutputString(sim::U16(shown) + u"\r\n");
        if (after_go) after_go(*this);
        continue;
      }
      if (line == "NAVO.efi -ECOVRAUTO") {
        if (!board.HasFile(u"NAVO.efi")) {
          problems.push_back("no NAVO.efi in " + sim::Narrow(*board.shell().CurDir()));
          continue;
        }
        RunNavo(script_key);
        if (reset_pending_) return;  // the machine is restarting
        continue;
      }
      problems.push_back("unknown line: " + line);
    }
    if (!skipping.empty()) problems.push_back("If without endif");
  }

  std::u16string work_dir_;
  bool reset_pending_ = false;

 public:
  // Called after each run of the maker's script (power-cut tests take their
  // snapshot there).
  std::function<void(Machine &)> after_go;
};

}  // namespace autoupdate_test

#endif  // TESTS_HOST_AUTOUPDATE_MACHINE_TEST_H_
