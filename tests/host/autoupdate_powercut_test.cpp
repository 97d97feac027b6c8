// Power cut at every step of the -ECOVRAUTO sequence.
//
// One undisturbed pass records what survives a power cut (files and the EC's
// pin) after each step that changes it: every file created, resized, written or
// deleted, every shell command run, every EC register write, every run of the
// maker's script, and the two prompts where the machine sits waiting. Each
// record then starts a fresh machine as if the power had gone right there; the
// shell runs whatever startup.nsh is in the root, prompts are answered, and if
// the machine comes to rest unfinished, the user types -ECOVRAUTO once by hand.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "autoupdate_machine_test.h"
#include "tests/sim/sim_board.h"
#include "tests/sim/sim_ec.h"

namespace {

using autoupdate_test::Machine;
using autoupdate_test::Persistent;

struct Cut {
  std::string step;
  Persistent state;
};

std::string Describe(const Persistent &before, const Persistent &after, const std::string &what,
                     const sim::Board &board) {
  if (what == "execute") return "shell: " + sim::Narrow(board.shell().Executed().back().line);
  std::string out = what;
  for (const auto &[name, bytes] : after.disks.Files()) {
    const std::vector<uint8_t> *old = before.disks.Find(name);
    if (old == nullptr) {
      out += " +" + sim::Narrow(name);
    } else if (*old != bytes) {
      out += " " + sim::Narrow(name) + " (" + std::to_string(bytes.size()) + " bytes)";
    }
  }
  for (const auto &[name, bytes] : before.disks.Files())
    if (after.disks.Find(name) == nullptr) out += " -" + sim::Narrow(name);
  return out;
}

std::vector<Cut> RecordCuts() {
  std::vector<Cut> cuts;
  Machine m;
  auto take = [&](const std::string &step) { cuts.push_back({step, m.Save()}); };
  take("before anything");
  int prompt = 0;
  m.board.console().SetStarveLimit(5);
  m.board.console().OnKeysStarved([&](sim::Board &b) {
    take(prompt++ == 0 ? "waiting at the Continue prompt" : "waiting at the any-key prompt");
    b.Type("y");
  });
  m.board.shell().OnMutation([&](sim::Board &b, std::string_view what) {
    const Persistent now = m.Save();
    cuts.push_back({Describe(cuts.back().state, now, std::string(what), b), now});
  });
  m.ec.on_register_write = [&](sim::SimEc &, const sim::SimEc::Transaction &t) {
    char step[48];
    std::snprintf(step, sizeof step, "EC: pin register <- 0x%02X", t.value);
    take(step);
  };
  m.after_go = [&](Machine &) { take("go me1 done"); };
  m.script_key = '\0';
  EXPECT_EQ(m.TypeCommand('\0'), 0);
  EXPECT_EQ(m.Start(), 2);
  EXPECT_EQ(m.State(), "Idle, pin off");
  EXPECT_TRUE(m.problems.empty());
  return cuts;
}

struct Outcome {
  std::string at_cut;     // the state the cut leaves
  std::string on_start;   // after the machine starts again and comes to rest
  std::string after_hand; // after one -ECOVRAUTO typed by hand ("-" if not needed)
  std::string go_runs;    // pin state at each run of the maker's script, all runs
};

bool Finished(const Machine &m) {
  const auto runs = m.GoRuns();
  return m.State() == "Idle, pin off" && !runs.empty() && runs.back() == "on";
}

Outcome Replay(const Cut &cut) {
  Machine m(cut.state);
  Outcome o;
  o.at_cut = m.State();
  m.script_key = 'y';
  m.Start();
  o.on_start = m.State();
  o.after_hand = "-";
  if (!Finished(m)) {
    if (m.TypeCommand('y') == 0 && m.board.ports().Resets() > 0) m.Start();
    o.after_hand = m.State();
  }
  for (const auto &r : m.GoRuns()) o.go_runs += (o.go_runs.empty() ? "" : ",") + r;
  EXPECT_TRUE(m.problems.empty()) << cut.step;
  return o;
}

// Each row: the step after which the power goes, and what follows. The two
// marked rows are the holes of the sequence: the final run takes the root
// script and the marker away before the pin is off, so a cut there leaves the
// pin on with nothing at the next start to turn it off.
struct Expected {
  const char *step;
  const char *at_cut;
  const char *on_start;
  const char *after_hand;
  const char *go_runs;
  bool hole;
};

const Expected kExpected[] = {
    {"before anything", "Idle, pin off", "Idle, pin off", "Idle, pin off", "on", false},
    {"waiting at the Continue prompt", "Idle, pin off", "Idle, pin off", "Idle, pin off", "on", false},
    {"create +FS0:\\UPDATE\\startup.nsh", "Idle, pin off, local copy", "Idle, pin off, local copy",
     "Idle, pin off", "on", false},
    {"set size", "Idle, pin off, local copy", "Idle, pin off, local copy", "Idle, pin off", "on", false},
    {"write FS0:\\UPDATE\\startup.nsh (108 bytes)", "Idle, pin off, local copy",
     "Idle, pin off, local copy", "Idle, pin off", "on", false},
    {"shell: cp -q FS0:\\UPDATE\\startup.nsh FS0:\\startup.nsh", "Orphan script, pin off, local copy",
     "Idle, pin off", "-", "on", false},
    {"delete -FS0:\\UPDATE\\startup.nsh", "Orphan script, pin off", "Idle, pin off", "-", "on", false},
    {"EC: pin register <- 0x80", "Orphan script, pin on", "Idle, pin off", "-", "on", false},
    {"shell: echo \"Update with EC support step 1.\" >> UpdatewithEC_Step1.set", "Armed, pin on", "Idle, pin off", "-", "on",
     false},
    {"go me1 done", "Armed, pin on", "Idle, pin off", "-", "on,on", false},
    {"shell: rm FS0:\\startup.nsh", "outside: marker, no script, pin on", "outside: marker, no script, pin on",
     "Idle, pin on", "on", true},
    {"delete -FS0:\\UPDATE\\UpdatewithEC_Step1.set", "Idle, pin on", "Idle, pin on", "Idle, pin off",
     "on,on", true},
    {"waiting at the any-key prompt", "Idle, pin on", "Idle, pin on", "Idle, pin off", "on,on", true},
    {"EC: pin register <- 0x00", "Idle, pin off", "Idle, pin off", "-", "on", false},
};

TEST(AutoUpdatePowerCut, EveryStep) {
  const std::vector<Cut> cuts = RecordCuts();
  std::printf("%-3s %-76s | %-36s | %-36s | %-26s | %s\n", "k", "power cut after", "state left",
              "after the next start(s)", "after -ECOVRAUTO by hand", "go me1 runs (pin)");
  ASSERT_EQ(cuts.size(), std::size(kExpected));
  for (std::size_t k = 0; k < cuts.size(); ++k) {
    const Outcome o = Replay(cuts[k]);
    std::printf("%-3zu %-76s | %-36s | %-36s | %-26s | %s\n", k, cuts[k].step.c_str(), o.at_cut.c_str(),
                o.on_start.c_str(), o.after_hand.c_str(), o.go_runs.c_str());
    const Expected &e = kExpected[k];
    SCOPED_TRACE(cuts[k].step);
    EXPECT_EQ(cuts[k].step, e.step);
    EXPECT_EQ(o.at_cut, e.at_cut);
    EXPECT_EQ(o.on_start, e.on_start);
    EXPECT_EQ(o.after_hand, e.after_hand);
    EXPECT_EQ(o.go_runs, e.go_runs);
    // Outside the holes the sequence always completes: pin off, nothing left,
    // and the maker's update has run with the pin on.
    const std::string end = o.after_hand == "-" ? o.on_start : o.after_hand;
    if (e.hole) {
      EXPECT_NE(o.on_start, "Idle, pin off");
    } else {
      EXPECT_EQ(end, "Idle, pin off");
      EXPECT_EQ(o.go_runs.substr(o.go_runs.size() - 2), "on");
    }
  }
}

}  // namespace
