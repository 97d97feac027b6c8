#include "platform/posix/file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor &) = delete;
  Descriptor &operator=(const Descriptor &) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

struct FreeBuffer {
  void operator()(uint8_t *p) const { std::free(p); }
};

bool Fail(StreamFailure *failure, StreamStage stage, int error) {
  *failure = StreamFailure{stage, error};
  return false;
}

}  // namespace

bool StreamFile(const char *path, StreamSink sink, void *context, StreamFailure *failure) {
  const bool standard_input = path[0] == '-' && path[1] == '\0';
  Descriptor fd(standard_input ? ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0) : ::open(path, O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) return Fail(failure, StreamStage::Open, errno);
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) return Fail(failure, StreamStage::Open, errno);
  if (S_ISDIR(st.st_mode)) return Fail(failure, StreamStage::Open, EISDIR);
  ::posix_fadvise(fd.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);

  static_assert(kStreamChunkBytes % kStreamBufferAlignment == 0, "aligned_alloc takes whole alignments");
  const std::unique_ptr<uint8_t, FreeBuffer> buffer(
      static_cast<uint8_t *>(std::aligned_alloc(kStreamBufferAlignment, kStreamChunkBytes)));
  if (!buffer) return Fail(failure, StreamStage::Read, ENOMEM);
  for (;;) {
    const ssize_t n = ::read(fd.Get(), buffer.get(), kStreamChunkBytes);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(failure, StreamStage::Read, errno);
    }
    if (n == 0) return true;
    sink(context, buffer.get(), static_cast<std::size_t>(n));
  }
}

PlatStatus StatusFromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return PLAT_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return PLAT_ACCESS_DENIED;
    case ENOMEM:
      return PLAT_OUT_OF_RESOURCES;
    case EINVAL:
    case ENAMETOOLONG:
      return PLAT_INVALID_PARAMETER;
    default:
      return PLAT_DEVICE_ERROR;
  }
}
