#include "navo/heci/connect.h"

#include <cstring>

#include "navo/heci/fwu_status.h"
#include "navo/heci/hbm.h"
#include "navo/heci/heci_bus.h"

namespace {

constexpr int kEnumerationAttempts = 3;
constexpr uint32_t kBusAddresses = 256;

// Both calls on the bus address, the ME's own end of the bus.
PlatStatus SendBus(const uint32_t *message, uint32_t length) {
  return HeciSendMsg(kHeciDevice, message, length, hbm::kBusAddress, hbm::kBusAddress);
}

template <uint32_t Bytes>
PlatStatus ReadBus(hbm::Message<Bytes> *response) {
  response->Clear();
  uint32_t length = Bytes;
  return HeciReadMsg(kHeciDevice, kHeciBlocking, response->words, &length);
}

// Disconnect request and response; true only when the ME confirmed it.
bool DisconnectExchange(uint8_t me_address) {
  auto request = hbm::Request(hbm::kDisconnectRequest, me_address, hbm::kHostClientAddress);
  if (PLAT_IS_ERROR(SendBus(request.words, request.kLength))) return false;
  hbm::Message<hbm::kDisconnectResponseLength> response;
  if (PLAT_IS_ERROR(ReadBus(&response))) return false;
  return response[0] == hbm::kDisconnectResponse && response[3] == 0;
}

FwuStatus Enumerate() {
  for (int attempt = 1;; ++attempt) {
    auto request = hbm::Request(hbm::kEnumerationRequest, 0, 0);
    if (PLAT_IS_ERROR(SendBus(request.words, request.kLength))) return fwu::kNoClient;
    hbm::Message<hbm::kEnumerationResponseLength> response;
    PlatStatus status = ReadBus(&response);
    if (status == PLAT_TIMEOUT && attempt < kEnumerationAttempts) continue;
    if (PLAT_IS_ERROR(status)) return fwu::kNoClient;
    // The address map that follows is not used: every address is asked below.
    return response[0] == hbm::kEnumerationResponse ? fwu::kSuccess : fwu::kNoClient;
  }
}

// Asks the properties of addresses 0 to 255 until one answers successfully
// with the wanted GUID; *match then holds that answer.
FwuStatus FindClient(const PlatGuid *guid, HeciClient *client,
                     hbm::Message<hbm::kPropertiesResponseLength> *match) {
  for (uint32_t address = 0; address < kBusAddresses; ++address) {
    auto request = hbm::Request(hbm::kPropertiesRequest, static_cast<uint8_t>(address), 0);
    if (PLAT_IS_ERROR(SendBus(request.words, request.kLength))) return fwu::kNoClient;
    if (PLAT_IS_ERROR(ReadBus(match))) return fwu::kNoClient;
    const uint8_t *p = match->bytes();
    if (p[hbm::kPropStatus] == 0 && std::memcmp(p + hbm::kPropGuid, guid, sizeof(PlatGuid)) == 0) {
      client->MeAddress = p[hbm::kPropAddress];
      client->MaxMessageLength = hbm::ReadLe32(p + hbm::kPropMaxMessageLength);
      break;
    }
  }
  // Address 0 is the bus itself, never a client's.
  return client->MeAddress != 0 ? fwu::kSuccess : fwu::kNoClient;
}

}  // namespace

FwuStatus ConnectClient(const PlatGuid *client_guid, HeciClient *client) {
  if (client == nullptr || client_guid == nullptr) return fwu::kInvalidParameter;

  // A record still marked connected is closed first. Its failure is not
  // reported: the connect goes on in any case.
  if (client->IsConnected != 0) {
    if (client->IsFixedAddress != 0 || DisconnectExchange(client->MeAddress)) client->IsConnected = 0;
  }
  client->IsFixedAddress = 0;
  client->MeAddress = 0;

  if (PLAT_IS_ERROR(HeciLocate())) return fwu::kNoClient;
  if (PLAT_IS_ERROR(HeciResetDevice(kHeciDevice))) return fwu::kNoClient;

  FwuStatus status = Enumerate();
  if (status != fwu::kSuccess) return status;

  hbm::Message<hbm::kPropertiesResponseLength> properties;
  status = FindClient(client_guid, client, &properties);
  if (status != fwu::kSuccess) return status;

  const uint8_t *p = properties.bytes();
  std::memcpy(&client->ClientGuid, p + hbm::kPropGuid, sizeof(PlatGuid));
  client->ProtocolVersion = p[hbm::kPropProtocolVersion];
  client->MaxConnections = p[hbm::kPropMaxConnections];
  client->SingleReceiveBuffer = p[hbm::kPropSingleReceiveBuffer];

  if (p[hbm::kPropFixedAddress] != 0) {
    client->MeAddress = p[hbm::kPropFixedAddress];
    client->IsFixedAddress = 1;
    client->IsConnected = 1;
    return fwu::kSuccess;
  }

  auto request = hbm::Request(hbm::kConnectRequest, client->MeAddress, hbm::kHostClientAddress);
  if (PLAT_IS_ERROR(SendBus(request.words, request.kLength))) return fwu::kSendReceiveFailed;
  hbm::Message<hbm::kConnectResponseLength> response;
  if (PLAT_IS_ERROR(ReadBus(&response))) return fwu::kSendReceiveFailed;
  if (response[0] != hbm::kConnectResponse) return fwu::kSendReceiveFailed;
  if (response[3] != hbm::kConnectSuccess && response[3] != hbm::kConnectAlreadyConnected) {
    return fwu::kSendReceiveFailed;
  }

  // The ME's first credit for this connection; its content does not matter.
  hbm::Message<hbm::kFlowControlLength> credit;
  if (PLAT_IS_ERROR(ReadBus(&credit))) return fwu::kFlowControlFailed;

  client->IsConnected = 1;
  return fwu::kSuccess;
}

FwuStatus DisconnectClient(HeciClient *client) {
  if (client == nullptr) return fwu::kInvalidParameter;
  if (client->IsFixedAddress != 0) {
    client->IsConnected = 0;
    return fwu::kSuccess;
  }
  if (!DisconnectExchange(client->MeAddress)) return fwu::kDisconnectFailed;
  client->IsConnected = 0;
  return fwu::kSuccess;
}
