// The ME seen through the Linux kernel's MEI driver: /dev/meiN connected to
// one firmware client. The kernel does the HECI bus work (enumeration,
// connect, flow control); what is left here is one request and its reply.
#ifndef PLATFORM_POSIX_MEI_DEVICE_H_
#define PLATFORM_POSIX_MEI_DEVICE_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/platform.h"

enum class MeiError : uint8_t {
  None,
  NoDevice,          // no such node, or no driver or ME behind it
  NotReady,          // the node is there, the ME behind it is not enabled
  PermissionDenied,  // the node's mode keeps this user out
  OpenFailed,        // any other reason open() gave
  ClientNotFound,    // the ME does not list a client with that GUID
  ConnectFailed,     // the client is listed but the connect did not go through
  WriteFailed,
  ReadFailed,
  Timeout,           // no reply within the limit
};

struct MeiResult {
  MeiError error;
  int errno_value;  // 0 for a timeout
  bool ok() const { return error == MeiError::None; }
};

// How long the reply's read waits before the ME counts as late, in the place
// of the board's HECI protocol's own wait. A caller adds the time it gives a
// late ME; the wait stays bounded, so a silent ME does not hang a station.
inline constexpr int kMeiReadWaitMs = 5000;

// What an open() or IOCTL_MEI_CONNECT_CLIENT errno stands for.
MeiError MeiOpenError(int errno_value);
MeiError MeiConnectError(int errno_value);

// The 16 bytes the kernel compares when it looks a client up (uuid_le: the
// EFI GUID layout, first three fields little-endian).
void MeiUuidBytes(const PlatGuid &guid, uint8_t out[16]);

class MeiConnection {
 public:
  MeiConnection() = default;
  // Takes over a descriptor that is already connected (a test's fake ME).
  MeiConnection(int fd, uint32_t max_message_length) : fd_(fd), max_message_length_(max_message_length) {}
  ~MeiConnection() { Close(); }
  MeiConnection(const MeiConnection &) = delete;
  MeiConnection &operator=(const MeiConnection &) = delete;

  // Opens `path` read-write and connects it to the client with `guid`.
  MeiResult Open(const char *path, const PlatGuid &guid);
  // IOCTL_MEI_CONNECT_CLIENT on the open descriptor; sets max_message_length.
  MeiResult Connect(const PlatGuid &guid);

  // Writes the request and reads one reply (at most max_message_length
  // bytes) into *reply, waiting at most timeout_ms for it in all.
  MeiResult Transact(const uint8_t *request, std::size_t length, std::vector<uint8_t> *reply, int timeout_ms);

  uint32_t max_message_length() const { return max_message_length_; }
  void Close();

 private:
  int fd_ = -1;
  uint32_t max_message_length_ = 0;
};

#endif  // PLATFORM_POSIX_MEI_DEVICE_H_
