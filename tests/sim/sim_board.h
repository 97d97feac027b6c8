// A simulated board for host tests: everything platform/platform.h reaches,
// held in memory and open to inspection and fault injection.
//
// A test creates one sim::Board; while it lives, every Plat* call acts on it.
// Device models (the EC, the ME behind HECI) plug in through PortDevice and
// HeciDevice.
#ifndef TESTS_SIM_SIM_BOARD_H_
#define TESTS_SIM_SIM_BOARD_H_

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace sim {

std::u16string U16(std::string_view ascii);
std::string Narrow(std::u16string_view text);  // non-ASCII becomes '?'

// ---- Console -----------------------------------------------------------------

// The console output that the firmware's system table points at. The shell's
// own code reaches the screen only through Board::con_out, so a program can put
// a filter in front of it while the shell runs a command line.
class TextOut {
 public:
  virtual ~TextOut() = default;
  virtual void OutputString(std::u16string_view text) = 0;
  virtual void ClearScreen() = 0;
};

// An 80x25 text console with unlimited history: rows scroll off the top of the
// visible window into the history but stay readable by tests.
class Screen : public TextOut {
 public:
  static constexpr uint32_t kColumns = 80;
  static constexpr uint32_t kRows = 25;

  void Write(std::u16string_view text);
  void WriteAt(uint32_t column, uint32_t row, std::u16string_view text);
  // Clears the visible window: the cursor goes to its top left corner on a new
  // line, and what was shown before stays in the history.
  void Clear();
  int Clears() const { return clears_; }
  void Cursor(uint32_t *column, uint32_t *row) const;

  void OutputString(std::u16string_view text) override { Write(text); }
  void ClearScreen() override { Clear(); }

  // Every line ever shown, trailing blanks removed.
  std::vector<std::string> Lines() const;
  // Only the rows of the visible window, as a person sees them now (trailing
  // blanks and empty rows at the end removed).
  std::vector<std::string> Visible() const;
  // The same, joined with "\n" (no trailing empty lines).
  std::string Text() const;
  // Everything ever written, as written (with "\r\n").
  const std::u16string &Raw() const { return raw_; }
  // Number of positioned writes and what they wrote.
  struct Positioned {
    uint32_t column, row;
    std::u16string text;
  };
  const std::vector<Positioned> &PositionedWrites() const { return positioned_; }

 private:
  void Put(char16_t c);
  uint32_t Top() const;

  std::vector<std::u16string> lines_{std::u16string()};
  uint32_t line_ = 0;  // absolute line of the cursor
  uint32_t column_ = 0;
  uint32_t top_ = 0;  // absolute line of the visible window's first row after a clear
  int clears_ = 0;
  std::u16string raw_;
  std::vector<Positioned> positioned_;
};

struct Key {
  uint16_t scan = 0;
  char16_t ch = 0;
};

// ---- Ports and devices ---------------------------------------------------------

struct PortAccess {
  bool write;
  uint16_t port;
  uint8_t value;
  bool operator==(const PortAccess &) const = default;
};

class PortDevice {
 public:
  virtual ~PortDevice() = default;
  virtual bool Claims(uint16_t port) const = 0;
  virtual uint8_t Read(uint16_t port) = 0;
  virtual void Write(uint16_t port, uint8_t value) = 0;
};

class HeciDevice {
 public:
  virtual ~HeciDevice() = default;
  virtual PlatStatus ReadMsg(uint32_t device, uint32_t blocking, uint32_t *buffer, uint32_t *length) = 0;
  virtual PlatStatus SendMsg(uint32_t device, const uint32_t *message, uint32_t length,
                             uint8_t host_address, uint8_t me_address) = 0;
  virtual PlatStatus Reset(uint32_t device) = 0;
};

// ---- Shell ---------------------------------------------------------------------

class Board;

// A program the simulated shell can run. args[0] is the command word as typed.
// Output goes to `out` (the screen, or the redirection target). Returns the
// program's exit status.
using Program = std::function<PlatStatus(Board &board, const std::vector<std::u16string> &args,
                                         std::u16string &out)>;

// How the shell runs a command line handed to its Execute.
//   Nesting:    the UEFI Shell as it starts by default: a nested shell runs the
//               line; it clears the screen (through con_out) first and takes
//               leading options ("-nomap -noversion") as its own, showing its
//               banner and mapping table without them.
//   NonNesting: a UEFI Shell started with -nonest (`nonesting` is "True"): the
//               line runs in place, the screen stays, and a leading option is
//               taken as the command's name.
//   OlderShell: the older EFI shell interface (no UEFI Shell protocol): in place.
enum class ShellMode : uint8_t { Nesting, NonNesting, OlderShell };

struct ExecRecord {
  std::u16string line;
  PlatStatus status;
};

// ---- The board -----------------------------------------------------------------

class Board {
 public:
  Board();
  ~Board();
  Board(const Board &) = delete;
  Board &operator=(const Board &) = delete;

  static Board &Current();

  // Console.
  Screen screen;
  TextOut *con_out = &screen;
  // Clears that the platform layer's filter kept off the screen while the
  // shell ran a command line.
  int clears_kept = 0;
  std::deque<Key> keys;
  uint64_t key_polls = 0;
  // Called when a prompt polls an empty key queue this many times in a row;
  // by default the test is aborted (a prompt nobody answers would spin forever).
  uint64_t starve_limit = 100000;
  std::function<void(Board &)> on_keys_starved;
  void Type(std::string_view chars);  // queues character keys
  void PressScan(uint16_t scan);      // queues a key with only a scan code

  // Files. Paths are "FS0:\DIR\NAME"; comparisons ignore letter case.
  void SetCurDir(std::optional<std::u16string> dir);
  std::optional<std::u16string> cur_dir{u"FS0:\\"};
  void AddDir(std::u16string_view path);
  void PutFile(std::u16string_view path, std::vector<uint8_t> bytes);
  void PutFile(std::u16string_view path, std::string_view bytes);
  bool HasFile(std::u16string_view path) const;
  std::vector<uint8_t> FileBytes(std::u16string_view path) const;
  void RemoveFile(std::u16string_view path);
  std::vector<std::u16string> FileNames() const;  // full paths, as created
  std::u16string Resolve(std::u16string_view name) const;

  // Fault injection by resolved path (letter case ignored).
  std::map<std::u16string, PlatStatus> fail_open, fail_read, fail_write, fail_info;
  // Short reads by resolved path (letter case ignored): one read gives at most
  // `per_read` bytes, and readers meet the end of the file after `readable`
  // bytes, whatever its size says (a file that shrank after its size was taken).
  // The part of the caller's buffer that a read asked for but did not fill is
  // scribbled over with kScribble, as nothing promises it stays untouched.
  struct ShortRead {
    uint64_t per_read = UINT64_MAX;
    uint64_t readable = UINT64_MAX;
  };
  static constexpr uint8_t kScribble = 0xA5;
  std::map<std::u16string, ShortRead> short_reads;
  // Pool requests above this many bytes fail; after `fail_allocs_after` more
  // successful requests, every further one fails.
  uint64_t pool_limit = UINT64_MAX;
  std::optional<uint64_t> fail_allocs_after;

  // Shell programs and the commands run.
  // Installs a program file at `path` and makes it runnable by its name.
  void InstallProgram(std::u16string_view path, Program program);
  std::vector<ExecRecord> executed;  // the lines as the program handed them over
  ShellMode shell_mode = ShellMode::Nesting;
  PlatStatus execute_result = PLAT_SUCCESS;  // the Execute call's own status

  // Variables.
  void SetVariable(std::u16string_view name, const PlatGuid &guid, std::vector<uint8_t> data);

  // Legacy BIOS area 0xF0000..0xFFFFF (reads 0xFF until written).
  static constexpr uint64_t kLegacyBase = 0xF0000;
  static constexpr uint64_t kLegacySize = 0x10000;
  void PutLegacy(uint64_t address, std::string_view bytes);
  uint8_t *legacy() { return legacy_.get(); }
  std::vector<std::pair<uint64_t, uint64_t>> memory_requests;  // (address, length)

  // Ports. Reads nobody claims give 0xFF. A write of 0x0E to 0xCF9 is a reset.
  std::vector<PortDevice *> devices;
  std::vector<PortAccess> port_log;
  bool log_ports = true;
  int resets = 0;
  std::function<void(Board &)> on_reset;

  // Called after each operation whose effect outlives a power cut: a file
  // created, written, resized or deleted, a shell command line run. Tests use it
  // to cut the power after a chosen step (the reset and the EC have their own).
  std::function<void(Board &, std::string_view what)> on_mutation;

  // HECI: nullptr means no protocol installed.
  HeciDevice *heci = nullptr;
  int heci_locates = 0;

  // Stall.
  uint64_t stalled_us = 0;
  std::vector<uint64_t> stalls;

  // Leak accounting.
  std::size_t LiveAllocations() const { return allocations_.size(); }
  std::size_t OpenFiles() const { return open_files_; }

  // What a power cut leaves behind: the files and folders of every disk.
  // Restoring one replaces the board's files and folders with it.
  class DiskSnapshot {
   public:
    // (name as created, bytes) of every file, in path order.
    std::vector<std::pair<std::u16string, std::vector<uint8_t>>> Files() const;
    // The bytes of the file at a full path (letter case ignored), or nullptr.
    const std::vector<uint8_t> *Find(std::u16string_view path) const;

   private:
    friend class Board;
    std::map<std::u16string, std::vector<uint8_t>> files_;  // key: upper-cased path
    std::map<std::u16string, std::u16string> names_;        // same key: name as created
    std::set<std::u16string> dirs_;
  };
  DiskSnapshot SaveDisks() const;
  void RestoreDisks(const DiskSnapshot &snapshot);

  // Whether a resolved path is a folder (letter case ignored).
  bool IsDir(std::u16string_view resolved) const;
  // The size a live pool allocation was asked for (0 when `p` is not one).
  uint64_t AllocationSize(const void *p) const;
  // Whether `p` points into a live pool allocation; if so, how far into it and
  // the size it was asked for.
  bool FindAllocation(const void *p, uint64_t *offset, uint64_t *size) const;

  // ---- used by the platform functions ----
  struct File {
    std::u16string name;  // as created
    std::vector<uint8_t> bytes;
  };
  struct Handle;
  File *FindFile(std::u16string_view resolved);
  // Creates an empty file at a resolved path (its folder must exist).
  File *CreateFile(std::u16string_view resolved);
  bool DeleteFile(std::u16string_view resolved);
  void *Allocate(uint64_t size);
  void Free(void *p);
  void FileOpened() { ++open_files_; }
  void FileClosed();
  const PlatChar16 *CurDirText();
  const std::vector<uint8_t> *Variable(std::u16string_view name, const PlatGuid &guid) const;

  // Runs one command line as the shell would; returns the command's status.
  PlatStatus RunCommandLine(std::u16string_view line);
  // Hands a line to the shell's Execute as the shell mode has it run.
  PlatStatus ExecuteInShell(std::u16string_view line);

 private:
  std::map<std::u16string, File> files_;  // key: upper-cased resolved path
  std::set<std::u16string> dirs_;         // upper-cased resolved paths
  std::map<std::u16string, Program> programs_;  // key: upper-cased base name
  std::map<std::pair<std::u16string, std::string>, std::vector<uint8_t>> variables_;
  std::map<void *, uint64_t> allocations_;
  std::size_t open_files_ = 0;
  uint64_t allocs_done_ = 0;
  std::u16string cur_dir_storage_;
  std::unique_ptr<uint8_t[]> legacy_;

  Board *previous_;
};

std::u16string Upper(std::u16string_view s);

}  // namespace sim

#endif  // TESTS_SIM_SIM_BOARD_H_
