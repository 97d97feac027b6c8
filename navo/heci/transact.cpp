#include "navo/heci/transact.h"

#include <cstring>

#include "navo/heci/fwu_status.h"
#include "navo/heci/hbm.h"
#include "navo/heci/transfer.h"
#include "platform/guards.h"

FwuStatus AllocReplyBuffer(const HeciClient *client, plat::PoolBuffer *buffer, uint32_t *size) {
  if (client == nullptr || buffer == nullptr || size == nullptr || client->IsConnected == 0) {
    return fwu::kInvalidParameter;
  }
  buffer->Reset();
  *buffer = plat::PoolBuffer(hbm::WordRoundedSize(client->MaxMessageLength));
  if (!*buffer) return fwu::kNoMemory;
  *size = client->MaxMessageLength;
  return fwu::kSuccess;
}

FwuStatus ClientTransact(HeciClient *client, const uint32_t *request, uint32_t request_length,
                         uint32_t *reply, uint32_t *reply_length) {
  if (client == nullptr || request == nullptr || reply == nullptr || request_length == 0 ||
      reply_length == nullptr || *reply_length == 0 || client->IsConnected == 0) {
    return fwu::kInvalidParameter;
  }
  if (request_length > client->MaxMessageLength) return fwu::kMessageTooLong;

  FwuStatus status = ClientSend(client, request, request_length);
  if (status != fwu::kSuccess) return status;

  // The reply may be as long as the client allows, whatever the caller expects;
  // it lands here first and is copied only if it fits.
  plat::PoolBuffer scratch(hbm::WordRoundedSize(client->MaxMessageLength));
  if (!scratch) return fwu::kNoMemory;
  uint32_t received = client->MaxMessageLength;
  status = ClientReceive(client, static_cast<uint32_t *>(scratch.Get()), &received);
  if (status != fwu::kSuccess) return status;

  if (received > *reply_length) return fwu::kMessageTooLong;
  std::memset(reply, 0, *reply_length);
  // Never copy from beyond the scratch buffer, whatever the receive reported.
  if (received > scratch.Size()) return fwu::kReplyDoesNotFit;
  std::memcpy(reply, scratch.Get(), received);
  *reply_length = received;
  return fwu::kSuccess;
}
