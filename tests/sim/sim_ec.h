// A simulated board EC for host tests: speaks the host-port protocol byte by
// byte on 0x68 (data) and 0x6C (command when written, status when read).
//
//   host writes 0x88 to 0x6C, then the table and the offset to 0x68:
//     read  (table bit 7 clear): the EC puts two bytes at 0x68 (a leading byte,
//           then the register's value) and raises "output buffer full";
//     write (table bit 7 set):   one more byte to 0x68 is the new value of
//           register (table & 0x7F, offset).
//   status byte: bit 0 output buffer full, bit 1 input buffer full (the EC has
//   not taken the host's last byte yet).
//
// Registers: table 0 offset 0 is the API-table probe (0xFF: none), table 1
// offset 0x21 the FW override pin (bit 7 = on). The pin survives a host reset;
// the protocol state does not (PowerCycle).
//
// A board with no EC at all is simply a board without this device: every read
// of the two ports then gives 0xFF.
#ifndef TESTS_SIM_SIM_EC_H_
#define TESTS_SIM_SIM_EC_H_

#include <cstdint>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "tests/sim/sim_board.h"

namespace sim {

class SimEc : public PortDevice {
 public:
  struct Options {
    bool api_table = true;        // false: the probe register reads 0xFF
    uint8_t pin_register = 0x00;  // initial value of table 1, offset 0x21
    uint8_t lead_byte = 0x00;     // the first of the two bytes of every read reply
    // Status reads that still show "input buffer full" after each host byte,
    // and that show no output yet after a read command: a slow EC.
    uint32_t input_busy_reads = 0;
    uint32_t output_delay_reads = 0;
  };

  SimEc() : SimEc(Options{}) {}
  explicit SimEc(Options options);

  bool Claims(uint16_t port) const override { return port == 0x68 || port == 0x6C; }
  uint8_t Read(uint16_t port) override;
  void Write(uint16_t port, uint8_t value) override;

  uint8_t Register(uint8_t table, uint8_t offset) const;
  void SetRegister(uint8_t table, uint8_t offset, uint8_t value);
  uint8_t PinRegister() const { return Register(1, 0x21); }
  bool PinOn() const { return (PinRegister() & 0x80) != 0; }

  // The host lost power: a half-done exchange is forgotten, registers stay.
  void PowerCycle();

  // Decoded traffic, in order.
  struct Transaction {
    bool write;
    uint8_t table;
    uint8_t offset;
    uint8_t value;  // written, or the value returned
    bool operator==(const Transaction &) const = default;
  };
  std::vector<Transaction> transactions;
  // Bytes that broke the protocol: data with no transaction open, a command other
  // than 0x88, a byte written while the last one was not yet taken, a command
  // in the middle of a transaction, reply bytes the host never collected.
  int protocol_errors = 0;
  // Called after a register write has taken effect.
  std::function<void(SimEc &, const Transaction &)> on_register_write;

 private:
  enum class Phase : uint8_t { Idle, Table, Offset, Value };
  void Take(bool command, uint8_t value);
  uint8_t Status();

  Options options_;
  std::map<std::pair<uint8_t, uint8_t>, uint8_t> registers_;
  Phase phase_ = Phase::Idle;
  uint8_t table_ = 0;
  uint8_t offset_ = 0;
  // The host's byte the EC has not taken yet.
  bool input_full_ = false;
  bool pending_command_ = false;
  uint8_t pending_value_ = 0;
  uint32_t input_countdown_ = 0;
  std::vector<uint8_t> output_;
  uint32_t output_countdown_ = 0;
  uint8_t data_latch_ = 0x00;
};

}  // namespace sim

#endif  // TESTS_SIM_SIM_EC_H_
