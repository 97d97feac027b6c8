// The Linux MEI transport against descriptors that stand in for /dev/mei0: a
// socketpair for the ME's side of write and read, and descriptors on which
// the connect ioctl fails as the kernel's does.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "navo/heci/client_kinds.h"
#include "platform/posix/mei_device.h"

namespace {

TEST(MeiDevice, ErrnoCauses) {
  const struct {
    int errno_value;
    MeiError open, connect;
  } cases[] = {
      {ENOENT, MeiError::NoDevice, MeiError::ConnectFailed},
      {ENODEV, MeiError::NoDevice, MeiError::NotReady},
      {ENXIO, MeiError::NoDevice, MeiError::ConnectFailed},
      {EACCES, MeiError::PermissionDenied, MeiError::ConnectFailed},
      {EPERM, MeiError::PermissionDenied, MeiError::ConnectFailed},
      {ENOTTY, MeiError::OpenFailed, MeiError::ClientNotFound},
      {ETIME, MeiError::OpenFailed, MeiError::ConnectFailed},
      {EBUSY, MeiError::OpenFailed, MeiError::ConnectFailed},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::strerror(c.errno_value));
    EXPECT_EQ(MeiOpenError(c.errno_value), c.open);
    EXPECT_EQ(MeiConnectError(c.errno_value), c.connect);
  }
}

TEST(MeiDevice, MkhiUuidInTheKernelsByteOrder) {
  uint8_t bytes[16];
  MeiUuidBytes(ClientGuidTable[client_kind::kMkhiIndex], bytes);
  const uint8_t want[16] = {0x15, 0x67, 0x6A, 0x8E, 0xBC, 0x9A, 0x43, 0x40,
                            0x88, 0xEF, 0x9E, 0x39, 0xC6, 0xF6, 0x3E, 0x0F};
  EXPECT_EQ(std::memcmp(bytes, want, 16), 0);
}

TEST(MeiDevice, OpenAndConnectFailures) {
  const PlatGuid &mkhi = ClientGuidTable[client_kind::kMkhiIndex];
  MeiConnection mei;
  MeiResult r = mei.Open("/nonexistent/mei0", mkhi);
  EXPECT_EQ(r.error, MeiError::NoDevice);
  EXPECT_EQ(r.errno_value, ENOENT);
  // A character device that knows no MEI ioctl answers as the kernel does for
  // a GUID it did not enumerate.
  r = mei.Open("/dev/null", mkhi);
  EXPECT_EQ(r.error, MeiError::ClientNotFound);
  EXPECT_EQ(r.errno_value, ENOTTY);
  MeiConnection closed(-1, 0);
  EXPECT_EQ(closed.Connect(mkhi).error, MeiError::ConnectFailed);
}

class MeiTransactTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds), 0);
    mei = std::make_unique<MeiConnection>(fds[0], 512);
  }
  void TearDown() override {
    mei.reset();  // closes fds[0]
    close(fds[1]);
  }
  int fds[2];
  std::unique_ptr<MeiConnection> mei;
};

TEST_F(MeiTransactTest, RequestOutReplyIn) {
  std::vector<uint8_t> answer(96, 0);
  answer[0] = 0xFF;
  answer[95] = 0x5A;
  ASSERT_EQ(write(fds[1], answer.data(), answer.size()), 96);
  const uint8_t request[8] = {0xFF, 0x1C, 0, 0, 'F', 'T', 'P', 'R'};
  std::vector<uint8_t> reply;
  ASSERT_TRUE(mei->Transact(request, sizeof request, &reply, 1000).ok());
  EXPECT_EQ(reply, answer);
  uint8_t sent[16];
  ASSERT_EQ(read(fds[1], sent, sizeof sent), 8);
  EXPECT_EQ(std::memcmp(sent, request, 8), 0);
}

TEST_F(MeiTransactTest, SilentMeTimesOut) {
  const uint8_t request[8] = {};
  std::vector<uint8_t> reply;
  const MeiResult r = mei->Transact(request, sizeof request, &reply, 50);
  EXPECT_EQ(r.error, MeiError::Timeout);
}

TEST(MeiDevice, WriteFailure) {
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  MeiConnection reading_end(pipe_fds[0], 512);
  const uint8_t request[8] = {};
  std::vector<uint8_t> reply;
  const MeiResult r = reading_end.Transact(request, sizeof request, &reply, 50);
  EXPECT_EQ(r.error, MeiError::WriteFailed);
  EXPECT_EQ(r.errno_value, EBADF);
  close(pipe_fds[1]);
}

}  // namespace
