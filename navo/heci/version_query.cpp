#include "navo/heci/version_query.h"

#include "navo/heci/client_kinds.h"
#include "navo/heci/connect.h"
#include "navo/heci/fwu_status.h"
#include "navo/heci/heci_client.h"
#include "navo/heci/image_version_message.h"
#include "navo/heci/transact.h"
#include "platform/guards.h"

namespace {

// Everything between connect and disconnect; the caller disconnects.
FwuStatus QueryOnClient(HeciClient *client, ImageVersionRecord *records, uint32_t capacity,
                        uint32_t *count, uint32_t partition_id) {
  FwuStatus status = ConnectClientByKind(client_kind::kVersionQuery, client);
  if (status != fwu::kSuccess) return status;

  plat::PoolBuffer reply;
  uint32_t size = 0;
  status = AllocReplyBuffer(client, &reply, &size);
  if (status != fwu::kSuccess) return status;

  const ImageVersionRequest request = MakeImageVersionRequest(partition_id);
  uint32_t received = size;
  status = ClientTransact(client, request.words, ImageVersionRequest::kLength,
                          static_cast<uint32_t *>(reply.Get()), &received);
  if (status != fwu::kSuccess) return status;
  return ReadImageVersionReply(reply.Bytes(), received, records, capacity, count);
}

}  // namespace

FwuStatus QueryImageVersions(ImageVersionRecord *records, uint32_t capacity, uint32_t *count,
                             uint32_t partition_id) {
  HeciClient client{};
  FwuStatus status = fwu::kInvalidParameter;
  if (records != nullptr && count != nullptr) {
    status = QueryOnClient(&client, records, capacity, count, partition_id);
  }
  // Also for a client that never connected: the ME side is left clean either way.
  DisconnectClient(&client);
  return status;
}

FwuStatus GetPartitionFwVersion(uint32_t partition_id, uint16_t *major, uint16_t *minor,
                                uint16_t *hot_fix, uint16_t *build) {
  if (major == nullptr || minor == nullptr || hot_fix == nullptr || build == nullptr) {
    return fwu::kInvalidParameter;
  }
  ImageVersionRecord record{};
  uint32_t count = 0;
  FwuStatus status = QueryImageVersions(&record, 1, &count, partition_id);
  if (status != fwu::kSuccess) return status;
  *major = record.Major;
  *minor = record.Minor;
  *hot_fix = record.HotFix;
  *build = record.Build;
  return fwu::kSuccess;
}

FwuStatus ReadHeciFwVersion(FwVersion *version) {
  if (version == nullptr) return fwu::kInvalidParameter;
  FwVersion read{};
  FwuStatus status = GetPartitionFwVersion(kPartitionFtpr, &read.Major, &read.Minor, &read.HotFix,
                                           &read.Build);
  if (status == fwu::kSuccess) *version = read;
  return status;
}
