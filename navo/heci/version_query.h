// Asks the ME's MKHI client for the version of a firmware partition; the board
// version read method "FwUpdateLib" is built on it. Nothing here prints.
#ifndef NAVO_HECI_VERSION_QUERY_H_
#define NAVO_HECI_VERSION_QUERY_H_

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

// Fills up to capacity records; *count: records delivered. 0 on success.
FwuStatus QueryImageVersions(ImageVersionRecord *records, uint32_t capacity, uint32_t *count,
                             uint32_t partition_id);

// The version of one partition, which must be the only record of the reply.
FwuStatus GetPartitionFwVersion(uint32_t partition_id, uint16_t *major, uint16_t *minor,
                                uint16_t *hot_fix, uint16_t *build);

// The FTPR version into *version on success; on failure *version is untouched.
FwuStatus ReadHeciFwVersion(FwVersion *version);

#endif  // NAVO_HECI_VERSION_QUERY_H_
