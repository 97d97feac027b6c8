// Messages to and from a connected client under the bus's flow control: the
// host grants the ME a credit before each message, the ME grants one back
// around its reply. Fixed-address clients take part in neither.
#include "navo/heci/transfer.h"

#include "navo/heci/fwu_status.h"
#include "navo/heci/hbm.h"
#include "navo/heci/heci_bus.h"

namespace {

void ZeroBytes(uint32_t *buffer, uint32_t length) {
  uint8_t *bytes = reinterpret_cast<uint8_t *>(buffer);
  for (uint32_t i = 0; i < length; ++i) bytes[i] = 0;
}

PlatStatus Read(uint32_t *buffer, uint32_t room, uint32_t *received) {
  *received = room;
  return HeciReadMsg(kHeciDevice, kHeciBlocking, buffer, received);
}

bool IsFlowControl(const uint32_t *buffer, uint32_t received) {
  return received == hbm::kFlowControlLength &&
         reinterpret_cast<const uint8_t *>(buffer)[0] == hbm::kFlowControl;
}

}  // namespace

FwuStatus ClientSend(HeciClient *client, const uint32_t *message, uint32_t length) {
  if (client == nullptr || message == nullptr || length == 0) return fwu::kInvalidParameter;
  if (length > client->MaxMessageLength) return fwu::kMessageTooLong;

  uint8_t host_address = 0;
  if (client->IsFixedAddress == 0) {
    auto credit = hbm::FlowControl(client->MeAddress);
    if (PLAT_IS_ERROR(HeciSendMsg(kHeciDevice, credit.words, credit.kLength, hbm::kBusAddress,
                                  hbm::kBusAddress))) {
      return fwu::kFlowControlFailed;
    }
    host_address = hbm::kHostClientAddress;
  }
  if (PLAT_IS_ERROR(HeciSendMsg(kHeciDevice, message, length, host_address, client->MeAddress))) {
    return fwu::kSendReceiveFailed;
  }
  return fwu::kSuccess;
}

FwuStatus ClientReceive(HeciClient *client, uint32_t *buffer, uint32_t *length) {
  if (client == nullptr || buffer == nullptr || length == nullptr || *length == 0) {
    return fwu::kInvalidParameter;
  }
  if (*length > client->MaxMessageLength) *length = client->MaxMessageLength;
  const uint32_t room = *length;

  uint32_t received = 0;
  if (PLAT_IS_ERROR(Read(buffer, room, &received))) return fwu::kSendReceiveFailed;

  if (IsFlowControl(buffer, received)) {
    // The ME's credit came first; the reply itself is still to come.
    ZeroBytes(buffer, room);
    PlatStatus status = Read(buffer, room, &received);
    if (status == PLAT_TIMEOUT) {
      PlatStall(kLateReplyStallUs);
      ZeroBytes(buffer, room);
      status = Read(buffer, room, &received);
    }
    if (PLAT_IS_ERROR(status)) return fwu::kSendReceiveFailed;
    *length = received;
    return fwu::kSuccess;
  }

  *length = received;
  if (client->IsFixedAddress != 0) return fwu::kSuccess;

  // The credit the ME sends after its reply.
  hbm::Message<hbm::kFlowControlLength> credit;
  uint32_t credit_length = 0;
  if (PLAT_IS_ERROR(Read(credit.words, credit.kLength, &credit_length))) {
    return fwu::kFlowControlFailed;
  }
  return fwu::kSuccess;
}
