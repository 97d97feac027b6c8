// Access to the platform's HECI protocol, device 0. The protocol interface is
// looked up by the first call that needs it and kept for the rest of the run;
// a failed lookup is tried again by the next call.
#ifndef NAVO_HECI_HECI_BUS_H_
#define NAVO_HECI_HECI_BUS_H_

#include <cstdint>

#include "platform/platform.h"

// The only HECI device this program talks to, and the only read mode it uses.
inline constexpr uint32_t kHeciDevice = 0;
inline constexpr uint32_t kHeciBlocking = 1;

// Status of the lookup (PLAT_SUCCESS once the interface is kept).
PlatStatus HeciLocate();

// *length: room in bytes in, bytes received out. Never reports more bytes
// than the room it was given, whatever the protocol says.
PlatStatus HeciReadMsg(uint32_t device, uint32_t blocking, uint32_t *buffer, uint32_t *length);
PlatStatus HeciSendMsg(uint32_t device, const uint32_t *message, uint32_t length,
                       uint8_t host_address, uint8_t me_address);
PlatStatus HeciResetDevice(uint32_t device);

// Drops the kept interface. The program never needs this; host test harnesses
// call it when they replace the simulated platform under a running process.
extern "C" void NavoHeciForgetProtocol(void);

#endif  // NAVO_HECI_HECI_BUS_H_
