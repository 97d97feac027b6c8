// The whole-file loader: what it hands over, short reads, and its failures.
#include "navo/file_loader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/sim/sim_board.h"

namespace {

// What the caller gets, released the way a caller must: by the record's guards.
struct Loaded {
  PlatStatus status;
  LoadedFile file;
  bool handle_given = false;
  bool buffer_given = false;
};

// The record comes in holding another open file and buffer: the loader must
// let go of them, whichever way it ends.
Loaded Load(sim::Board &board, const char16_t *name, uint8_t verbose) {
  board.PutFile(u"FS0:\\STALE.BIN", std::string_view("stale"));
  Loaded r;
  EXPECT_EQ(LoadWholeFile(u"FS0:\\STALE.BIN", 1, &r.file), PLAT_SUCCESS);
  r.status = LoadWholeFile(name, verbose, &r.file);
  r.handle_given = static_cast<bool>(r.file.file);
  r.buffer_given = static_cast<bool>(r.file.buffer);
  return r;
}

TEST(FileLoader, LoadWholeFileHandsOverTheFile) {
  sim::Board board;
  board.SetCurDir(u"FS0:\\UPDATE");
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 1000; ++i) bytes.push_back(static_cast<uint8_t>(i * 7));
  board.PutFile(u"FS0:\\UPDATE\\IMAGE.BIN", bytes);
  {
    Loaded r = Load(board, u"image.bin", 0);
    EXPECT_EQ(r.status, PLAT_SUCCESS);
    EXPECT_EQ(r.file.read, bytes.size());
    EXPECT_EQ(r.file.info.FileSize, bytes.size());
    ASSERT_TRUE(r.file.buffer);
    EXPECT_EQ(std::vector<uint8_t>(r.file.buffer.Bytes(), r.file.buffer.Bytes() + r.file.read), bytes);
    // The loader closes and frees nothing: the caller holds one file and one buffer.
    EXPECT_EQ(board.OpenFiles(), 1u);
    EXPECT_EQ(board.LiveAllocations(), 1u);
  }
  EXPECT_EQ(board.OpenFiles(), 0u);
  EXPECT_EQ(board.LiveAllocations(), 0u);
  EXPECT_EQ(board.console().screen().Raw(), u"");

  board.PutFile(u"EMPTY.TXT", std::string_view(""));
  {
    Loaded r = Load(board, u"EMPTY.TXT", 0);
    EXPECT_EQ(r.status, PLAT_SUCCESS);
    EXPECT_EQ(r.file.read, 0u);
  }
  EXPECT_EQ(board.OpenFiles(), 0u);
  EXPECT_EQ(board.LiveAllocations(), 0u);
}

// A read may give fewer bytes than asked for: the loader goes on until it has
// the whole file, and when the file ends early it hands on only what came.
TEST(FileLoader, LoadWholeFileShortReads) {
  struct Case {
    const char *name;
    sim::Shell::ShortRead limits;
    std::size_t size;
  };
  const Case cases[] = {
      {"7 bytes a read", {7, UINT64_MAX}, 1000},
      {"one byte a read", {1, UINT64_MAX}, 1000},
      {"the file ends after 600 bytes", {UINT64_MAX, 600}, 600},
      {"in pieces, ending after 130", {64, 130}, 130},
      {"nothing to read", {UINT64_MAX, 0}, 0},
  };
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 1000; ++i) bytes.push_back(static_cast<uint8_t>(i * 7 + 1));
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    sim::Board board;
    board.PutFile(u"FS0:\\IMAGE.BIN", bytes);
    board.shell().InjectShortReads(u"FS0:\\IMAGE.BIN", c.limits);
    Loaded r = Load(board, u"IMAGE.BIN", 0);
    EXPECT_EQ(r.status, PLAT_SUCCESS);
    EXPECT_EQ(r.file.info.FileSize, bytes.size());
    ASSERT_EQ(r.file.read, c.size);
    ASSERT_TRUE(r.file.buffer);
    EXPECT_EQ(std::vector<uint8_t>(r.file.buffer.Bytes(), r.file.buffer.Bytes() + r.file.read),
              std::vector<uint8_t>(bytes.begin(), bytes.begin() + c.size));
    EXPECT_EQ(board.console().screen().Raw(), u"");
  }
}

TEST(FileLoader, LoadWholeFileFailures) {
  const std::u16string kOpen = u"Error F04: Open File failed!\r\n";
  const std::u16string kMemory = u"Error F05: Allocate a memory buffer error!\r\n";
  const std::u16string kRead = u"Error F06: Read File failed!\r\n";
  enum Fault { kNoName, kMissing, kOpenFails, kNoMemory, kReadFails, kInfoFails };
  const struct {
    const char *name;
    Fault fault;
    PlatStatus status;
    const std::u16string &error;
    bool handle_given, buffer_given;
  } cases[] = {
      {"absent name", kNoName, 0x8000000000000002ULL, kOpen, false, false},
      {"missing file", kMissing, PLAT_NOT_FOUND, kOpen, false, false},
      {"open refused", kOpenFails, PLAT_ACCESS_DENIED, kOpen, false, false},
      {"no memory", kNoMemory, PLAT_NO_BUFFER, kMemory, true, false},
      {"read fails", kReadFails, PLAT_DEVICE_ERROR, kRead, true, true},
      {"no file information", kInfoFails, PLAT_DEVICE_ERROR, kRead, true, false},
  };
  for (const auto &c : cases) {
    for (uint8_t verbose : {0, 1}) {
      SCOPED_TRACE(std::string(c.name) + (verbose ? ", verbose" : ""));
      sim::Board board;
      board.PutFile(u"IMAGE.BIN", std::string_view("0123456789"));
      const char16_t *name = u"IMAGE.BIN";
      switch (c.fault) {
        case kNoName: name = nullptr; break;
        case kMissing: name = u"OTHER.BIN"; break;
        case kOpenFails: board.shell().InjectOpenFailure(u"FS0:\\IMAGE.BIN", PLAT_ACCESS_DENIED); break;
        case kNoMemory: board.memory().SetPoolLimit(9); break;
        case kReadFails: board.shell().InjectReadFailure(u"FS0:\\IMAGE.BIN", PLAT_DEVICE_ERROR); break;
        case kInfoFails: board.shell().InjectInfoFailure(u"FS0:\\IMAGE.BIN", PLAT_DEVICE_ERROR); break;
      }
      {
        Loaded r = Load(board, name, verbose);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.handle_given, c.handle_given);
        EXPECT_EQ(r.buffer_given, c.buffer_given);
        EXPECT_EQ(board.OpenFiles(), c.handle_given ? 1u : 0u);
        EXPECT_EQ(board.LiveAllocations(), c.buffer_given ? 1u : 0u);
        // The "Fail" completes the caller's open progress line unless traces broke it.
        EXPECT_EQ(board.console().screen().Raw(), (verbose ? u"" : u"Fail\r\n\r\n") + c.error);
      }
      EXPECT_EQ(board.OpenFiles(), 0u);
      EXPECT_EQ(board.LiveAllocations(), 0u);
    }
  }
}

}  // namespace
