#include "platform/posix/mei_device.h"

#include <fcntl.h>
#include <linux/mei.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

MeiResult Fail(MeiError error, int errno_value) { return MeiResult{error, errno_value}; }
constexpr MeiResult kOk{MeiError::None, 0};

int64_t NowMs() {
  timespec now{};
  static_cast<void>(::clock_gettime(CLOCK_MONOTONIC, &now));
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

}  // namespace

MeiError MeiOpenError(int errno_value) {
  switch (errno_value) {
    // ENXIO/ENODEV: the node is there but no driver or device answers it.
    case ENOENT: case ENODEV: case ENXIO: return MeiError::NoDevice;
    case EACCES: case EPERM: return MeiError::PermissionDenied;
    default: return MeiError::OpenFailed;
  }
}

MeiError MeiConnectError(int errno_value) {
  switch (errno_value) {
    // The kernel's answer for a GUID that its enumeration did not list (and
    // for a fixed-address client it will not hand out).
    case ENOTTY: return MeiError::ClientNotFound;
    // The device went away or is not enabled (reset, ME not ready).
    case ENODEV: return MeiError::NotReady;
    default: return MeiError::ConnectFailed;
  }
}

void MeiUuidBytes(const PlatGuid &guid, uint8_t out[16]) {
  const uint32_t d1 = guid.Data1;
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(d1 >> (8 * i));
  out[4] = static_cast<uint8_t>(guid.Data2);
  out[5] = static_cast<uint8_t>(guid.Data2 >> 8);
  out[6] = static_cast<uint8_t>(guid.Data3);
  out[7] = static_cast<uint8_t>(guid.Data3 >> 8);
  std::memcpy(out + 8, guid.Data4, 8);
}

MeiResult MeiConnection::Open(const char *path, const PlatGuid &guid) {
  Close();
  // Non-blocking: the driver's blocking write waits until the ME has taken
  // the message, with no limit; here every wait is the reply's poll.
  fd_ = ::open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) return Fail(MeiOpenError(errno), errno);
  const MeiResult connected = Connect(guid);
  if (!connected.ok()) Close();
  return connected;
}

MeiResult MeiConnection::Connect(const PlatGuid &guid) {
  mei_connect_client_data data{};
  static_assert(sizeof data.in_client_uuid == 16);
  MeiUuidBytes(guid, reinterpret_cast<uint8_t *>(&data.in_client_uuid));
  if (::ioctl(fd_, IOCTL_MEI_CONNECT_CLIENT, &data) != 0) return Fail(MeiConnectError(errno), errno);
  max_message_length_ = data.out_client_properties.max_msg_length;
  return kOk;
}

MeiResult MeiConnection::Transact(const uint8_t *request, std::size_t length, std::vector<uint8_t> *reply,
                                  int timeout_ms) {
  ssize_t wrote;
  do {
    wrote = ::write(fd_, request, length);
  } while (wrote < 0 && errno == EINTR);
  if (wrote < 0) return Fail(MeiError::WriteFailed, errno);
  // The driver takes a message whole or not at all.
  if (static_cast<std::size_t>(wrote) != length) return Fail(MeiError::WriteFailed, EIO);

  // A signal restarts the wait with what is left of it, not with all of it.
  const int64_t deadline = NowMs() + timeout_ms;
  pollfd ready{fd_, POLLIN, 0};
  int polled;
  do {
    const int64_t left = deadline - NowMs();
    polled = ::poll(&ready, 1, left > 0 ? static_cast<int>(left) : 0);
  } while (polled < 0 && errno == EINTR);
  if (polled < 0) return Fail(MeiError::ReadFailed, errno);
  if (polled == 0) return Fail(MeiError::Timeout, 0);
  if ((ready.revents & POLLIN) == 0) return Fail(MeiError::ReadFailed, EIO);

  // The driver hands over one message per read, cut to the room given: room
  // for the client's longest message keeps the reply whole.
  reply->assign(max_message_length_ == 0 ? 1 : max_message_length_, 0);
  ssize_t got;
  do {
    got = ::read(fd_, reply->data(), reply->size());
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    reply->clear();
    return Fail(MeiError::ReadFailed, errno);
  }
  reply->resize(static_cast<std::size_t>(got));
  return kOk;
}

void MeiConnection::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}
