// Asks the ME's MKHI client for the version of a firmware partition; the board
// version read method "FwUpdateLib" is built on it. Nothing here prints.
#ifndef NAVO_HECI_VERSION_QUERY_H_
#define NAVO_HECI_VERSION_QUERY_H_

#include <cstdint>

#include "navo/heci/image_version_message.h"
#include "navo/types.h"

// Fills up to capacity records; *count: records delivered. 0 on success.
FwuStatus QueryImageVersions(ImageVersionRecord *records, uint32_t capacity, uint32_t *count,
                             uint32_t partition_id);

// The version of one partition, which must be the only record of the reply.
FwuStatus GetPartitionFwVersion(uint32_t partition_id, uint16_t *major, uint16_t *minor,
                                uint16_t *hot_fix, uint16_t *build);

// The FTPR version into *version on success; on failure *version is untouched.
FwuStatus ReadHeciFwVersion(FwVersion *version);

#endif  // NAVO_HECI_VERSION_QUERY_H_
