// The Linux tools' file reader: every piece starts on a page boundary (the
// kernel's copy into a misaligned buffer is several times slower on some
// processors), no piece is longer than a chunk, and the pieces are the file.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/posix/file_stream.h"

namespace {

struct Pieces {
  std::vector<uint8_t> bytes;
  std::size_t count = 0;
  std::size_t misaligned = 0;
  std::size_t oversized = 0;
};

void Collect(void *context, const uint8_t *data, std::size_t size) {
  auto *p = static_cast<Pieces *>(context);
  ++p->count;
  if (reinterpret_cast<uintptr_t>(data) % kStreamBufferAlignment != 0) ++p->misaligned;
  if (size > kStreamChunkBytes) ++p->oversized;
  p->bytes.insert(p->bytes.end(), data, data + size);
}

TEST(PosixFileStream, PiecesArePageAlignedAndMakeUpTheFile) {
  const std::size_t sizes[] = {1, 4095, kStreamChunkBytes, kStreamChunkBytes + 1, 3 * kStreamChunkBytes - 7};
  const std::string path = testing::TempDir() + "file_stream_test.bin";
  for (std::size_t size : sizes) {
    SCOPED_TRACE(size);
    std::vector<uint8_t> file(size);
    for (std::size_t i = 0; i < size; ++i) file[i] = static_cast<uint8_t>(i * 131 + (i >> 12));
    std::FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(file.data(), 1, size, f), size);
    ASSERT_EQ(std::fclose(f), 0);

    Pieces pieces;
    StreamFailure failure{};
    ASSERT_TRUE(StreamFile(path.c_str(), Collect, &pieces, &failure));
    EXPECT_EQ(pieces.misaligned, 0u);
    EXPECT_EQ(pieces.oversized, 0u);
    EXPECT_GE(pieces.count, (size + kStreamChunkBytes - 1) / kStreamChunkBytes);
    EXPECT_EQ(pieces.bytes, file);
  }
  std::remove(path.c_str());
}

}  // namespace
