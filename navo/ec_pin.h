// The EC's FW override pin and the -ECOVRPIN command.
#ifndef NAVO_EC_PIN_H_
#define NAVO_EC_PIN_H_

#include <cstdint>

#include "navo/types.h"
#include "platform/platform.h"

// -ECOVRPIN [-ON|-OFF]. Returns the exit status.
uint8_t OverridePinCommand(OverridePinMode mode);

PlatStatus EcOverridePinOn();
PlatStatus EcOverridePinOff();
bool EcOverridePinIsOn();
bool EcApiPresent();

#endif  // NAVO_EC_PIN_H_
