#include "tests/sim/sim_ec.h"

namespace sim {

namespace {
constexpr uint16_t kDataPort = 0x68;
constexpr uint8_t kApiCommand = 0x88;
constexpr uint8_t kWriteFlag = 0x80;
constexpr uint8_t kInputFull = 0x02;
constexpr uint8_t kOutputFull = 0x01;
}  // namespace

SimEc::SimEc(Options options) : options_(options) {
  registers_[{0, 0x00}] = options.api_table ? 0x01 : 0xFF;
  registers_[{1, 0x21}] = options.pin_register;
}

uint8_t SimEc::Register(uint8_t table, uint8_t offset) const {
  auto it = registers_.find({table, offset});
  return it == registers_.end() ? 0x00 : it->second;
}

void SimEc::SetRegister(uint8_t table, uint8_t offset, uint8_t value) {
  registers_[{table, offset}] = value;
}

void SimEc::PowerCycle() {
  phase_ = Phase::Idle;
  input_full_ = false;
  input_countdown_ = 0;
  output_.clear();
  output_countdown_ = 0;
}

uint8_t SimEc::Status() {
  const bool output_ready = !output_.empty() && output_countdown_ == 0;
  const uint8_t status =
      static_cast<uint8_t>((input_full_ ? kInputFull : 0) | (output_ready ? kOutputFull : 0));
  if (input_full_ && --input_countdown_ == 0) {
    input_full_ = false;
    Take(pending_command_, pending_value_);
  }
  if (!output_.empty() && output_countdown_ > 0) --output_countdown_;
  return status;
}

uint8_t SimEc::Read(uint16_t port) {
  if (port != kDataPort) return Status();
  if (!output_.empty() && output_countdown_ == 0) {
    data_latch_ = output_.front();
    output_.erase(output_.begin());
  }
  // With nothing new the data port still shows the last byte it held.
  return data_latch_;
}

void SimEc::Write(uint16_t port, uint8_t value) {
  const bool command = port != kDataPort;
  if (input_full_) ++protocol_errors;  // the host did not wait: the earlier byte is lost
  if (options_.input_busy_reads == 0) {
    input_full_ = false;
    Take(command, value);
    return;
  }
  input_full_ = true;
  pending_command_ = command;
  pending_value_ = value;
  input_countdown_ = options_.input_busy_reads;
}

void SimEc::Take(bool command, uint8_t value) {
  if (command) {
    if (value != kApiCommand || phase_ != Phase::Idle || !output_.empty()) ++protocol_errors;
    output_.clear();
    phase_ = value == kApiCommand ? Phase::Table : Phase::Idle;
    return;
  }
  switch (phase_) {
    case Phase::Idle:
      ++protocol_errors;
      return;
    case Phase::Table:
      table_ = value;
      phase_ = Phase::Offset;
      return;
    case Phase::Offset:
      offset_ = value;
      if ((table_ & kWriteFlag) != 0) {
        phase_ = Phase::Value;
        return;
      }
      {
        const uint8_t v = Register(table_, offset_);
        output_ = {options_.lead_byte, v};
        output_countdown_ = options_.output_delay_reads;
        transactions.push_back({false, table_, offset_, v});
      }
      phase_ = Phase::Idle;
      return;
    case Phase::Value: {
      const uint8_t table = static_cast<uint8_t>(table_ & ~kWriteFlag);
      SetRegister(table, offset_, value);
      phase_ = Phase::Idle;
      const Transaction t{true, table, offset_, value};
      transactions.push_back(t);
      if (on_register_write) on_register_write(*this, t);
      return;
    }
  }
}

}  // namespace sim
