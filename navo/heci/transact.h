// One request and its reply on a connected client, with the reply buffer sized
// to what the client may send.
#ifndef NAVO_HECI_TRANSACT_H_
#define NAVO_HECI_TRANSACT_H_

#include <cstdint>

#include "navo/heci/heci_client.h"
#include "navo/types.h"

// A zero-filled pool buffer for the client's longest message; *Size becomes
// MaxMessageLength. The caller frees it (PlatFreePool). 0, 3 or 5.
FwuStatus AllocReplyBuffer(const HeciClient *Client, uint32_t **Buffer, uint32_t *Size);

// Sends the request and receives the reply into Reply. *ReplyLength: size of
// Reply in bytes in, bytes of the reply out. 0, 3, 5, 23, 32, 35 or 40.
FwuStatus ClientTransact(HeciClient *Client, const uint32_t *Request, uint32_t RequestLength,
                         uint32_t *Reply, uint32_t *ReplyLength);

#endif  // NAVO_HECI_TRANSACT_H_
