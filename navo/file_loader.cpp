#include "navo/file_loader.h"

#include "platform/print.h"
#include "platform/read_full.h"

namespace {

// Prints "Fail" and an empty line to close the caller's open progress line,
// unless traces have already broken that line.
void PrintLoadFailure(uint8_t verbose, const char16_t *error_line) {
  if (verbose == 0) Print(u"Fail\n\n");
  Print(error_line);
}

}  // namespace

PlatStatus LoadWholeFile(const char16_t *name, uint8_t verbose, LoadedFile *loaded) {
  *loaded = LoadedFile{};

  PlatStatus status = PLAT_INVALID_PARAMETER;
  if (name != nullptr) status = PlatFileOpenByName(name, PLAT_FILE_MODE_READ, loaded->file.Out());
  if (PLAT_IS_ERROR(status) || !loaded->file) {
    if (!PLAT_IS_ERROR(status)) status = PLAT_DEVICE_ERROR;
    PrintLoadFailure(verbose, u"Error F04: Open File failed!\n");
    return status;
  }

  // Without the file's size nothing can be read: reported like a failed read.
  status = PlatFileGetInfo(loaded->file.Get(), &loaded->info);
  if (PLAT_IS_ERROR(status)) {
    loaded->info = PlatFileInfo{};
    PrintLoadFailure(verbose, u"Error F06: Read File failed!\n");
    return status;
  }

  loaded->buffer = plat::PoolBuffer(loaded->info.FileSize);
  if (!loaded->buffer) {
    PrintLoadFailure(verbose, u"Error F05: Allocate a memory buffer error!\n");
    return PLAT_NO_BUFFER;
  }

  status = plat::ReadFull(loaded->file.Get(), loaded->buffer.Bytes(), loaded->info.FileSize,
                          &loaded->read);
  if (PLAT_IS_ERROR(status)) {
    PrintLoadFailure(verbose, u"Error F06: Read File failed!\n");
    return status;
  }
  return PLAT_SUCCESS;
}
