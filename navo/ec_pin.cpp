// Transactions with the board's EC over its host ports, and the -ECOVRPIN command.
//
// The EC firmware may be slow or absent; the waits are bounded busy loops that
// never report a timeout, so a silent EC costs a fixed number of port reads and
// the transaction then completes blindly (a read gives whatever the data port
// holds, 0xFF on a board without an EC, which reads as "no API table").
#include "navo/ec_pin.h"

#include "platform/print.h"

namespace {

// Polls the status port until `done` holds for the byte read, at most
// ec::kWaitReads times, without any delay between reads.
template <class Done>
void WaitStatus(Done done) {
  uint16_t count = static_cast<uint16_t>(ec::kWaitReads);
  while (true) {
    const uint8_t status = PlatIoRead8(ec::kStatusPort);
    --count;
    if (done(status) || count == 0) return;
  }
}

void SendCommand(uint8_t command) {
  EcWaitInputEmpty();
  PlatIoWrite8(ec::kCommandPort, command);
}

void SendData(uint8_t value) {
  EcWaitInputEmpty();
  PlatIoWrite8(ec::kDataPort, value);
}

// A byte the EC may have left behind from an earlier, abandoned exchange would
// otherwise be taken for part of this one's answer.
void DrainStaleByte() { static_cast<void>(PlatIoRead8(ec::kDataPort)); }

PlatStatus SetPin(uint8_t value) {
  if (!EcApiPresent()) return PLAT_UNSUPPORTED;
  // The register is read first, as the EC's sequence has it; the register is then
  // rewritten whole, so what it held does not change what is written.
  static_cast<void>(EcReadByte(ec::kPinTable, ec::kPinOffset));
  EcWritePinRegister(value);
  return PLAT_SUCCESS;
}

}  // namespace

void EcWaitInputEmpty() {
  WaitStatus([](uint8_t status) { return (status & ec::kStatusInputFull) == 0; });
}

void EcWaitOutputFull() {
  WaitStatus([](uint8_t status) { return (status & ec::kStatusOutputFull) != 0; });
}

uint8_t EcReadByte(uint8_t table, uint8_t offset) {
  DrainStaleByte();
  SendCommand(ec::kCommandApiTable);
  SendData(table);
  SendData(offset);
  EcWaitInputEmpty();
  EcWaitOutputFull();
  // The EC answers with two bytes; the value is the second.
  static_cast<void>(PlatIoRead8(ec::kDataPort));
  return PlatIoRead8(ec::kDataPort);
}

void EcWritePinRegister(uint8_t value) {
  DrainStaleByte();
  SendCommand(ec::kCommandApiTable);
  SendData(static_cast<uint8_t>(ec::kPinTable | ec::kTableWriteFlag));
  SendData(ec::kPinOffset);
  SendData(value);
  EcWaitInputEmpty();
}

bool EcApiPresent() { return EcReadByte(ec::kProbeTable, ec::kProbeOffset) != ec::kNoApiTable; }

bool EcOverridePinIsOn() { return (EcReadByte(ec::kPinTable, ec::kPinOffset) & ec::kPinOnBit) != 0; }

PlatStatus EcOverridePinOn() { return SetPin(ec::kPinOnValue); }

PlatStatus EcOverridePinOff() { return SetPin(ec::kPinOffValue); }

uint8_t OverridePinCommand(OverridePinMode mode) {
  Print(u"Adjust EC FW override PIN...");
  if (!EcApiPresent()) {
    Print(u"Fail\n\n");
    // Ended with a line end: the shell draws its prompt at the start of the
    // cursor's row and would write over an unended error line.
    Print(u"Error F09: Not Find EC API table.\n");
    return exit_status::kFailed;
  }
  // The probe has just passed; the on/off operations probe again on their own,
  // and an EC that vanished in between shows in the status line read below.
  switch (mode) {
    case OverridePinMode::PinOn:
      static_cast<void>(EcOverridePinOn());
      break;
    case OverridePinMode::PinOff:
      static_cast<void>(EcOverridePinOff());
      break;
    case OverridePinMode::PinToggle:
    default:
      static_cast<void>(EcOverridePinIsOn() ? EcOverridePinOff() : EcOverridePinOn());
      break;
  }
  Print(u"OK\n\n");
  Print(u"FW Override Status: %s\n", EcOverridePinIsOn() ? u"On" : u"Off");
  return exit_status::kDone;
}
