// The EC transactions on ports 0x68/0x6C and the -ECOVRPIN command, against the
// simulated EC, a slow EC, an EC without API table and a board with no EC.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "navo/ec_pin.h"
#include "tests/sim/sim_board.h"
#include "tests/sim/sim_ec.h"

namespace {

constexpr uint32_t kFullWait = 65535;

// The host's side of the traffic: reads by port (their values are the EC's),
// writes by port and value. "R6Cx3" stands for three status reads in a row.
std::string Traffic(const std::vector<sim::PortAccess> &log) {
  std::string out;
  for (std::size_t i = 0; i < log.size();) {
    char item[32];
    if (log[i].write) {
      std::snprintf(item, sizeof item, "W%02X:%02X", log[i].port, log[i].value);
      ++i;
    } else {
      std::size_t run = 1;
      while (i + run < log.size() && !log[i + run].write && log[i + run].port == log[i].port) ++run;
      if (log[i].port == 0x6C && run > 1) {
        std::snprintf(item, sizeof item, "R6Cx%zu", run);
        i += run;
      } else {
        std::snprintf(item, sizeof item, "R%02X", log[i].port);
        ++i;
      }
    }
    if (!out.empty()) out += ' ';
    out += item;
  }
  return out;
}

// One read and one pin write as an EC that answers at once sees them: each wait
// reads the status once.
std::string ReadTraffic(uint8_t table, uint8_t offset) {
  char s[96];
  std::snprintf(s, sizeof s, "R68 R6C W6C:88 R6C W68:%02X R6C W68:%02X R6Cx2 R68 R68", table, offset);
  return s;
}
std::string WriteTraffic(uint8_t value) {
  char s[96];
  std::snprintf(s, sizeof s, "R68 R6C W6C:88 R6C W68:81 R6C W68:21 R6C W68:%02X R6C", value);
  return s;
}
std::string Join(std::initializer_list<std::string> parts) {
  std::string out;
  for (const auto &p : parts) out += (out.empty() ? "" : " ") + p;
  return out;
}

const std::string kProbe = ReadTraffic(0, 0x00);
const std::string kPinRead = ReadTraffic(1, 0x21);

struct PinCase {
  const char *name;
  OverridePinMode mode;
  uint8_t before;      // pin register before the run
  uint8_t written;     // the one value the run writes
  const char *status;  // the status line's word
  std::string traffic;
};

TEST(EcPin, CommandTrafficAndStatusLine) {
  const PinCase cases[] = {
      {"toggle, off to on", OverridePinMode::PinToggle, 0x00, 0x80, "On",
       Join({kProbe, kPinRead, kProbe, kPinRead, WriteTraffic(0x80), kPinRead})},
      {"toggle, on to off", OverridePinMode::PinToggle, 0x80, 0x00, "Off",
       Join({kProbe, kPinRead, kProbe, kPinRead, WriteTraffic(0x00), kPinRead})},
      // Only bit 7 decides: 0x7F is off, 0xFF is on.
      {"toggle, 0x7F counts as off", OverridePinMode::PinToggle, 0x7F, 0x80, "On",
       Join({kProbe, kPinRead, kProbe, kPinRead, WriteTraffic(0x80), kPinRead})},
      {"toggle, 0xFF counts as on", OverridePinMode::PinToggle, 0xFF, 0x00, "Off",
       Join({kProbe, kPinRead, kProbe, kPinRead, WriteTraffic(0x00), kPinRead})},
      {"on", OverridePinMode::PinOn, 0x00, 0x80, "On",
       Join({kProbe, kProbe, kPinRead, WriteTraffic(0x80), kPinRead})},
      {"on while on writes again", OverridePinMode::PinOn, 0x80, 0x80, "On",
       Join({kProbe, kProbe, kPinRead, WriteTraffic(0x80), kPinRead})},
      {"on clears the other bits", OverridePinMode::PinOn, 0x7F, 0x80, "On",
       Join({kProbe, kProbe, kPinRead, WriteTraffic(0x80), kPinRead})},
      {"off", OverridePinMode::PinOff, 0xFF, 0x00, "Off",
       Join({kProbe, kProbe, kPinRead, WriteTraffic(0x00), kPinRead})},
  };
  for (const PinCase &c : cases) {
    SCOPED_TRACE(c.name);
    sim::Board board;
    sim::SimEc ec({.pin_register = c.before});
    board.ports().Attach(&ec);

    EXPECT_EQ(OverridePinCommand(c.mode), 0);

    EXPECT_EQ(Traffic(board.ports().Log()), c.traffic);
    EXPECT_EQ(ec.PinRegister(), c.written);
    EXPECT_EQ(ec.protocol_errors, 0);
    EXPECT_EQ(board.console().screen().Raw(), u"Adjust EC FW override PIN...OK\r\n\r\nFW Override Status: " +
                                      sim::U16(c.status) + u"\r\n");
  }
}

// The status line shows the pin as read back after the write, not the intent.
TEST(EcPin, StatusLineReportsWhatTheEcHolds) {
  sim::Board board;
  sim::SimEc ec;
  board.ports().Attach(&ec);
  ec.on_register_write = [](sim::SimEc &e, const sim::SimEc::Transaction &) {
    e.SetRegister(1, 0x21, 0x00);  // an EC that refuses the override
  };
  EXPECT_EQ(OverridePinCommand(OverridePinMode::PinOn), 0);
  EXPECT_NE(board.console().screen().Text().find("FW Override Status: Off"), std::string::npos);
}

// An EC that takes its time: every host byte stays in the input buffer for a
// few status reads and the reply comes late. The waits must cover both, or
// the EC sees overruns and the host reads stale bytes.
TEST(EcPin, SlowEcIsWaitedFor) {
  for (uint32_t busy : {1u, 7u, 300u}) {
    SCOPED_TRACE(busy);
    sim::Board board;
    sim::SimEc ec({.pin_register = 0x00, .lead_byte = 0x5A, .input_busy_reads = busy,
                   .output_delay_reads = busy * 2});
    board.ports().Attach(&ec);
    EXPECT_EQ(OverridePinCommand(OverridePinMode::PinToggle), 0);
    EXPECT_EQ(ec.protocol_errors, 0);
    EXPECT_EQ(ec.PinRegister(), 0x80);
    EXPECT_NE(board.console().screen().Text().find("FW Override Status: On"), std::string::npos);
    const std::vector<sim::SimEc::Transaction> expected = {
        {false, 0, 0x00, 0x01}, {false, 1, 0x21, 0x00}, {false, 0, 0x00, 0x01},
        {false, 1, 0x21, 0x00}, {true, 1, 0x21, 0x80},  {false, 1, 0x21, 0x80}};
    EXPECT_EQ(ec.transactions, expected);
  }
}

TEST(EcPin, EcWithoutApiTable) {
  sim::Board board;
  sim::SimEc ec({.api_table = false, .pin_register = 0x00});
  board.ports().Attach(&ec);

  EXPECT_EQ(OverridePinCommand(OverridePinMode::PinOn), 1);
  EXPECT_EQ(board.console().screen().Raw(),
            u"Adjust EC FW override PIN...Fail\r\n\r\nError F09: Not Find EC API table.\r\n");
  EXPECT_EQ(Traffic(board.ports().Log()), kProbe);
  EXPECT_EQ(ec.PinRegister(), 0x00);

  // The pin operations refuse on their own, with nothing written.
  board.ports().ClearLog();
  EXPECT_EQ(EcOverridePinOn(), PLAT_UNSUPPORTED);
  EXPECT_EQ(EcOverridePinOff(), PLAT_UNSUPPORTED);
  EXPECT_EQ(Traffic(board.ports().Log()), Join({kProbe, kProbe}));
  for (const auto &t : ec.transactions) EXPECT_FALSE(t.write);
}

// Nothing answers: every read gives 0xFF, so "input buffer full" never clears
// and each input wait runs its full 65,535 reads; bit 0 is set too, so the
// output wait ends at once. The probe reads 0xFF: no API table.
TEST(EcPin, SilentEcRunsEveryWaitToItsEnd) {
  const OverridePinMode modes[] = {OverridePinMode::PinToggle, OverridePinMode::PinOn,
                                   OverridePinMode::PinOff};
  for (OverridePinMode mode : modes) {
    SCOPED_TRACE(static_cast<int>(mode));
    sim::Board board;
    EXPECT_EQ(OverridePinCommand(mode), 1);
    EXPECT_EQ(board.console().screen().Raw(),
              u"Adjust EC FW override PIN...Fail\r\n\r\nError F09: Not Find EC API table.\r\n");
    EXPECT_EQ(Traffic(board.ports().Log()),
              "R68 R6Cx65535 W6C:88 R6Cx65535 W68:00 R6Cx65535 W68:00 R6Cx65536 R68 R68");
  }
  sim::Board board;
  EXPECT_EQ(EcOverridePinOn(), PLAT_UNSUPPORTED);
  EXPECT_EQ(EcOverridePinOff(), PLAT_UNSUPPORTED);
  for (const auto &a : board.ports().Log()) EXPECT_FALSE(a.write && a.port == 0x68 && a.value == 0x81);
  // The floating bus reads as a set bit 7.
  EXPECT_TRUE(EcOverridePinIsOn());
}

// A device on the status port that shows a scripted status for a number of
// reads, then another.
class StatusScript : public sim::PortDevice {
 public:
  StatusScript(uint8_t busy, uint32_t busy_reads, uint8_t ready)
      : busy_(busy), busy_reads_(busy_reads), ready_(ready) {}
  bool Claims(uint16_t port) const override { return port == 0x6C; }
  uint8_t Read(uint16_t) override { return reads_++ < busy_reads_ ? busy_ : ready_; }
  void Write(uint16_t, uint8_t) override {}
  uint32_t reads_ = 0;

 private:
  uint8_t busy_;
  uint32_t busy_reads_;
  uint8_t ready_;
};

struct WaitCase {
  const char *name;
  bool output_wait;
  uint8_t busy;
  uint32_t busy_reads;
  uint8_t ready;
  uint32_t reads;  // status reads the wait makes
};

TEST(EcPin, BoundedWaits) {
  const WaitCase cases[] = {
      {"input empty at once", false, 0x02, 0, 0x00, 1},
      {"input empty after 10", false, 0x02, 10, 0x00, 11},
      {"input empty on the last read", false, 0x02, kFullWait - 1, 0x00, kFullWait},
      {"input never empty", false, 0x02, kFullWait + 5, 0x00, kFullWait},
      // Only bit 1 counts for the input wait.
      {"input: other bits ignored", false, 0xFF, 3, 0xFD, 4},
      {"output full at once", true, 0x00, 0, 0x01, 1},
      {"output full after 10", true, 0x00, 10, 0x01, 11},
      {"output full on the last read", true, 0x00, kFullWait - 1, 0x01, kFullWait},
      {"output never full", true, 0x00, kFullWait + 5, 0x01, kFullWait},
      // Only bit 0 counts for the output wait.
      {"output: other bits ignored", true, 0xFE, 3, 0x01, 4},
  };
  for (const WaitCase &c : cases) {
    SCOPED_TRACE(c.name);
    sim::Board board;
    StatusScript status(c.busy, c.busy_reads, c.ready);
    board.ports().Attach(&status);
    if (c.output_wait) {
      EcWaitOutputFull();
    } else {
      EcWaitInputEmpty();
    }
    EXPECT_EQ(status.reads_, c.reads);
    ASSERT_EQ(board.ports().Log().size(), c.reads);
    for (const auto &a : board.ports().Log()) EXPECT_EQ(a, (sim::PortAccess{false, 0x6C, a.value}));
  }
}

// The read's answer is the second of the two reply bytes, whatever the first.
TEST(EcPin, ReadTakesTheSecondReplyByte) {
  for (uint8_t lead : {0x00, 0x80, 0xFF}) {
    sim::Board board;
    sim::SimEc ec({.pin_register = 0x42, .lead_byte = lead});
    board.ports().Attach(&ec);
    ec.SetRegister(3, 0x10, 0x37);
    EXPECT_EQ(EcReadByte(1, 0x21), 0x42);
    EXPECT_EQ(EcReadByte(3, 0x10), 0x37);
    EcWritePinRegister(0x80);
    EXPECT_EQ(EcReadByte(1, 0x21), 0x80);
    EXPECT_EQ(ec.protocol_errors, 0);
  }
}

// The simulated EC itself notices a host that does not keep to the protocol,
// which is what makes the clean runs above mean something.
TEST(EcPin, SimulatedEcFlagsProtocolFaults) {
  sim::Board board;
  sim::SimEc ec({.input_busy_reads = 2});
  board.ports().Attach(&ec);
  PlatIoWrite8(0x6C, 0x88);
  PlatIoWrite8(0x68, 0x01);  // without waiting for the command to be taken
  EXPECT_EQ(ec.protocol_errors, 1);

  sim::SimEc quick;
  board.ports().DetachAll();
  board.ports().Attach(&quick);
  PlatIoWrite8(0x68, 0x01);  // data with no command
  PlatIoWrite8(0x6C, 0x77);  // unknown command
  EXPECT_EQ(quick.protocol_errors, 2);
  quick.PowerCycle();
  EXPECT_EQ(EcReadByte(0, 0), 0x01);
  EXPECT_EQ(quick.protocol_errors, 2);
}

}  // namespace
