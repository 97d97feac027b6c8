#include "navo/fw_version/image_version.h"

#include "navo/file_loader.h"
#include "navo/fw_version/image_scan.h"
#include "platform/print.h"

PlatStatus FindManifestVersion(const uint8_t *image, uint32_t size, FwVersion *version) {
  // The board holds the whole image: one chunk.
  ImageScan scan;
  ImageScanStart(&scan);
  ImageScanFeed(&scan, image, size);
  if (ImageScanFinish(&scan, version)) return PLAT_SUCCESS;
  Print(u"Fail.\n\n");
  Print(u"Error F07: Not Find Version sting.\n");
  return PLAT_NOT_FOUND;
}

PlatStatus ReadImageFwVersion(const char16_t *file_name, FwVersion *version) {
  LoadedFile image;
  PlatStatus status = LoadWholeFile(file_name, 0, &image);
  if (status != PLAT_SUCCESS) return status;

  // Only the bytes actually read are searched; an image past 4 GiB is searched
  // in its first 4 GiB rather than in the low 32 bits of its size.
  const uint64_t size = image.Length();
  const uint32_t searched =
      size > kMaxSearchedImageBytes ? kMaxSearchedImageBytes : static_cast<uint32_t>(size);
  return FindManifestVersion(image.buffer.Bytes(), searched, version);
}
