// The ME/TXE firmware version stored in a BIOS image: the "$MN2" manifest of the
// partition whose code partition directory ("$CPD") is named "FTPR".
#ifndef NAVO_FW_VERSION_IMAGE_VERSION_H_
#define NAVO_FW_VERSION_IMAGE_VERSION_H_

#include <cstdint>

#include "navo/types.h"
#include "platform/platform.h"

// Offsets are 32-bit: a larger image is searched in its first this many bytes.
inline constexpr uint32_t kMaxSearchedImageBytes = UINT32_MAX;

// Loads the named image whole and looks for its version. A load failure returns
// the loader's status (it has printed "Fail" and its F04/F05/F06 line) and
// leaves *version as it was; otherwise the result of FindManifestVersion.
PlatStatus ReadImageFwVersion(const char16_t *file_name, FwVersion *version);

// The version behind the first "$MN2" inside the FTPR partition (the rules are
// those of image_scan.h, which this runs over the buffer as one chunk). On success all
// four fields are written; otherwise "Fail.", an empty line and the F07 line are
// printed, PLAT_NOT_FOUND returned and *version left as it was. A tag whose
// version bytes would run past the image's end does not count.
PlatStatus FindManifestVersion(const uint8_t *image, uint32_t size, FwVersion *version);

#endif  // NAVO_FW_VERSION_IMAGE_VERSION_H_
