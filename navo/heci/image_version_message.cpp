#include "navo/heci/image_version_message.h"

#include <cstring>

#include "navo/heci/client_kinds.h"
#include "navo/heci/fwu_status.h"
#include "navo/heci/hbm.h"
#include "navo/heci/status_map.h"

namespace {

// MKHI header: group 0xFF, command 0x1C (get image version), response flag 0.
constexpr uint32_t kGetImageVersionHeader = 0x00001CFF;

using image_version_reply::kCountOffset;
using image_version_reply::kRecordsOffset;
using image_version_reply::kResultOffset;

}  // namespace

ImageVersionRequest MakeImageVersionRequest(uint32_t partition_id) {
  return ImageVersionRequest{{kGetImageVersionHeader, partition_id}};
}

FwuStatus ReadImageVersionReply(const uint8_t *bytes, uint32_t received, ImageVersionRecord *records,
                                uint32_t capacity, uint32_t *count) {
  if (bytes == nullptr || records == nullptr || count == nullptr) return fwu::kInvalidParameter;
  // Nothing is read beyond the bytes the ME sent: a reply too short for a
  // field it should carry is as wrong as a bad field.
  if (received <= kResultOffset) return fwu::kInvalidParameter;
  const FwuStatus status = MapClientStatus(bytes[kResultOffset], client_kind::kVersionQuery);
  if (status != fwu::kSuccess) return status;

  if (received < kRecordsOffset) return fwu::kInvalidParameter;
  const uint32_t listed = hbm::ReadLe32(bytes + kCountOffset);
  if (listed == 0 || listed > capacity) return fwu::kInvalidParameter;
  const uint64_t record_bytes = static_cast<uint64_t>(listed) * sizeof(ImageVersionRecord);
  if (received - kRecordsOffset < record_bytes) return fwu::kInvalidParameter;

  *count = listed;
  std::memcpy(records, bytes + kRecordsOffset, record_bytes);
  return fwu::kSuccess;
}
