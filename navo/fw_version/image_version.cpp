#include "navo/fw_version/image_version.h"

#include "navo/console.h"
#include "navo/fw_version/image_scan.h"
#include "platform/guards.h"
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
  plat::FileGuard file;
  PlatFileInfo info{};
  void *data = nullptr;
  uint64_t size = 0;
  PlatStatus status = LoadWholeFile(file_name, file.Out(), &info, &data, &size, 0);
  // The loader hands over whatever it got, on failure too.
  plat::PoolBuffer buffer;
  buffer.Adopt(data, size);
  if (status != PLAT_SUCCESS) return status;
  if (data == nullptr) size = 0;

  // Only the bytes actually read are searched; an image past 4 GiB is searched
  // in its first 4 GiB rather than in the low 32 bits of its size.
  if (size > info.FileSize) size = info.FileSize;
  const uint32_t searched =
      size > kMaxSearchedImageBytes ? kMaxSearchedImageBytes : static_cast<uint32_t>(size);
  return FindManifestVersion(static_cast<const uint8_t *>(data), searched, version);
}
