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
// own code reaches the screen only through Console::out(), so a program can put
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
//               line; it clears the screen (through the console's output) first
//               and takes leading options ("-nomap -noversion") as its own,
//               showing its banner and mapping table without them.
//   NonNesting: a UEFI Shell started with -nonest (`nonesting` is "True"): the
//               line runs in place, the screen stays, and a leading option is
//               taken as the command's name.
//   OlderShell: the older EFI shell interface (no UEFI Shell protocol): in place.
enum class ShellMode : uint8_t { Nesting, NonNesting, OlderShell };

struct ExecRecord {
  std::u16string line;
  PlatStatus status;
};

// ---- The board's parts -----------------------------------------------------------
//
// Each part is what a test talks to about one side of the board. The members
// marked "used by the platform functions" serve the Plat* layer over the board.

// The screen and the keyboard.
class Console {
 public:
  explicit Console(Board &board) : board_(board) {}
  Console(const Console &) = delete;
  Console &operator=(const Console &) = delete;

  Screen &screen() { return screen_; }
  const Screen &screen() const { return screen_; }
  // What the firmware's system table points at: the screen, or a filter in
  // front of it while the shell runs a command line.
  TextOut &out() const { return *out_; }
  // Clears that the platform layer's filter kept off the screen while the
  // shell ran a command line.
  int ClearsKept() const { return clears_kept_; }

  void Type(std::string_view chars);  // queues character keys
  void PressScan(uint16_t scan);      // queues a key with only a scan code
  void Press(Key key) { keys_.push_back(key); }
  void PressFirst(Key key) { keys_.push_front(key); }  // ahead of all queued keys
  void ClearKeys() { keys_.clear(); }
  std::size_t KeysLeft() const { return keys_.size(); }
  uint64_t KeyPolls() const { return key_polls_; }
  // Called when a prompt polls an empty key queue this many times in a row;
  // by default the test is aborted (a prompt nobody answers would spin forever).
  void SetStarveLimit(uint64_t polls) { starve_limit_ = polls; }
  void OnKeysStarved(std::function<void(Board &)> handler) { on_keys_starved_ = std::move(handler); }

  // ---- used by the platform functions ----
  // One poll of the keyboard: false when no key is waiting.
  bool ReadKey(Key *key);
  // Puts a filter in front of the console output; returns the one it replaces.
  TextOut *Redirect(TextOut *out);
  void KeepClear() { ++clears_kept_; }

 private:
  Board &board_;
  Screen screen_;
  TextOut *out_ = &screen_;
  int clears_kept_ = 0;
  std::deque<Key> keys_;
  uint64_t key_polls_ = 0;
  uint64_t empty_polls_ = 0;  // in a row
  uint64_t starve_limit_ = 100000;
  std::function<void(Board &)> on_keys_starved_;
};

// The shell with its disks and programs. Paths are "FS0:\DIR\NAME";
// comparisons ignore letter case.
class Shell {
 public:
  explicit Shell(Board &board);
  Shell(const Shell &) = delete;
  Shell &operator=(const Shell &) = delete;

  // Sets the current folder and creates it (and its parents) on the disk.
  void SetCurDir(std::optional<std::u16string> dir);
  // Sets the current folder as it stands, whether it exists or not.
  void ChangeDir(std::optional<std::u16string> dir) { cur_dir_ = std::move(dir); }
  const std::optional<std::u16string> &CurDir() const { return cur_dir_; }
  void AddDir(std::u16string_view path);
  void PutFile(std::u16string_view path, std::vector<uint8_t> bytes);
  void PutFile(std::u16string_view path, std::string_view bytes);
  bool HasFile(std::u16string_view path) const;
  std::vector<uint8_t> FileBytes(std::u16string_view path) const;
  void RemoveFile(std::u16string_view path);
  std::vector<std::u16string> FileNames() const;  // full paths, as created
  std::u16string Resolve(std::u16string_view name) const;
  // Whether a resolved path is a folder (letter case ignored).
  bool IsDir(std::u16string_view resolved) const;
  std::size_t OpenFiles() const { return open_files_; }

  // Fault injection by resolved path (letter case ignored).
  void InjectOpenFailure(std::u16string_view resolved, PlatStatus status);
  void InjectReadFailure(std::u16string_view resolved, PlatStatus status);
  void InjectWriteFailure(std::u16string_view resolved, PlatStatus status);
  void InjectInfoFailure(std::u16string_view resolved, PlatStatus status);
  void ClearWriteFailures() { fail_write_.clear(); }
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
  void InjectShortReads(std::u16string_view resolved, ShortRead limits);

  // Installs a program file at `path` and makes it runnable by its name.
  void InstallProgram(std::u16string_view path, Program program);
  // The lines as the program handed them over, with their statuses.
  const std::vector<ExecRecord> &Executed() const { return executed_; }
  void ClearExecuted() { executed_.clear(); }
  ShellMode Mode() const { return mode_; }
  void SetMode(ShellMode mode) { mode_ = mode; }
  // The Execute call's own status; anything but success and no line runs.
  void SetExecuteResult(PlatStatus status) { execute_result_ = status; }

  // Called after each operation whose effect outlives a power cut: a file
  // created, written, resized or deleted, a shell command line run. Tests use it
  // to cut the power after a chosen step (the reset and the EC have their own).
  void OnMutation(std::function<void(Board &, std::string_view what)> handler) {
    on_mutation_ = std::move(handler);
  }

  // What a power cut leaves behind: the files and folders of every disk.
  // Restoring one replaces the board's files and folders with it.
  class DiskSnapshot {
   public:
    // (name as created, bytes) of every file, in path order.
    std::vector<std::pair<std::u16string, std::vector<uint8_t>>> Files() const;
    // The bytes of the file at a full path (letter case ignored), or nullptr.
    const std::vector<uint8_t> *Find(std::u16string_view path) const;

   private:
    friend class Shell;
    std::map<std::u16string, std::vector<uint8_t>> files_;  // key: upper-cased path
    std::map<std::u16string, std::u16string> names_;        // same key: name as created
    std::set<std::u16string> dirs_;
  };
  DiskSnapshot SaveDisks() const;
  void RestoreDisks(const DiskSnapshot &snapshot);

  // Hands a line to the shell's Execute as the shell mode has it run.
  PlatStatus ExecuteInShell(std::u16string_view line);

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
  void FileOpened() { ++open_files_; }
  void FileClosed();
  const PlatChar16 *CurDirText();
  // The injected failure of a call on a resolved path, if any.
  std::optional<PlatStatus> OpenFailure(std::u16string_view resolved) const;
  std::optional<PlatStatus> ReadFailure(std::u16string_view resolved) const;
  std::optional<PlatStatus> WriteFailure(std::u16string_view resolved) const;
  std::optional<PlatStatus> InfoFailure(std::u16string_view resolved) const;
  const ShortRead *ShortReads(std::u16string_view resolved) const;
  PlatStatus ExecuteResult() const { return execute_result_; }
  void RecordExecuted(std::u16string_view line, PlatStatus status);
  void Mutated(std::string_view what);
  // Runs one command line as the shell would; returns the command's status.
  PlatStatus RunCommandLine(std::u16string_view line);

 private:
  Board &board_;
  std::optional<std::u16string> cur_dir_{u"FS0:\\"};
  std::u16string cur_dir_storage_;
  std::map<std::u16string, File> files_;  // key: upper-cased resolved path
  std::set<std::u16string> dirs_;         // upper-cased resolved paths
  std::map<std::u16string, Program> programs_;  // key: upper-cased base name
  std::size_t open_files_ = 0;
  std::map<std::u16string, PlatStatus> fail_open_, fail_read_, fail_write_, fail_info_;
  std::map<std::u16string, ShortRead> short_reads_;
  std::vector<ExecRecord> executed_;
  ShellMode mode_ = ShellMode::Nesting;
  PlatStatus execute_result_ = PLAT_SUCCESS;
  std::function<void(Board &, std::string_view what)> on_mutation_;
};

// I/O ports with the devices behind them (the EC), the reset port, the stall
// timer and the real-time clock. Reads nobody claims give 0xFF. A write of 0x0E
// to 0xCF9 is a reset.
class Ports {
 public:
  explicit Ports(Board &board) : board_(board) {}
  Ports(const Ports &) = delete;
  Ports &operator=(const Ports &) = delete;

  void Attach(PortDevice *device) { devices_.push_back(device); }
  void DetachAll() { devices_.clear(); }
  // Every access, in order, while logging is on (it is by default).
  const std::vector<PortAccess> &Log() const { return log_; }
  void ClearLog() { log_.clear(); }
  void SetLogging(bool on) { logging_ = on; }
  int Resets() const { return resets_; }
  void OnReset(std::function<void(Board &)> handler) { on_reset_ = std::move(handler); }
  // Every stall asked for, in microseconds, and their sum.
  const std::vector<uint64_t> &Stalls() const { return stalls_; }
  uint64_t StalledUs() const { return stalled_us_; }
  void ClearStalls() { stalls_.clear(); }
  // The clock GetTime reads; it stands still (stalls do not move it). By
  // default 2026-12-10 14:27:16 local time. A failure makes every read fail.
  void SetClock(PlatTime time) { clock_ = time; }
  void SetClockFailure(std::optional<PlatStatus> status) { clock_failure_ = status; }

  // ---- used by the platform functions ----
  uint8_t Read8(uint16_t port);
  void Write8(uint16_t port, uint8_t value);
  void Stall(uint64_t microseconds);
  PlatStatus ReadClock(PlatTime *time) const;

 private:
  Board &board_;
  std::vector<PortDevice *> devices_;
  std::vector<PortAccess> log_;
  bool logging_ = true;
  int resets_ = 0;
  std::function<void(Board &)> on_reset_;
  uint64_t stalled_us_ = 0;
  std::vector<uint64_t> stalls_;
  PlatTime clock_{2026, 12, 10, 14, 27, 16, 0};
  std::optional<PlatStatus> clock_failure_;
};

// The memory pool, the physical memory a program may map, and the firmware's
// SMBIOS table.
class Memory {
 public:
  Memory();
  ~Memory();
  Memory(const Memory &) = delete;
  Memory &operator=(const Memory &) = delete;

  // Pool requests above this many bytes fail.
  void SetPoolLimit(uint64_t bytes) { pool_limit_ = bytes; }
  // After this many more successful requests, every further one fails.
  void InjectAllocFailuresAfter(uint64_t successes) { allocs_left_ = successes; }
  void ClearAllocFailures() { allocs_left_.reset(); }

  // Leak accounting.
  std::size_t LiveAllocations() const { return allocations_.size(); }
  // The size a live pool allocation was asked for (0 when `p` is not one).
  uint64_t AllocationSize(const void *p) const;
  // Whether `p` points into a live pool allocation; if so, how far into it and
  // the size it was asked for.
  bool FindAllocation(const void *p, uint64_t *offset, uint64_t *size) const;

  // Legacy BIOS area 0xF0000..0xFFFFF (reads 0xFF until written).
  static constexpr uint64_t kLegacyBase = 0xF0000;
  static constexpr uint64_t kLegacySize = 0x10000;
  void PutLegacy(uint64_t address, std::string_view bytes);
  // The physical ranges asked for, (address, length), in order.
  const std::vector<std::pair<uint64_t, uint64_t>> &Requests() const { return requests_; }

  // The SMBIOS structure table the firmware publishes; none by default. It is
  // held in a block of exactly its size, so that AddressSanitizer catches a
  // reader that goes past its end.
  void SetSmbiosTable(std::string_view bytes);
  void RemoveSmbiosTable() { smbios_.reset(); smbios_size_ = 0; }

  // ---- used by the platform functions ----
  void *Allocate(uint64_t size);
  void Free(void *p);
  // Records the request; nullptr unless the range lies in the legacy area.
  const uint8_t *Map(uint64_t address, uint64_t length);
  // nullptr when no table is published.
  const uint8_t *SmbiosTable(uint64_t *length) const;

 private:
  uint64_t pool_limit_ = UINT64_MAX;
  std::optional<uint64_t> allocs_left_;
  std::map<void *, uint64_t> allocations_;
  std::unique_ptr<uint8_t[]> legacy_;
  std::vector<std::pair<uint64_t, uint64_t>> requests_;
  std::unique_ptr<uint8_t[]> smbios_;
  uint64_t smbios_size_ = 0;
};

// Where the ME's HECI protocol is installed, or not.
class MeSlot {
 public:
  MeSlot() = default;
  MeSlot(const MeSlot &) = delete;
  MeSlot &operator=(const MeSlot &) = delete;

  // nullptr: no protocol installed (the default).
  void Install(HeciDevice *device) { device_ = device; }
  // How often a program looked for the protocol.
  int Locates() const { return locates_; }

  // ---- used by the platform functions ----
  HeciDevice *Locate() {
    ++locates_;
    return device_;
  }
  HeciDevice *device() const { return device_; }

 private:
  HeciDevice *device_ = nullptr;
  int locates_ = 0;
};

// ---- The board -----------------------------------------------------------------

class Board {
 public:
  Board();
  ~Board();
  Board(const Board &) = delete;
  Board &operator=(const Board &) = delete;

  static Board &Current();

  Console &console() { return console_; }
  const Console &console() const { return console_; }
  Shell &shell() { return shell_; }
  const Shell &shell() const { return shell_; }
  Ports &ports() { return ports_; }
  const Ports &ports() const { return ports_; }
  Memory &memory() { return memory_; }
  const Memory &memory() const { return memory_; }
  MeSlot &me() { return me_; }
  const MeSlot &me() const { return me_; }

  // The calls most tests make, on the part they belong to.
  void Type(std::string_view chars) { console_.Type(chars); }
  void PressScan(uint16_t scan) { console_.PressScan(scan); }
  void SetCurDir(std::optional<std::u16string> dir) { shell_.SetCurDir(std::move(dir)); }
  void AddDir(std::u16string_view path) { shell_.AddDir(path); }
  void PutFile(std::u16string_view path, std::vector<uint8_t> bytes) { shell_.PutFile(path, std::move(bytes)); }
  void PutFile(std::u16string_view path, std::string_view bytes) { shell_.PutFile(path, bytes); }
  bool HasFile(std::u16string_view path) const { return shell_.HasFile(path); }
  std::vector<uint8_t> FileBytes(std::u16string_view path) const { return shell_.FileBytes(path); }
  void RemoveFile(std::u16string_view path) { shell_.RemoveFile(path); }
  std::vector<std::u16string> FileNames() const { return shell_.FileNames(); }
  std::u16string Resolve(std::u16string_view name) const { return shell_.Resolve(name); }
  bool IsDir(std::u16string_view resolved) const { return shell_.IsDir(resolved); }
  void InstallProgram(std::u16string_view path, Program program) {
    shell_.InstallProgram(path, std::move(program));
  }
  using DiskSnapshot = Shell::DiskSnapshot;
  DiskSnapshot SaveDisks() const { return shell_.SaveDisks(); }
  void RestoreDisks(const DiskSnapshot &snapshot) { shell_.RestoreDisks(snapshot); }
  void PutLegacy(uint64_t address, std::string_view bytes) { memory_.PutLegacy(address, bytes); }
  std::size_t LiveAllocations() const { return memory_.LiveAllocations(); }
  uint64_t AllocationSize(const void *p) const { return memory_.AllocationSize(p); }
  bool FindAllocation(const void *p, uint64_t *offset, uint64_t *size) const {
    return memory_.FindAllocation(p, offset, size);
  }
  std::size_t OpenFiles() const { return shell_.OpenFiles(); }

  // Variables.
  void SetVariable(std::u16string_view name, const PlatGuid &guid, std::vector<uint8_t> data);
  // ---- used by the platform functions ----
  const std::vector<uint8_t> *Variable(std::u16string_view name, const PlatGuid &guid) const;

 private:
  Console console_{*this};
  Shell shell_{*this};
  Ports ports_{*this};
  Memory memory_;
  MeSlot me_;
  std::map<std::pair<std::u16string, std::string>, std::vector<uint8_t>> variables_;

  Board *previous_;
};

std::u16string Upper(std::u16string_view s);

}  // namespace sim

#endif  // TESTS_SIM_SIM_BOARD_H_
