// Reads a whole shell file into one pool buffer, for the commands that search
// a file's bytes (BIOS images, the information tools' output).
#ifndef NAVO_FILE_LOADER_H_
#define NAVO_FILE_LOADER_H_

#include <cstdint>

#include "platform/guards.h"
#include "platform/platform.h"

// What a load took: the file stays open until the caller lets the record go,
// so it can close it at the point the commands' order of effects asks for.
struct LoadedFile {
  plat::FileGuard file;
  PlatFileInfo info{};
  // Zero-filled, info.FileSize bytes.
  plat::PoolBuffer buffer;
  // Bytes actually read; a file that ends early gives fewer than its size.
  uint64_t read = 0;

  // The bytes read, never more than the buffer holds.
  uint64_t Length() const {
    if (!buffer) return 0;
    return read < info.FileSize ? read : info.FileSize;
  }
};

// Opens the file, learns its size, allocates and reads. *loaded is emptied
// first and holds whatever was taken, on failure too. A failure prints "Fail"
// and an empty line (unless `verbose`: traces have broken the progress line)
// and its F04/F05/F06 line; it returns the failing call's status, or
// PLAT_NO_BUFFER when the buffer cannot be had.
PlatStatus LoadWholeFile(const char16_t *name, uint8_t verbose, LoadedFile *loaded);

#endif  // NAVO_FILE_LOADER_H_
