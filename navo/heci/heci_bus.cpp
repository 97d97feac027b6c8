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

PlatStatus HeciReadMsg(uint32_t Device, uint32_t Blocking, uint32_t *Buffer, uint32_t *Length) {
  if (Buffer == nullptr || Length == nullptr) return PLAT_INVALID_PARAMETER;
  PlatStatus status = HeciLocate();
  if (PLAT_IS_ERROR(status)) return status;
  uint32_t room = *Length;
  status = PlatHeciReadMsg(g_heci, Device, Blocking, Buffer, Length);
  // Callers index the buffer by the received length; a protocol that claims
  // more than it was given room for must not lead them past the buffer's end.
  if (*Length > room) *Length = room;
  return status;
}

PlatStatus HeciSendMsg(uint32_t Device, const uint32_t *Message, uint32_t Length,
                       uint8_t HostAddress, uint8_t MeAddress) {
  PlatStatus status = HeciLocate();
  if (PLAT_IS_ERROR(status)) return status;
  return PlatHeciSendMsg(g_heci, Device, Message, Length, HostAddress, MeAddress);
}

PlatStatus HeciResetDevice(uint32_t Device) {
  PlatStatus status = HeciLocate();
  if (PLAT_IS_ERROR(status)) return status;
  return PlatHeciReset(g_heci, Device);
}

extern "C" void NavoHeciForgetProtocol(void) { g_heci = nullptr; }
