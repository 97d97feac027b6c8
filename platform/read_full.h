// Reading a file's known size into a buffer. A file read may deliver fewer
// bytes than asked for, so both tools go on until the buffer is full or the
// file gives nothing more, and then use only what actually came.
#ifndef PLATFORM_READ_FULL_H_
#define PLATFORM_READ_FULL_H_

#include <cstdint>

#include "platform/platform.h"

namespace plat {

// Reads up to `size` bytes into `buffer`; *got is the count read, never more
// than `size` whatever a read reports. Returns the first failing read's status
// (with *got as far as it came) or PLAT_SUCCESS.
inline PlatStatus ReadFull(PlatFile file, uint8_t *buffer, uint64_t size, uint64_t *got) {
  *got = 0;
  // At least one read, also for an empty file: its failure is the file's.
  do {
    const uint64_t wanted = size - *got;
    uint64_t count = wanted;
    const PlatStatus status = PlatFileRead(file, &count, buffer + *got);
    if (PLAT_IS_ERROR(status)) return status;
    if (count == 0) break;
    *got += count < wanted ? count : wanted;
  } while (*got < size);
  return PLAT_SUCCESS;
}

}  // namespace plat

#endif  // PLATFORM_READ_FULL_H_
