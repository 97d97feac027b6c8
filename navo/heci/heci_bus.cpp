#include "navo/heci/heci_bus.h"

namespace {

// Located once and kept: there is one HECI protocol for the whole run.
constinit PlatHeci *g_heci = nullptr;

}  // namespace

PlatStatus HeciLocate() {
  if (g_heci != nullptr) return PLAT_SUCCESS;
  PlatHeci *found = nullptr;
  PlatStatus status = PlatLocateHeci(&found);
  if (PLAT_IS_ERROR(status)) return status;
  if (found == nullptr) return PLAT_NOT_FOUND;
  g_heci = found;
  return PLAT_SUCCESS;
}

PlatStatus HeciReadMsg(uint32_t device, uint32_t blocking, uint32_t *buffer, uint32_t *length) {
  if (buffer == nullptr || length == nullptr) return PLAT_INVALID_PARAMETER;
  PlatStatus status = HeciLocate();
  if (PLAT_IS_ERROR(status)) return status;
  uint32_t room = *length;
  status = PlatHeciReadMsg(g_heci, device, blocking, buffer, length);
  // Callers index the buffer by the received length; a protocol that claims
  // more than it was given room for must not lead them past the buffer's end.
  if (*length > room) *length = room;
  return status;
}

PlatStatus HeciSendMsg(uint32_t device, const uint32_t *message, uint32_t length,
                       uint8_t host_address, uint8_t me_address) {
  PlatStatus status = HeciLocate();
  if (PLAT_IS_ERROR(status)) return status;
  return PlatHeciSendMsg(g_heci, device, message, length, host_address, me_address);
}

PlatStatus HeciResetDevice(uint32_t device) {
  PlatStatus status = HeciLocate();
  if (PLAT_IS_ERROR(status)) return status;
  return PlatHeciReset(g_heci, device);
}

extern "C" void NavoHeciForgetProtocol(void) { g_heci = nullptr; }
