// Ownership guards over the platform's pool buffers and open files, so that
// every path out of a function gives back what it took.
#ifndef PLATFORM_GUARDS_H_
#define PLATFORM_GUARDS_H_

#include <cstdint>
#include <utility>

#include "platform/platform.h"

namespace plat {

class PoolBuffer {
 public:
  PoolBuffer() = default;
  explicit PoolBuffer(uint64_t size) : data_(PlatAllocateZeroPool(size)), size_(data_ ? size : 0) {}
  ~PoolBuffer() { Reset(); }
  PoolBuffer(const PoolBuffer &) = delete;
  PoolBuffer &operator=(const PoolBuffer &) = delete;
  PoolBuffer(PoolBuffer &&other) noexcept
      : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
  PoolBuffer &operator=(PoolBuffer &&other) noexcept {
    if (this != &other) {
      Reset();
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
    }
    return *this;
  }

  // Takes over a buffer that came from PlatAllocateZeroPool.
  void Adopt(void *data, uint64_t size) {
    Reset();
    data_ = data;
    size_ = size;
  }
  void Reset() {
    if (data_ != nullptr) PlatFreePool(data_);
    data_ = nullptr;
    size_ = 0;
  }
  void *Release() {
    size_ = 0;
    return std::exchange(data_, nullptr);
  }

  explicit operator bool() const { return data_ != nullptr; }
  void *Get() const { return data_; }
  uint8_t *Bytes() const { return static_cast<uint8_t *>(data_); }
  uint64_t Size() const { return size_; }

 private:
  void *data_ = nullptr;
  uint64_t size_ = 0;
};

class FileGuard {
 public:
  FileGuard() = default;
  explicit FileGuard(PlatFile file) : file_(file) {}
  ~FileGuard() { Close(); }
  FileGuard(const FileGuard &) = delete;
  FileGuard &operator=(const FileGuard &) = delete;
  FileGuard(FileGuard &&other) noexcept : file_(std::exchange(other.file_, nullptr)) {}
  FileGuard &operator=(FileGuard &&other) noexcept {
    if (this != &other) {
      Close();
      file_ = std::exchange(other.file_, nullptr);
    }
    return *this;
  }

  // For open calls that return the handle through an out-parameter.
  PlatFile *Out() {
    Close();
    return &file_;
  }
  PlatStatus Close() {
    PlatStatus status = PLAT_SUCCESS;
    if (file_ != nullptr) status = PlatFileClose(file_);
    file_ = nullptr;
    return status;
  }
  PlatFile Release() { return std::exchange(file_, nullptr); }

  explicit operator bool() const { return file_ != nullptr; }
  PlatFile Get() const { return file_; }

 private:
  PlatFile file_ = nullptr;
};

}  // namespace plat

#endif  // PLATFORM_GUARDS_H_
