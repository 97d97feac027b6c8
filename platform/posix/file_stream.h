// Reading a file on Linux in fixed-size pieces, so that memory does not grow
// with the file: the Linux tools sum and search images of gigabytes this way.
#ifndef PLATFORM_POSIX_FILE_STREAM_H_
#define PLATFORM_POSIX_FILE_STREAM_H_

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

// Bytes handed over per call: small enough to stay in the caches between the
// read and the work on the bytes.
inline constexpr std::size_t kStreamChunkBytes = std::size_t{256} * 1024;

// Where every piece handed to a sink starts: on a page boundary. The kernel
// copies a cached file into the reader's buffer, and on some processors that
// copy runs three times slower into a buffer 8 or 16 bytes past a boundary
// (where a plain `new[]` of this size lands).
inline constexpr std::size_t kStreamBufferAlignment = 4096;

enum class StreamStage : uint8_t { Open, Read };

struct StreamFailure {
  StreamStage stage;
  int error;  // errno; EISDIR for a directory
};

// Called with each piece in file order; pieces may be shorter than a chunk.
typedef void (*StreamSink)(void *context, const uint8_t *data, std::size_t size);

// Opens `path` exactly as given (bytes, no conversion; "-" is standard input,
// as Linux tools take it, and "./-" a file of that name), refuses a directory,
// and hands every byte to `sink` in pieces of at most kStreamChunkBytes. True
// at the file's end; false with *failure filled otherwise.
bool StreamFile(const char *path, StreamSink sink, void *context, StreamFailure *failure);

// The UEFI status the tools report for an errno value.
PlatStatus StatusFromErrno(int error);

#endif  // PLATFORM_POSIX_FILE_STREAM_H_
