// Choosing the client to connect to by kind.
#include "navo/heci/client_kinds.h"

#include "navo/heci/connect.h"
#include "navo/heci/fwu_status.h"

namespace {

// The table entry a kind connects to, or -1 for an invalid kind. Kind 21 has a
// rule of its own and is not handled here.
int GuidIndexOf(ClientKind kind) {
  switch (kind) {
    case client_kind::kVersionQuery:
      return client_kind::kMkhiIndex;
    case client_kind::kEntry10:
      return 10;
    case client_kind::kEntry1:
      return 1;
    default:
      break;
  }
  if (kind >= 0 && kind < static_cast<ClientKind>(ClientGuidTable.size())) return kind;
  return -1;
}

}  // namespace

FwuStatus ConnectClientByKind(ClientKind kind, HeciClient *client) {
  if (client == nullptr) return fwu::kInvalidParameter;

  if (kind == client_kind::kMkhiOrFallback) {
    FwuStatus status = ConnectClient(&ClientGuidTable[client_kind::kMkhiIndex], client);
    if (status == fwu::kSuccess) {
      if (client->ProtocolVersion == 1) return fwu::kSuccess;
      DisconnectClient(client);
    }
    return ConnectClient(&ClientGuidTable[client_kind::kMkhiFallbackIndex], client);
  }

  int index = GuidIndexOf(kind);
  if (index < 0) return fwu::kInvalidParameter;
  return ConnectClient(&ClientGuidTable[static_cast<unsigned>(index)], client);
}
