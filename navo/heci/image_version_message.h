// The MKHI image-version request and the checks on its reply, apart from any
// transport: the board's HECI client and the Linux tool over the kernel's MEI
// driver send the same bytes and judge the same replies.
#ifndef NAVO_HECI_IMAGE_VERSION_MESSAGE_H_
#define NAVO_HECI_IMAGE_VERSION_MESSAGE_H_

#include <cstddef>
#include <cstdint>

#include "navo/types.h"

// The four ASCII letters of a partition name, first letter in the low byte.
inline constexpr uint32_t kPartitionFtpr = 0x52505446;  // "FTPR", the code partition

// One record of the image-version reply, 88 bytes as the ME sends it
// (little-endian fields).
struct ImageVersionRecord {
  uint8_t Unused0[12];
  uint16_t Major;
  uint16_t Minor;
  uint16_t HotFix;
  uint16_t Build;
  uint8_t Unused1[68];
};
static_assert(sizeof(ImageVersionRecord) == 88);
static_assert(offsetof(ImageVersionRecord, Major) == 12 && offsetof(ImageVersionRecord, Build) == 18);

// Where the reply keeps what is judged: the MKHI header with the result code
// in its last byte, the record count, then the records.
namespace image_version_reply {
inline constexpr uint32_t kResultOffset = 3;
inline constexpr uint32_t kCountOffset = 4;
inline constexpr uint32_t kRecordsOffset = 8;
}  // namespace image_version_reply

// The request in the bus's 32-bit words: MKHI header, then the partition.
struct ImageVersionRequest {
  static constexpr uint32_t kLength = 8;
  uint32_t words[2];

  const uint8_t *bytes() const { return reinterpret_cast<const uint8_t *>(words); }
};

ImageVersionRequest MakeImageVersionRequest(uint32_t partition_id);

// Judges the `received` bytes of a reply: its result code through the MKHI
// client's table, then the record count against `capacity` and the bytes the
// records need. On 0, *count records are copied into `records`; on any other
// status neither is touched. 3 for a reply too short for what is read from it,
// a count of 0 or above capacity; 326 for result 0x81; 3 for other results.
FwuStatus ReadImageVersionReply(const uint8_t *bytes, uint32_t received, ImageVersionRecord *records,
                                uint32_t capacity, uint32_t *count);

inline FwVersion RecordVersion(const ImageVersionRecord &record) {
  return FwVersion{record.Major, record.Minor, record.HotFix, record.Build};
}

#endif  // NAVO_HECI_IMAGE_VERSION_MESSAGE_H_
