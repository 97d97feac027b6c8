#include "navo/heci/version_query.h"

#include <cstring>

#include "navo/heci/client_kinds.h"
#include "navo/heci/connect.h"
#include "navo/heci/fwu_status.h"
#include "navo/heci/hbm.h"
#include "navo/heci/heci_client.h"
#include "navo/heci/status_map.h"
#include "navo/heci/transact.h"
#include "platform/guards.h"

namespace {

// MKHI header: group 0xFF, command 0x1C (get image version), response flag 0.
constexpr uint32_t kGetImageVersionHeader = 0x00001CFF;
constexpr uint32_t kRequestLength = 8;

// Reply layout: header (result code in byte 3), record count, records.
constexpr uint32_t kResultOffset = 3;
constexpr uint32_t kCountOffset = 4;
constexpr uint32_t kRecordsOffset = 8;

// Everything between connect and disconnect; the caller disconnects.
FwuStatus QueryOnClient(HeciClient *client, ImageVersionRecord *records, uint32_t capacity,
                        uint32_t *count, uint32_t partition_id) {
  FwuStatus status = ConnectClientByKind(client_kind::kVersionQuery, client);
  if (status != fwu::kSuccess) return status;

  plat::PoolBuffer reply;
  uint32_t size = 0;
  status = AllocReplyBuffer(client, &reply, &size);
  if (status != fwu::kSuccess) return status;

  const uint32_t request[2] = {kGetImageVersionHeader, partition_id};
  uint32_t received = size;
  status = ClientTransact(client, request, kRequestLength, static_cast<uint32_t *>(reply.Get()),
                          &received);
  if (status != fwu::kSuccess) return status;

  // Nothing is read beyond the bytes the ME sent: a reply too short for a
  // field it should carry is as wrong as a bad field.
  const uint8_t *bytes = reply.Bytes();
  if (received <= kResultOffset) return fwu::kInvalidParameter;
  status = MapClientStatus(bytes[kResultOffset], client_kind::kVersionQuery);
  if (status != fwu::kSuccess) return status;

  if (received < kRecordsOffset) return fwu::kInvalidParameter;
  uint32_t listed = hbm::ReadLe32(bytes + kCountOffset);
  if (listed == 0 || listed > capacity) return fwu::kInvalidParameter;
  uint64_t record_bytes = static_cast<uint64_t>(listed) * sizeof(ImageVersionRecord);
  if (received - kRecordsOffset < record_bytes) return fwu::kInvalidParameter;

  *count = listed;
  std::memcpy(records, bytes + kRecordsOffset, record_bytes);
  return fwu::kSuccess;
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
