// One request and its reply on a connected client, with the reply buffer sized
// to what the client may send.
#ifndef NAVO_HECI_TRANSACT_H_
#define NAVO_HECI_TRANSACT_H_

#include <cstdint>

#include "navo/heci/heci_client.h"
#include "navo/types.h"
#include "platform/guards.h"

// A zero-filled pool buffer for the client's longest message, in whole words,
// into *buffer (which it replaces); *size becomes MaxMessageLength. 0, 3 or 5.
FwuStatus AllocReplyBuffer(const HeciClient *client, plat::PoolBuffer *buffer, uint32_t *size);

// Sends the request and receives the reply into reply. *reply_length: size of
// reply in bytes in, bytes of the reply out. 0, 3, 5, 23, 32, 35 or 40.
FwuStatus ClientTransact(HeciClient *client, const uint32_t *request, uint32_t request_length,
                         uint32_t *reply, uint32_t *reply_length);

#endif  // NAVO_HECI_TRANSACT_H_
