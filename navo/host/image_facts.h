// What navo-image learns of one image file in one pass over it: size, byte
// sum and the firmware version, by the board's own locator.
#ifndef NAVO_HOST_IMAGE_FACTS_H_
#define NAVO_HOST_IMAGE_FACTS_H_

#include <cstdint>

#include "navo/fw_version/image_scan.h"
#include "navo/types.h"
#include "platform/posix/file_stream.h"

struct ImageFacts {
  uint64_t size;
  uint32_t sum;
  bool manifest;       // a "$MN2" tag in the FTPR partition
  FwVersion version;   // behind it; a Major of 0 is no version
  ImageScanFindings findings;  // why there is no manifest, and where things lie
};

inline bool HasVersion(const ImageFacts &facts) { return facts.manifest && HasFwVersion(facts.version); }

// Reads the file named by `path` (bytes, as given) once. False with *failure
// filled when it cannot be opened or read, or is a directory.
bool ReadImageFacts(const char *path, ImageFacts *facts, StreamFailure *failure);

#endif  // NAVO_HOST_IMAGE_FACTS_H_
