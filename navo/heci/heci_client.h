// The record of one connection to a firmware client of the ME over the HECI
// bus. connect.h opens and closes it, transfer.h carries messages over it.
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

#endif  // NAVO_HECI_HECI_CLIENT_H_
