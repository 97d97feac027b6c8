// One connection to a firmware client of the ME over the HECI bus: finding the
// client by its protocol GUID, connecting, sending and receiving under the bus's
// flow control, disconnecting. Nothing here prints.
//
// Calling order: ConnectClient, any number of ClientSend/ClientReceive pairs,
// DisconnectClient.
#ifndef NAVO_HECI_HECI_CLIENT_H_
#define NAVO_HECI_HECI_CLIENT_H_

#include <cstdint>

#include "navo/types.h"
#include "platform/platform.h"

// Created by the caller with every field 0. The fields from ClientGuid to
// MaxMessageLength mirror the bus's client-properties record, with MeAddress
// in the place of its fixed-address byte.
struct HeciClient {
  PlatGuid ClientGuid;
  uint8_t ProtocolVersion;
  uint8_t MaxConnections;
  // The client's bus address (its fixed address for a fixed-address client);
  // 0 is the bus itself and means "none".
  uint8_t MeAddress;
  uint8_t SingleReceiveBuffer;
  uint32_t MaxMessageLength;
  // Fixed-address clients are used without connect and flow-control messages.
  uint8_t IsFixedAddress;
  uint32_t IsConnected;
};

// 0, 3, 23, 28 or 32.
FwuStatus ConnectClient(const PlatGuid *ClientGuid, HeciClient *Client);
// Length in bytes. 0, 3, 23, 32 or 35.
FwuStatus ClientSend(HeciClient *Client, const uint32_t *Message, uint32_t Length);
// *Length: room in bytes in (lowered to MaxMessageLength, also when the read
// then fails), bytes of the reply out. 0, 3, 23 or 32.
FwuStatus ClientReceive(HeciClient *Client, uint32_t *Buffer, uint32_t *Length);
// Sends its request also for a client that never connected. 0, 3 or 29.
FwuStatus DisconnectClient(HeciClient *Client);

#endif  // NAVO_HECI_HECI_CLIENT_H_
