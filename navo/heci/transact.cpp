#include "navo/heci/transact.h"

#include <cstring>

#include "navo/heci/fwu_status.h"
#include "navo/heci/hbm.h"
#include "platform/guards.h"

FwuStatus AllocReplyBuffer(const HeciClient *Client, uint32_t **Buffer, uint32_t *Size) {
  if (Client == nullptr || Buffer == nullptr || Size == nullptr || Client->IsConnected == 0) {
    return fwu::kInvalidParameter;
  }
  void *buffer = PlatAllocateZeroPool(hbm::WordRoundedSize(Client->MaxMessageLength));
  if (buffer == nullptr) return fwu::kNoMemory;
  *Buffer = static_cast<uint32_t *>(buffer);
  *Size = Client->MaxMessageLength;
  return fwu::kSuccess;
}

FwuStatus ClientTransact(HeciClient *Client, const uint32_t *Request, uint32_t RequestLength,
                         uint32_t *Reply, uint32_t *ReplyLength) {
  if (Client == nullptr || Request == nullptr || Reply == nullptr || RequestLength == 0 ||
      ReplyLength == nullptr || *ReplyLength == 0 || Client->IsConnected == 0) {
    return fwu::kInvalidParameter;
  }
  if (RequestLength > Client->MaxMessageLength) return fwu::kMessageTooLong;

  FwuStatus status = ClientSend(Client, Request, RequestLength);
  if (status != fwu::kSuccess) return status;

  // The reply may be as long as the client allows, whatever the caller expects;
  // it lands here first and is copied only if it fits.
  plat::PoolBuffer scratch(hbm::WordRoundedSize(Client->MaxMessageLength));
  if (!scratch) return fwu::kNoMemory;
  uint32_t received = Client->MaxMessageLength;
  status = ClientReceive(Client, static_cast<uint32_t *>(scratch.Get()), &received);
  if (status != fwu::kSuccess) return status;

  if (received > *ReplyLength) return fwu::kMessageTooLong;
  std::memset(Reply, 0, *ReplyLength);
  // Never copy from beyond the scratch buffer, whatever the receive reported.
  if (received > scratch.Size()) return fwu::kReplyDoesNotFit;
  std::memcpy(Reply, scratch.Get(), received);
  *ReplyLength = received;
  return fwu::kSuccess;
}
