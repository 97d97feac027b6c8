#include "tests/sim/sim_board.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "platform/uefi/shell_nesting.h"

namespace sim {
namespace {

Board *g_board = nullptr;

[[noreturn]] void Die(const char *what) {
  std::fprintf(stderr, "simulated board: %s\n", what);
  std::abort();
}

std::string GuidKey(const PlatGuid &g) {
  char text[64];
  std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.Data1,
                g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

std::u16string Dirname(const std::u16string &path) {
  auto pos = path.rfind(u'\\');
  if (pos == std::u16string::npos) return path;
  std::u16string dir = path.substr(0, pos);
  if (!dir.empty() && dir.back() == u':') dir += u'\\';
  return dir;
}

std::u16string Basename(std::u16string_view path) {
  auto pos = path.find_last_of(u"\\:");
  return std::u16string(pos == std::u16string_view::npos ? path : path.substr(pos + 1));
}

// Splits a command line into words; double quotes group and are removed.
std::vector<std::u16string> SplitWords(std::u16string_view line) {
  std::vector<std::u16string> words;
  std::u16string word;
  bool in_word = false, quoted = false;
  for (char16_t c : line) {
    if (c == u'"') {
      quoted = !quoted;
      in_word = true;
      continue;
    }
    if (c == u' ' && !quoted) {
      if (in_word) words.push_back(word);
      word.clear();
      in_word = false;
      continue;
    }
    word += c;
    in_word = true;
  }
  if (in_word) words.push_back(word);
  return words;
}

}  // namespace

std::u16string U16(std::string_view ascii) {
  std::u16string s;
  for (char c : ascii) s += static_cast<char16_t>(static_cast<unsigned char>(c));
  return s;
}

std::string Narrow(std::u16string_view text) {
  std::string s;
  for (char16_t c : text) s += c < 0x80 ? static_cast<char>(c) : '?';
  return s;
}

std::u16string Upper(std::u16string_view s) {
  std::u16string u(s);
  for (auto &c : u)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 0x20);
  return u;
}

// ---- Screen ---------------------------------------------------------------------

uint32_t Screen::Top() const {
  uint32_t count = static_cast<uint32_t>(lines_.size());
  return count > top_ + kRows ? count - kRows : top_;
}

void Screen::Clear() {
  ++clears_;
  // An empty line the cursor stands on at its start becomes the new top row.
  if (column_ != 0 || line_ + 1 != lines_.size() || !lines_[line_].empty()) {
    line_ = static_cast<uint32_t>(lines_.size());
    lines_.resize(line_ + 1);
  }
  column_ = 0;
  top_ = line_;
}

void Screen::Put(char16_t c) {
  if (c == u'\r') {
    column_ = 0;
    return;
  }
  if (c == u'\n') {
    ++line_;
    if (line_ >= lines_.size()) lines_.resize(line_ + 1);
    return;
  }
  if (column_ >= kColumns) {  // the console wraps at the right edge
    column_ = 0;
    ++line_;
    if (line_ >= lines_.size()) lines_.resize(line_ + 1);
  }
  std::u16string &l = lines_[line_];
  if (l.size() <= column_) l.resize(column_ + 1, u' ');
  l[column_++] = c;
}

void Screen::Write(std::u16string_view text) {
  raw_ += text;
  for (char16_t c : text) Put(c);
}

void Screen::WriteAt(uint32_t column, uint32_t row, std::u16string_view text) {
  positioned_.push_back({column, row, std::u16string(text)});
  if (column >= kColumns || row >= kRows) return;  // SetCursorPosition refuses it
  line_ = Top() + row;
  if (line_ >= lines_.size()) lines_.resize(line_ + 1);
  column_ = column;
  raw_ += text;
  for (char16_t c : text) Put(c);
}

void Screen::Cursor(uint32_t *column, uint32_t *row) const {
  *column = column_;
  *row = line_ - Top();
}

std::vector<std::string> Screen::Lines() const {
  std::vector<std::string> out;
  for (const auto &l : lines_) {
    std::string s = Narrow(l);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    out.push_back(s);
  }
  while (!out.empty() && out.back().empty()) out.pop_back();
  return out;
}

std::vector<std::string> Screen::Visible() const {
  std::vector<std::string> out;
  const uint32_t top = Top();
  for (uint32_t i = top; i < lines_.size() && i < top + kRows; ++i) {
    std::string s = Narrow(lines_[i]);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    out.push_back(s);
  }
  while (!out.empty() && out.back().empty()) out.pop_back();
  return out;
}

std::string Screen::Text() const {
  std::string text;
  for (const auto &l : Lines()) text += l + "\n";
  return text;
}

// ---- Board ----------------------------------------------------------------------

Board::Board() : previous_(g_board) { g_board = this; }

Board::~Board() { g_board = previous_; }

Board &Board::Current() {
  if (g_board == nullptr) Die("no board: create a sim::Board in the test first");
  return *g_board;
}

// ---- Console --------------------------------------------------------------------

void Console::Type(std::string_view chars) {
  for (char c : chars) keys_.push_back({0, static_cast<char16_t>(c)});
}

void Console::PressScan(uint16_t scan) { keys_.push_back({scan, 0}); }

bool Console::ReadKey(Key *key) {
  ++key_polls_;
  if (keys_.empty()) {
    if (++empty_polls_ >= starve_limit_) {
      empty_polls_ = 0;
      if (on_keys_starved_) {
        on_keys_starved_(board_);
      } else {
        Die("a prompt waits for a key the test never typed");
      }
    }
    if (keys_.empty()) return false;
  }
  empty_polls_ = 0;
  *key = keys_.front();
  keys_.pop_front();
  return true;
}

TextOut *Console::Redirect(TextOut *out) {
  TextOut *previous = out_;
  out_ = out;
  return previous;
}

// ---- Shell ----------------------------------------------------------------------

Shell::Shell(Board &board) : board_(board) { dirs_.insert(u"FS0:\\"); }

void Shell::SetCurDir(std::optional<std::u16string> dir) {
  cur_dir_ = std::move(dir);
  if (cur_dir_) AddDir(*cur_dir_);
}

std::u16string Shell::Resolve(std::u16string_view name) const {
  std::u16string path;
  auto colon = name.find(u':');
  std::u16string base = cur_dir_ ? *cur_dir_ : u"FS0:\\";
  std::u16string mapping = base.substr(0, base.find(u':') + 1);
  if (colon != std::u16string_view::npos) {
    path = std::u16string(name);
    if (path.size() == colon + 1 || path[colon + 1] != u'\\') path.insert(colon + 1, u"\\");
  } else if (!name.empty() && name[0] == u'\\') {
    path = mapping + std::u16string(name);
  } else {
    path = base;
    if (path.empty() || path.back() != u'\\') path += u'\\';
    path += name;
  }
  // Collapse doubled separators and drop a trailing one (but keep "FS0:\").
  std::u16string clean;
  for (char16_t c : path) {
    if (c == u'\\' && !clean.empty() && clean.back() == u'\\') continue;
    clean += c;
  }
  if (clean.size() > 1 && clean.back() == u'\\' && clean[clean.size() - 2] != u':') clean.pop_back();
  return clean;
}

void Shell::AddDir(std::u16string_view path) {
  std::u16string p = Upper(Resolve(path));
  while (true) {
    dirs_.insert(p);
    std::u16string parent = Dirname(p);
    if (parent == p) break;
    p = parent;
  }
}

void Shell::PutFile(std::u16string_view path, std::vector<uint8_t> bytes) {
  std::u16string resolved = Resolve(path);
  AddDir(Dirname(resolved));
  files_[Upper(resolved)] = File{resolved, std::move(bytes)};
}

void Shell::PutFile(std::u16string_view path, std::string_view bytes) {
  PutFile(path, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

bool Shell::HasFile(std::u16string_view path) const {
  return files_.count(Upper(Resolve(path))) != 0;
}

std::vector<uint8_t> Shell::FileBytes(std::u16string_view path) const {
  auto it = files_.find(Upper(Resolve(path)));
  return it == files_.end() ? std::vector<uint8_t>{} : it->second.bytes;
}

void Shell::RemoveFile(std::u16string_view path) { files_.erase(Upper(Resolve(path))); }

std::vector<std::u16string> Shell::FileNames() const {
  std::vector<std::u16string> names;
  for (const auto &[key, f] : files_) names.push_back(f.name);
  return names;
}

Shell::File *Shell::FindFile(std::u16string_view resolved) {
  auto it = files_.find(Upper(resolved));
  return it == files_.end() ? nullptr : &it->second;
}

bool Shell::IsDir(std::u16string_view resolved) const { return dirs_.count(Upper(resolved)) != 0; }

Shell::File *Shell::CreateFile(std::u16string_view resolved) {
  return &(files_[Upper(resolved)] = File{std::u16string(resolved), {}});
}

bool Shell::DeleteFile(std::u16string_view resolved) { return files_.erase(Upper(resolved)) != 0; }

void Shell::FileClosed() {
  if (open_files_ == 0) Die("close of a file that is not open");
  --open_files_;
}

const PlatChar16 *Shell::CurDirText() {
  if (!cur_dir_) return nullptr;
  cur_dir_storage_ = *cur_dir_;
  return cur_dir_storage_.c_str();
}

namespace {

std::optional<PlatStatus> Lookup(const std::map<std::u16string, PlatStatus> &failures,
                                 std::u16string_view resolved) {
  auto it = failures.find(Upper(resolved));
  if (it == failures.end()) return std::nullopt;
  return it->second;
}

}  // namespace

void Shell::InjectOpenFailure(std::u16string_view resolved, PlatStatus status) {
  fail_open_[Upper(resolved)] = status;
}

void Shell::InjectReadFailure(std::u16string_view resolved, PlatStatus status) {
  fail_read_[Upper(resolved)] = status;
}

void Shell::InjectWriteFailure(std::u16string_view resolved, PlatStatus status) {
  fail_write_[Upper(resolved)] = status;
}

void Shell::InjectInfoFailure(std::u16string_view resolved, PlatStatus status) {
  fail_info_[Upper(resolved)] = status;
}

void Shell::InjectShortReads(std::u16string_view resolved, ShortRead limits) {
  short_reads_[Upper(resolved)] = limits;
}

std::optional<PlatStatus> Shell::OpenFailure(std::u16string_view resolved) const {
  return Lookup(fail_open_, resolved);
}

std::optional<PlatStatus> Shell::ReadFailure(std::u16string_view resolved) const {
  return Lookup(fail_read_, resolved);
}

std::optional<PlatStatus> Shell::WriteFailure(std::u16string_view resolved) const {
  return Lookup(fail_write_, resolved);
}

std::optional<PlatStatus> Shell::InfoFailure(std::u16string_view resolved) const {
  return Lookup(fail_info_, resolved);
}

const Shell::ShortRead *Shell::ShortReads(std::u16string_view resolved) const {
  auto it = short_reads_.find(Upper(resolved));
  return it == short_reads_.end() ? nullptr : &it->second;
}

void Shell::RecordExecuted(std::u16string_view line, PlatStatus status) {
  executed_.push_back({std::u16string(line), status});
}

void Shell::Mutated(std::string_view what) {
  if (on_mutation_) on_mutation_(board_, what);
}

const std::vector<uint8_t> *Board::Variable(std::u16string_view name, const PlatGuid &guid) const {
  auto it = variables_.find({std::u16string(name), GuidKey(guid)});
  return it == variables_.end() ? nullptr : &it->second;
}

// ---- Memory ---------------------------------------------------------------------

Memory::Memory() : legacy_(new uint8_t[kLegacySize]) { std::memset(legacy_.get(), 0xFF, kLegacySize); }

Memory::~Memory() {
  for (auto &[p, size] : allocations_) std::free(p);
}

uint64_t Memory::AllocationSize(const void *p) const {
  auto it = allocations_.find(const_cast<void *>(p));
  return it == allocations_.end() ? 0 : it->second;
}

bool Memory::FindAllocation(const void *p, uint64_t *offset, uint64_t *size) const {
  auto it = allocations_.upper_bound(const_cast<void *>(p));
  if (it == allocations_.begin()) return false;
  --it;
  const auto *start = static_cast<const uint8_t *>(it->first);
  const auto *at = static_cast<const uint8_t *>(p);
  if (at >= start + it->second) return false;
  *offset = static_cast<uint64_t>(at - start);
  *size = it->second;
  return true;
}

Shell::DiskSnapshot Shell::SaveDisks() const {
  DiskSnapshot snapshot;
  for (const auto &[key, file] : files_) {
    snapshot.files_[key] = file.bytes;
    snapshot.names_[key] = file.name;
  }
  snapshot.dirs_ = dirs_;
  return snapshot;
}

void Shell::RestoreDisks(const DiskSnapshot &snapshot) {
  files_.clear();
  for (const auto &[key, bytes] : snapshot.files_) files_[key] = File{snapshot.names_.at(key), bytes};
  dirs_ = snapshot.dirs_;
}

std::vector<std::pair<std::u16string, std::vector<uint8_t>>> Shell::DiskSnapshot::Files() const {
  std::vector<std::pair<std::u16string, std::vector<uint8_t>>> files;
  for (const auto &[key, bytes] : files_) files.emplace_back(names_.at(key), bytes);
  return files;
}

const std::vector<uint8_t> *Shell::DiskSnapshot::Find(std::u16string_view path) const {
  auto it = files_.find(Upper(path));
  return it == files_.end() ? nullptr : &it->second;
}

void Shell::InstallProgram(std::u16string_view path, Program program) {
  PutFile(path, std::string_view("MZ"));
  programs_[Upper(Basename(path))] = std::move(program);
}

void Board::SetVariable(std::u16string_view name, const PlatGuid &guid, std::vector<uint8_t> data) {
  variables_[{std::u16string(name), GuidKey(guid)}] = std::move(data);
}

void Memory::PutLegacy(uint64_t address, std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    uint64_t a = address + i;
    if (a < kLegacyBase || a >= kLegacyBase + kLegacySize) Die("PutLegacy outside the legacy area");
    legacy_[a - kLegacyBase] = static_cast<uint8_t>(bytes[i]);
  }
}

void *Memory::Allocate(uint64_t size) {
  if (size > pool_limit_) return nullptr;
  if (allocs_left_) {
    if (*allocs_left_ == 0) return nullptr;
    --*allocs_left_;
  }
  void *p = std::calloc(1, size == 0 ? 1 : size);
  if (p == nullptr) return nullptr;
  allocations_[p] = size;
  return p;
}

void Memory::Free(void *p) {
  auto it = allocations_.find(p);
  if (it == allocations_.end()) Die("FreePool of a buffer the pool never gave out");
  allocations_.erase(it);
  std::free(p);
}

namespace {

std::u16string NotRecognized(std::u16string_view name) {
  return u"'" + std::u16string(name) +
         u"' is not recognized as an internal or external command, operable program, or script "
         u"file.\r\n";
}

}  // namespace

// The shell: built-in cp, rm and echo, installed programs, and ">>" redirection
// into a UCS-2 file with a byte-order mark, as the UEFI Shell writes it.
PlatStatus Shell::RunCommandLine(std::u16string_view line) {
  std::u16string command(line);
  std::optional<std::u16string> target;
  auto redirect = command.find(u">>");
  if (redirect != std::u16string::npos) {
    std::u16string rest = command.substr(redirect + 2);
    command.resize(redirect);
    auto words = SplitWords(rest);
    if (words.size() != 1) return PLAT_INVALID_PARAMETER;
    target = words[0];
  }
  auto args = SplitWords(command);
  if (args.empty()) return PLAT_SUCCESS;

  std::u16string out;
  PlatStatus status = PLAT_SUCCESS;
  std::u16string verb = Upper(args[0]);
  if (verb == u"ECHO") {
    for (std::size_t i = 1; i < args.size(); ++i) out += (i > 1 ? u" " : u"") + args[i];
    out += u"\r\n";
  } else if (verb == u"CP") {
    std::vector<std::u16string> names;
    for (std::size_t i = 1; i < args.size(); ++i)
      if (args[i] != u"-q") names.push_back(args[i]);
    File *src = names.size() == 2 ? FindFile(Resolve(names[0])) : nullptr;
    if (src == nullptr) {
      status = PLAT_NOT_FOUND;
    } else {
      std::u16string dst = Resolve(names[1]);
      if (IsDir(dst)) dst = Resolve(dst + u"\\" + Basename(src->name));
      if (auto failure = WriteFailure(dst)) {
        status = *failure;
      } else if (Upper(dst) != Upper(Resolve(names[0]))) {
        std::vector<uint8_t> bytes = src->bytes;
        PutFile(dst, std::move(bytes));
      }
    }
  } else if (verb == u"RM") {
    if (args.size() != 2) {
      status = PLAT_INVALID_PARAMETER;
    } else {
      std::u16string path = Resolve(args[1]);
      if (auto failure = WriteFailure(path)) status = *failure;
      else if (!FindFile(path)) status = PLAT_NOT_FOUND;
      else files_.erase(Upper(path));
    }
  } else {
    std::u16string name = Upper(Basename(args[0]));
    if (name.find(u'.') == std::u16string::npos) name += u".EFI";
    auto program = programs_.find(name);
    bool present = FindFile(Resolve(args[0])) != nullptr ||
                   FindFile(Resolve(args[0] + u".efi")) != nullptr;
    if (program == programs_.end() || !present) {
      // The shell's own complaint reaches the screen past any redirection. A
      // nested shell ends with an error status; a line run in place reports
      // success, so only a test beforehand can tell.
      board_.console().out().OutputString(NotRecognized(args[0]));
      status = mode_ == ShellMode::Nesting ? PLAT_NOT_FOUND : PLAT_SUCCESS;
    } else {
      // An application's status reaches the caller cut to its low 32 bits.
      status = program->second(board_, args, out) & 0xFFFFFFFFu;
    }
  }

  if (target) {
    std::u16string path = Resolve(*target);
    File *file = FindFile(path);
    std::vector<uint8_t> bytes;
    if (file == nullptr) {
      bytes = {0xFF, 0xFE};
    } else {
      bytes = file->bytes;
    }
    for (char16_t c : out) {
      bytes.push_back(static_cast<uint8_t>(c & 0xFF));
      bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    PutFile(path, std::move(bytes));
  } else {
    board_.console().out().OutputString(out);
  }
  return status;
}

PlatStatus Shell::ExecuteInShell(std::u16string_view line) {
  std::size_t start = line.find_first_not_of(u' ');
  if (start == std::u16string_view::npos) start = line.size();
  if (mode_ != ShellMode::Nesting) {
    // In place: an option is no command. The shell says so and reports
    // success without a command status.
    if (start < line.size() && line[start] == u'-') {
      std::size_t end = line.find(u' ', start);
      if (end == std::u16string_view::npos) end = line.size();
      board_.console().out().OutputString(NotRecognized(line.substr(start, end - start)));
      return PLAT_SUCCESS;
    }
    return RunCommandLine(line.substr(start));
  }

  // The nested shell clears the screen before it reads its options.
  board_.console().out().ClearScreen();
  bool nomap = false, noversion = false;
  while (start < line.size() && line[start] == u'-') {
    std::size_t end = line.find(u' ', start);
    if (end == std::u16string_view::npos) end = line.size();
    const std::u16string option = Upper(line.substr(start, end - start));
    if (option == u"-NOMAP") nomap = true;
    else if (option == u"-NOVERSION") noversion = true;
    else break;
    start = line.find_first_not_of(u' ', end);
    if (start == std::u16string_view::npos) start = line.size();
  }
  if (!noversion)
    board_.console().out().OutputString(u"UEFI Interactive Shell v2.2\r\nEDK II\r\nUEFI v2.70 (EDK II, 0x00010000)\r\n");
  if (!nomap) board_.console().out().OutputString(u"Mapping table\r\n      FS0: Alias(s):HD0a1:;BLK1:\r\n");
  return RunCommandLine(line.substr(start));
}

void Memory::SetSmbiosTable(std::string_view bytes) {
  // new[0] still gives a block of its own, which an empty table's reader must not touch.
  smbios_.reset(new uint8_t[bytes.size()]);
  std::memcpy(smbios_.get(), bytes.data(), bytes.size());
  smbios_size_ = bytes.size();
}

const uint8_t *Memory::SmbiosTable(uint64_t *length) const {
  *length = smbios_size_;
  return smbios_.get();
}

const uint8_t *Memory::Map(uint64_t address, uint64_t length) {
  requests_.push_back({address, length});
  if (address < kLegacyBase || length > kLegacySize || address - kLegacyBase > kLegacySize - length) {
    return nullptr;
  }
  return legacy_.get() + (address - kLegacyBase);
}

// ---- Ports ----------------------------------------------------------------------

PlatStatus Ports::ReadClock(PlatTime *time) const {
  if (clock_failure_) return *clock_failure_;
  *time = clock_;
  return PLAT_SUCCESS;
}

uint8_t Ports::Read8(uint16_t port) {
  uint8_t value = 0xFF;
  for (PortDevice *d : devices_) {
    if (d->Claims(port)) {
      value = d->Read(port);
      break;
    }
  }
  if (logging_) log_.push_back({false, port, value});
  return value;
}

void Ports::Write8(uint16_t port, uint8_t value) {
  if (logging_) log_.push_back({true, port, value});
  if (port == 0xCF9 && value == 0x0E) {
    ++resets_;
    if (on_reset_) on_reset_(board_);
    return;
  }
  for (PortDevice *d : devices_) {
    if (d->Claims(port)) {
      d->Write(port, value);
      return;
    }
  }
}

void Ports::Stall(uint64_t microseconds) {
  stalled_us_ += microseconds;
  stalls_.push_back(microseconds);
}

struct Shell::Handle {
  std::u16string path;
  uint64_t position = 0;
  uint64_t mode = 0;
  bool directory = false;
};

}  // namespace sim

// ---- The platform interface over the current board ----------------------------------

using sim::Board;

struct PlatFileHandle : sim::Shell::Handle {};
struct PlatHeciProtocol {};

namespace {
PlatHeciProtocol g_heci_token;

// The firmware layer's filter (platform/uefi/ScreenKeeper.c) on this board:
// in front of the console output for one Execute, passing everything on but the clear.
class ScreenKeeper final : public sim::TextOut {
 public:
  explicit ScreenKeeper(sim::Console &console) : console_(console), out_(console.Redirect(this)) {}
  ~ScreenKeeper() override { console_.Redirect(out_); }
  ScreenKeeper(const ScreenKeeper &) = delete;
  ScreenKeeper &operator=(const ScreenKeeper &) = delete;

  void OutputString(std::u16string_view text) override { out_->OutputString(text); }
  void ClearScreen() override { console_.KeepClear(); }

 private:
  sim::Console &console_;
  sim::TextOut *out_;
};

sim::HeciDevice &LocatedHeci(const PlatHeci *Heci) {
  sim::HeciDevice *device = Board::Current().me().device();
  if (Heci != &g_heci_token || device == nullptr) sim::Die("HECI call without a located protocol");
  return *device;
}
}  // namespace

extern "C" {

void PlatConsoleWrite(const PlatChar16 *Text) { Board::Current().console().out().OutputString(Text); }

void PlatConsoleGetCursor(uint32_t *Column, uint32_t *Row) {
  Board::Current().console().screen().Cursor(Column, Row);
}

void PlatConsoleWriteAt(uint32_t Column, uint32_t Row, const PlatChar16 *Text) {
  Board::Current().console().screen().WriteAt(Column, Row, Text);
}

int PlatConsoleReadKey(uint16_t *ScanCode, PlatChar16 *UnicodeChar) {
  sim::Key k;
  if (!Board::Current().console().ReadKey(&k)) return 0;
  *ScanCode = k.scan;
  *UnicodeChar = k.ch;
  return 1;
}

void *PlatAllocateZeroPool(uint64_t Size) { return Board::Current().memory().Allocate(Size); }

void PlatFreePool(void *Buffer) { Board::Current().memory().Free(Buffer); }

PlatStatus PlatFileOpenByName(const PlatChar16 *Name, uint64_t Mode, PlatFile *File) {
  sim::Shell &s = Board::Current().shell();
  if (Name == nullptr || File == nullptr) return PLAT_INVALID_PARAMETER;
  std::u16string path = s.Resolve(Name);
  if (auto failure = s.OpenFailure(path)) return *failure;
  bool directory = s.IsDir(path);
  bool created = false;
  if (!directory && s.FindFile(path) == nullptr) {
    if ((Mode & PLAT_FILE_MODE_CREATE) == 0) return PLAT_NOT_FOUND;
    std::u16string parent = path.substr(0, path.rfind(u'\\'));
    if (!parent.empty() && parent.back() == u':') parent += u'\\';
    if (!s.IsDir(parent)) return PLAT_NOT_FOUND;
    s.CreateFile(path);
    created = true;
  }
  auto *h = new PlatFileHandle;
  h->path = path;
  h->mode = Mode;
  h->directory = directory;
  s.FileOpened();
  *File = h;
  if (created) s.Mutated("create");
  return PLAT_SUCCESS;
}

PlatStatus PlatFileGetInfo(PlatFile File, PlatFileInfo *Info) {
  sim::Shell &s = Board::Current().shell();
  if (File == nullptr || Info == nullptr) return PLAT_INVALID_PARAMETER;
  if (auto failure = s.InfoFailure(File->path)) return *failure;
  Info->IsDirectory = File->directory ? 1 : 0;
  sim::Shell::File *file = s.FindFile(File->path);
  Info->FileSize = file != nullptr ? file->bytes.size() : 0;
  return PLAT_SUCCESS;
}

PlatStatus PlatFileRead(PlatFile File, uint64_t *Size, void *Buffer) {
  sim::Shell &s = Board::Current().shell();
  if (File == nullptr || Size == nullptr) return PLAT_INVALID_PARAMETER;
  if (auto failure = s.ReadFailure(File->path)) return *failure;
  if (File->directory) return PLAT_DEVICE_ERROR;
  sim::Shell::File *file = s.FindFile(File->path);
  if (file == nullptr) return PLAT_DEVICE_ERROR;
  uint64_t end = file->bytes.size();
  uint64_t most = *Size;
  const sim::Shell::ShortRead *short_read = s.ShortReads(File->path);
  if (short_read != nullptr) {
    end = std::min(end, short_read->readable);
    most = std::min(most, short_read->per_read);
  }
  uint64_t available = end > File->position ? end - File->position : 0;
  uint64_t n = std::min(most, available);
  if (n != 0) {
    if (Buffer == nullptr) return PLAT_INVALID_PARAMETER;
    std::memcpy(Buffer, file->bytes.data() + File->position, n);
  }
  if (short_read != nullptr && Buffer != nullptr && *Size > n)
    std::memset(static_cast<uint8_t *>(Buffer) + n, sim::Shell::kScribble, *Size - n);
  File->position += n;
  *Size = n;
  return PLAT_SUCCESS;
}

PlatStatus PlatFileWrite(PlatFile File, uint64_t *Size, const void *Buffer) {
  sim::Shell &s = Board::Current().shell();
  if (File == nullptr || Size == nullptr) return PLAT_INVALID_PARAMETER;
  if (auto failure = s.WriteFailure(File->path)) return *failure;
  if ((File->mode & PLAT_FILE_MODE_WRITE) == 0 || File->directory) return PLAT_ACCESS_DENIED;
  sim::Shell::File *file = s.FindFile(File->path);
  if (file == nullptr) return PLAT_DEVICE_ERROR;
  if (file->bytes.size() < File->position + *Size) file->bytes.resize(File->position + *Size);
  if (*Size != 0) std::memcpy(file->bytes.data() + File->position, Buffer, *Size);
  File->position += *Size;
  s.Mutated("write");
  return PLAT_SUCCESS;
}

PlatStatus PlatFileSetPosition(PlatFile File, uint64_t Position) {
  if (File == nullptr) return PLAT_INVALID_PARAMETER;
  // The file protocol moves a directory's position only back to its start.
  if (File->directory && Position != 0) return PLAT_UNSUPPORTED;
  File->position = Position;
  return PLAT_SUCCESS;
}

PlatStatus PlatFileSetSize(PlatFile File, uint64_t Size) {
  sim::Shell &s = Board::Current().shell();
  if (File == nullptr) return PLAT_INVALID_PARAMETER;
  if ((File->mode & PLAT_FILE_MODE_WRITE) == 0) return PLAT_ACCESS_DENIED;
  sim::Shell::File *file = s.FindFile(File->path);
  if (file == nullptr) return PLAT_DEVICE_ERROR;
  file->bytes.resize(Size);
  s.Mutated("set size");
  return PLAT_SUCCESS;
}

PlatStatus PlatFileClose(PlatFile File) {
  sim::Shell &s = Board::Current().shell();
  if (File == nullptr) return PLAT_INVALID_PARAMETER;
  s.FileClosed();
  delete File;
  return PLAT_SUCCESS;
}

PlatStatus PlatFileDeleteByName(const PlatChar16 *Name) {
  sim::Shell &s = Board::Current().shell();
  std::u16string path = s.Resolve(Name);
  if (auto failure = s.WriteFailure(path)) return *failure;
  if (!s.DeleteFile(path)) return PLAT_NOT_FOUND;
  s.Mutated("delete");
  return PLAT_SUCCESS;
}

int PlatIsFile(const PlatChar16 *Name) {
  sim::Shell &s = Board::Current().shell();
  std::u16string path = s.Resolve(Name);
  if (s.OpenFailure(path)) return 0;
  return s.FindFile(path) != nullptr && !s.IsDir(path);
}

const PlatChar16 *PlatGetCurDir(void) { return Board::Current().shell().CurDirText(); }

int PlatIsOlderShell(void) { return Board::Current().shell().Mode() == sim::ShellMode::OlderShell; }

PlatStatus PlatExecute(const PlatChar16 *CommandLine, PlatStatus *CommandStatus) {
  Board &b = Board::Current();
  sim::Shell &s = b.shell();
  if (s.ExecuteResult() != PLAT_SUCCESS) {
    s.RecordExecuted(CommandLine, s.ExecuteResult());
    return s.ExecuteResult();
  }
  // The same decision as the firmware's platform layer, from what this shell
  // shows a program: the protocol, and its `nonesting` variable.
  const bool protocol = s.Mode() != sim::ShellMode::OlderShell;
  const char16_t *nonesting = s.Mode() == sim::ShellMode::NonNesting ? u"True" : u"False";
  std::u16string line = CommandLine;
  const bool nests = PlatExecuteNeedsQuietPrefix(protocol ? 1 : 0, protocol ? nonesting : nullptr) != 0;
  if (nests) line.insert(0, u"-nomap -noversion ");
  std::optional<ScreenKeeper> keeper;
  if (nests) keeper.emplace(b.console());
  const PlatStatus status = s.ExecuteInShell(line);
  keeper.reset();
  s.RecordExecuted(CommandLine, status);
  if (CommandStatus != nullptr) *CommandStatus = status;
  s.Mutated("execute");
  return PLAT_SUCCESS;
}

PlatStatus PlatGetVariable(const PlatChar16 *Name, const PlatGuid *Vendor, uint64_t *DataSize,
                           void *Data) {
  Board &b = Board::Current();
  if (Name == nullptr || Vendor == nullptr || DataSize == nullptr) return PLAT_INVALID_PARAMETER;
  const std::vector<uint8_t> *value = b.Variable(Name, *Vendor);
  if (value == nullptr) return PLAT_NOT_FOUND;
  uint64_t size = value->size();
  if (*DataSize < size) {
    *DataSize = size;
    return PLAT_BUFFER_TOO_SMALL;
  }
  if (size != 0) std::memcpy(Data, value->data(), size);
  *DataSize = size;
  return PLAT_SUCCESS;
}

void PlatStall(uint64_t Microseconds) { Board::Current().ports().Stall(Microseconds); }

PlatStatus PlatGetTime(PlatTime *Time) {
  if (Time == nullptr) return PLAT_INVALID_PARAMETER;
  return Board::Current().ports().ReadClock(Time);
}

PlatStatus PlatGetSmbiosTable(const uint8_t **Table, uint64_t *Length) {
  if (Table == nullptr || Length == nullptr) return PLAT_INVALID_PARAMETER;
  *Table = Board::Current().memory().SmbiosTable(Length);
  if (*Table == nullptr) {
    *Length = 0;
    return PLAT_NOT_FOUND;
  }
  return PLAT_SUCCESS;
}

uint8_t PlatIoRead8(uint16_t Port) { return Board::Current().ports().Read8(Port); }

void PlatIoWrite8(uint16_t Port, uint8_t Value) { Board::Current().ports().Write8(Port, Value); }

const volatile uint8_t *PlatPhysicalMemory(uint64_t Address, uint64_t Length) {
  return Board::Current().memory().Map(Address, Length);
}

PlatStatus PlatLocateHeci(PlatHeci **Heci) {
  sim::HeciDevice *device = Board::Current().me().Locate();
  if (Heci == nullptr) return PLAT_INVALID_PARAMETER;
  if (device == nullptr) return PLAT_NOT_FOUND;
  *Heci = &g_heci_token;
  return PLAT_SUCCESS;
}

PlatStatus PlatHeciReadMsg(PlatHeci *Heci, uint32_t Device, uint32_t Blocking, uint32_t *Buffer,
                           uint32_t *Length) {
  return LocatedHeci(Heci).ReadMsg(Device, Blocking, Buffer, Length);
}

PlatStatus PlatHeciSendMsg(PlatHeci *Heci, uint32_t Device, const uint32_t *Message, uint32_t Length,
                           uint8_t HostAddress, uint8_t MeAddress) {
  return LocatedHeci(Heci).SendMsg(Device, Message, Length, HostAddress, MeAddress);
}

PlatStatus PlatHeciReset(PlatHeci *Heci, uint32_t Device) { return LocatedHeci(Heci).Reset(Device); }

}  // extern "C"
