// Finding a firmware client on the HECI bus by its protocol GUID, connecting
// and disconnecting. Nothing here prints.
#ifndef NAVO_HECI_CONNECT_H_
#define NAVO_HECI_CONNECT_H_

#include "navo/heci/heci_client.h"
#include "navo/types.h"
#include "platform/platform.h"

// 0, 3, 23, 28 or 32.
FwuStatus ConnectClient(const PlatGuid *client_guid, HeciClient *client);
// Sends its request also for a client that never connected. 0, 3 or 29.
FwuStatus DisconnectClient(HeciClient *client);

#endif  // NAVO_HECI_CONNECT_H_
