// The EC's FW override pin and the -ECOVRPIN command.
//
// The EC answers on two host ports: 0x68 carries data both ways, 0x6C takes the
// command byte when written and gives the status byte when read. Everything the
// program says to the EC goes through this file.
#ifndef NAVO_EC_PIN_H_
#define NAVO_EC_PIN_H_

#include <cstdint>

#include "navo/types.h"
#include "platform/platform.h"

namespace ec {
inline constexpr uint16_t kDataPort = 0x68;
inline constexpr uint16_t kCommandPort = 0x6C;  // written: command byte
inline constexpr uint16_t kStatusPort = 0x6C;   // read: status byte
inline constexpr uint8_t kStatusOutputFull = 0x01;
inline constexpr uint8_t kStatusInputFull = 0x02;
inline constexpr uint8_t kCommandApiTable = 0x88;
inline constexpr uint8_t kTableWriteFlag = 0x80;
// Table 0, offset 0 reads 0xFF when the EC firmware offers no API table.
inline constexpr uint8_t kProbeTable = 0;
inline constexpr uint8_t kProbeOffset = 0x00;
inline constexpr uint8_t kNoApiTable = 0xFF;
inline constexpr uint8_t kPinTable = 1;
inline constexpr uint8_t kPinOffset = 0x21;
inline constexpr uint8_t kPinOnBit = 0x80;
inline constexpr uint8_t kPinOnValue = 0x80;
inline constexpr uint8_t kPinOffValue = 0x00;
// Status reads a wait makes at most before it carries on regardless.
inline constexpr uint32_t kWaitReads = 0xFFFF;
}  // namespace ec

// -ECOVRPIN [-ON|-OFF]. Returns the exit status: 0 done, 1 failed.
uint8_t OverridePinCommand(OverridePinMode mode);

// EFI_SUCCESS, or PLAT_UNSUPPORTED (nothing written) when the EC has no API table.
PlatStatus EcOverridePinOn();
PlatStatus EcOverridePinOff();
bool EcOverridePinIsOn();
bool EcApiPresent();

// The transactions and waits underneath. A wait that runs out is not reported:
// the transaction goes on as though the EC had answered.
void EcWaitInputEmpty();
void EcWaitOutputFull();
uint8_t EcReadByte(uint8_t table, uint8_t offset);
void EcWritePinRegister(uint8_t value);

#endif  // NAVO_EC_PIN_H_
