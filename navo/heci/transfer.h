// Messages to and from a connected client under the bus's flow control.
// Nothing here prints.
#ifndef NAVO_HECI_TRANSFER_H_
#define NAVO_HECI_TRANSFER_H_

#include <cstdint>

#include "navo/heci/heci_client.h"
#include "navo/types.h"

// A reply that has not come after the protocol's own wait gets this much more
// time before the last try. The Linux tool gives it as long, so that a slow ME
// that the board waits out is waited out there too.
inline constexpr uint64_t kLateReplyStallUs = 40'000'000;

// length in bytes. 0, 3, 23, 32 or 35.
FwuStatus ClientSend(HeciClient *client, const uint32_t *message, uint32_t length);
// *length: room in bytes in (lowered to MaxMessageLength, also when the read
// then fails), bytes of the reply out. 0, 3, 23 or 32.
FwuStatus ClientReceive(HeciClient *client, uint32_t *buffer, uint32_t *length);

#endif  // NAVO_HECI_TRANSFER_H_
