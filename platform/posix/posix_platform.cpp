// The console, file and clock parts of the platform layer over POSIX, for the
// Linux tools. Text is UCS-2 inside and UTF-8 outside, file names pass through as
// the bytes they are (byte_names.h); the console turns the firmware's "\r\n"
// line ends into "\n".
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/platform.h"
#include "platform/posix/byte_names.h"
#include "platform/posix/file_stream.h"
#include "platform/posix/posix_platform.h"

namespace {

struct PosixFile {
  int fd;
  bool directory;
};

PosixFile *Cast(PlatFile file) { return reinterpret_cast<PosixFile *>(file); }

constinit std::string *g_console_capture = nullptr;

}  // namespace

void PosixConsoleCapture(std::string *into) { g_console_capture = into; }

extern "C" {

void PlatConsoleWrite(const PlatChar16 *Text) {
  if (Text == nullptr) return;
  std::string out;
  for (; *Text != 0; ++Text) {
    if (*Text == u'\r' && Text[1] == u'\n') continue;
    AppendBytes(out, *Text);
  }
  if (g_console_capture != nullptr) {
    *g_console_capture += out;
    return;
  }
  // A failed write leaves the stream's error flag set; main reports it.
  static_cast<void>(std::fwrite(out.data(), 1, out.size(), stdout));
}

// The Linux tools stream their files (file_stream.h); pool buffers are small.
void *PlatAllocateZeroPool(uint64_t Size) { return std::calloc(1, Size == 0 ? 1 : Size); }

void PlatFreePool(void *Buffer) { std::free(Buffer); }

PlatStatus PlatFileOpenByName(const PlatChar16 *Name, uint64_t Mode, PlatFile *File) {
  if (Name == nullptr || File == nullptr) return PLAT_INVALID_PARAMETER;
  *File = nullptr;
  int flags = (Mode & PLAT_FILE_MODE_WRITE) != 0 ? O_RDWR : O_RDONLY;
  if ((Mode & PLAT_FILE_MODE_CREATE) != 0) flags |= O_CREAT;
  const std::string path = BytesFromUcs2(Name);
  int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  if (fd < 0 && errno == EISDIR) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return StatusFromErrno(errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int error = errno;
    ::close(fd);
    return StatusFromErrno(error);
  }
  *File = reinterpret_cast<PlatFile>(new PosixFile{fd, S_ISDIR(st.st_mode)});
  return PLAT_SUCCESS;
}

PlatStatus PlatFileGetInfo(PlatFile File, PlatFileInfo *Info) {
  if (File == nullptr || Info == nullptr) return PLAT_INVALID_PARAMETER;
  struct stat st {};
  if (::fstat(Cast(File)->fd, &st) != 0) return StatusFromErrno(errno);
  Info->FileSize = static_cast<uint64_t>(st.st_size);
  Info->IsDirectory = S_ISDIR(st.st_mode) ? 1 : 0;
  return PLAT_SUCCESS;
}

PlatStatus PlatFileRead(PlatFile File, uint64_t *Size, void *Buffer) {
  if (File == nullptr || Size == nullptr) return PLAT_INVALID_PARAMETER;
  if (Cast(File)->directory) return PLAT_DEVICE_ERROR;
  // read() may return less than asked for; keep going to end of file as a
  // firmware file read does.
  uint64_t done = 0;
  char *out = static_cast<char *>(Buffer);
  while (done < *Size) {
    const uint64_t chunk = *Size - done < (1u << 30) ? *Size - done : (1u << 30);
    const ssize_t n = ::read(Cast(File)->fd, out + done, chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      *Size = done;
      return StatusFromErrno(errno);
    }
    if (n == 0) break;
    done += static_cast<uint64_t>(n);
  }
  *Size = done;
  return PLAT_SUCCESS;
}

PlatStatus PlatFileWrite(PlatFile File, uint64_t *Size, const void *Buffer) {
  if (File == nullptr || Size == nullptr) return PLAT_INVALID_PARAMETER;
  uint64_t done = 0;
  const char *in = static_cast<const char *>(Buffer);
  while (done < *Size) {
    const ssize_t n = ::write(Cast(File)->fd, in + done, *Size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      *Size = done;
      return StatusFromErrno(errno);
    }
    done += static_cast<uint64_t>(n);
  }
  return PLAT_SUCCESS;
}

PlatStatus PlatFileSetPosition(PlatFile File, uint64_t Position) {
  if (File == nullptr || Position > static_cast<uint64_t>(INT64_MAX)) return PLAT_INVALID_PARAMETER;
  return ::lseek(Cast(File)->fd, static_cast<off_t>(Position), SEEK_SET) >= 0 ? PLAT_SUCCESS
                                                                              : StatusFromErrno(errno);
}

PlatStatus PlatFileSetSize(PlatFile File, uint64_t Size) {
  if (File == nullptr) return PLAT_INVALID_PARAMETER;
  return ::ftruncate(Cast(File)->fd, static_cast<off_t>(Size)) == 0 ? PLAT_SUCCESS
                                                                     : StatusFromErrno(errno);
}

PlatStatus PlatFileClose(PlatFile File) {
  if (File == nullptr) return PLAT_INVALID_PARAMETER;
  const int result = ::close(Cast(File)->fd);
  delete Cast(File);
  return result == 0 ? PLAT_SUCCESS : PLAT_DEVICE_ERROR;
}

PlatStatus PlatFileDeleteByName(const PlatChar16 *Name) {
  if (Name == nullptr) return PLAT_INVALID_PARAMETER;
  return ::unlink(BytesFromUcs2(Name).c_str()) == 0 ? PLAT_SUCCESS : StatusFromErrno(errno);
}

int PlatIsFile(const PlatChar16 *Name) {
  if (Name == nullptr) return 0;
  struct stat st {};
  return ::stat(BytesFromUcs2(Name).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// The system clock, which Linux keeps in UTC whatever the board's clock holds.
PlatStatus PlatGetTime(PlatTime *Time) {
  if (Time == nullptr) return PLAT_INVALID_PARAMETER;
  const std::time_t now = std::time(nullptr);
  struct tm utc {};
  if (now == static_cast<std::time_t>(-1) || ::gmtime_r(&now, &utc) == nullptr) return PLAT_DEVICE_ERROR;
  Time->Year = static_cast<uint16_t>(utc.tm_year + 1900);
  Time->Month = static_cast<uint8_t>(utc.tm_mon + 1);
  Time->Day = static_cast<uint8_t>(utc.tm_mday);
  Time->Hour = static_cast<uint8_t>(utc.tm_hour);
  Time->Minute = static_cast<uint8_t>(utc.tm_min);
  Time->Second = static_cast<uint8_t>(utc.tm_sec);
  Time->IsUtc = 1;
  return PLAT_SUCCESS;
}

// The firmware's tables are the kernel's here; navo-board reads what it made of
// them in /sys/class/dmi/id.
PlatStatus PlatGetSmbiosTable(const uint8_t **Table, uint64_t *Length) {
  if (Table != nullptr) *Table = nullptr;
  if (Length != nullptr) *Length = 0;
  return PLAT_UNSUPPORTED;
}

}  // extern "C"
