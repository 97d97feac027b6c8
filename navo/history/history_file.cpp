#include "navo/history/history_file.h"

#include "platform/guards.h"

namespace {

PlatStatus WriteAll(PlatFile file, const char *bytes, uint64_t size) {
  uint64_t written = size;
  const PlatStatus status = PlatFileWrite(file, &written, bytes);
  if (PLAT_IS_ERROR(status)) return status;
  return written == size ? PLAT_SUCCESS : PLAT_DEVICE_ERROR;
}

}  // namespace

PlatStatus AppendRecord(const PlatChar16 *file, const history::Record &record) {
  char line[history::kMaxRecordBytes];
  const std::size_t length = history::FormatRecord(record, line);
  if (length == 0) return PLAT_INVALID_PARAMETER;

  plat::FileGuard handle;
  PlatStatus status =
      PlatFileOpenByName(file, PLAT_FILE_MODE_READ | PLAT_FILE_MODE_WRITE | PLAT_FILE_MODE_CREATE, handle.Out());
  if (PLAT_IS_ERROR(status)) return status;
  PlatFileInfo info{};
  status = PlatFileGetInfo(handle.Get(), &info);
  if (PLAT_IS_ERROR(status)) return status;
  if (info.IsDirectory != 0) return PLAT_ACCESS_DENIED;

  if (info.FileSize != 0) {
    char last = 0;
    uint64_t got = 1;
    status = PlatFileSetPosition(handle.Get(), info.FileSize - 1);
    if (!PLAT_IS_ERROR(status)) status = PlatFileRead(handle.Get(), &got, &last);
    if (PLAT_IS_ERROR(status)) return status;
    if (got != 1) return PLAT_DEVICE_ERROR;
    // The end of the file, wherever the read left the position.
    status = PlatFileSetPosition(handle.Get(), info.FileSize);
    if (PLAT_IS_ERROR(status)) return status;
    if (last != '\n') {
      status = last == '\r' ? WriteAll(handle.Get(), "\n", 1) : WriteAll(handle.Get(), "\r\n", 2);
      if (PLAT_IS_ERROR(status)) return status;
    }
  }
  status = WriteAll(handle.Get(), line, length);
  if (PLAT_IS_ERROR(status)) return status;
  // The firmware's file system may write its buffers only now.
  return handle.Close();
}
