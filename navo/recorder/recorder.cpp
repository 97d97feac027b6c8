#include "navo/recorder/recorder.h"

#include <cstddef>
#include <string_view>

#include "chksum/chksum.h"
#include "navo/file_loader.h"
#include "navo/fw_version/board_version.h"
#include "navo/fw_version/image_version.h"
#include "navo/fw_version/update_decision.h"
#include "navo/history/history_file.h"
#include "navo/history/record.h"
#include "navo/history/smbios.h"
#include "navo/types.h"
#include "platform/print.h"

namespace {

using history::Event;
// Literals as views of known length: the firmware build has no strlen.
using namespace std::string_view_literals;

constexpr uint64_t kAppended = 0;
constexpr uint64_t kNotAppended = 1;

constexpr char16_t kHistoryName[] = u"\\HISTORY.TXT";
// A mapping's name; real ones are a few characters ("FS0").
constexpr std::size_t kMaxMappingChars = 64;
// The name, its colon, "\HISTORY.TXT" and the NUL.
constexpr std::size_t kHistoryPathChars = kMaxMappingChars + 1 + sizeof kHistoryName / sizeof(char16_t);

// One field's text, cut at N bytes (Full() tells).
template <std::size_t N>
class Text {
 public:
  void Put(char c) {
    if (length_ < N) data_[length_++] = c;
    else full_ = true;
  }
  void Add(std::string_view s) {
    for (char c : s) Put(c);
  }
  void Decimal(uint64_t value, int width = 1) {
    char digits[20];
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    for (int pad = n; pad < width; ++pad) Put('0');
    while (n > 0) Put(digits[--n]);
  }
  // Upper-case, as CHKSUM's report prints its figures.
  void Hex(uint64_t value, int width) {
    char digits[16];
    int n = 0;
    do {
      digits[n++] = "0123456789ABCDEF"[value & 0xF];
      value >>= 4;
    } while (value != 0);
    for (int pad = n; pad < width; ++pad) Put('0');
    while (n > 0) Put(digits[--n]);
  }
  std::string_view View() const { return std::string_view(data_, length_); }
  bool Full() const { return full_; }

 private:
  char data_[N] = {};
  std::size_t length_ = 0;
  bool full_ = false;
};

bool SameWord(const char16_t *word, std::u16string_view name) {
  std::size_t i = 0;
  for (; i < name.size(); ++i) {
    char16_t c = word[i];
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - (u'a' - u'A'));
    if (c != name[i]) return false;
  }
  return word[i] == u'\0';
}

int DigitValue(char16_t c, unsigned base) {
  int value = -1;
  if (c >= u'0' && c <= u'9') value = c - u'0';
  else if (c >= u'a' && c <= u'f') value = c - u'a' + 10;
  else if (c >= u'A' && c <= u'F') value = c - u'A' + 10;
  return value < static_cast<int>(base) ? value : -1;
}

bool ParseNumber(const char16_t *digits, unsigned base, uint64_t *value) {
  if (*digits == u'\0') return false;
  uint64_t v = 0;
  for (; *digits != u'\0'; ++digits) {
    const int d = DigitValue(*digits, base);
    if (d < 0 || v > (UINT64_MAX - static_cast<uint64_t>(d)) / base) return false;
    v = v * base + static_cast<uint64_t>(d);
  }
  *value = v;
  return true;
}

// STATUS is what the shell's %lasterror% printed, passed on by the script:
// the UEFI Shell prints "0x" and lower-case hexadecimal, the older EFI shell
// bare hexadecimal ("45" is 69). So "0x"/"0X" and hexadecimal digits are read
// in hexadecimal in every shell, bare digits in hexadecimal under the older
// shell and in decimal under the UEFI Shell (where only a person or a script
// that writes a number out types them). Nothing else is a status, nor a value
// past 64 bits. The record keeps it in decimal.
bool ParseStatusWord(const char16_t *word, bool older_shell, uint64_t *status) {
  if (word[0] == u'0' && (word[1] == u'x' || word[1] == u'X')) return ParseNumber(word + 2, 16, status);
  return ParseNumber(word, older_shell ? 16 : 10, status);
}

struct Command {
  Event event = Event::Before;
  FwKind kind = FwKind::Me;
  const char16_t *image = nullptr;
  uint64_t status = 0;
  BoardReadMethod method = BoardReadMethod::Auto;
};

// The words in their places: event, kind, the image (not for a flash), the
// status, and at most the read method after them.
bool ParseCommandLine(uint64_t argc, char16_t **argv, Command *command) {
  if (argv == nullptr) return false;
  for (uint64_t i = 0; i < argc; ++i)
    if (argv[i] == nullptr) return false;
  uint64_t at = 1;
  auto next = [&]() -> const char16_t * { return at < argc ? argv[at++] : nullptr; };

  const char16_t *word = next();
  if (word == nullptr) return false;
  if (SameWord(word, u"-BEFORE")) command->event = Event::Before;
  else if (SameWord(word, u"-AFTER")) command->event = Event::After;
  else if (SameWord(word, u"-FLASH")) command->event = Event::Flash;
  else return false;

  word = next();
  if (word == nullptr) return false;
  if (SameWord(word, u"-ME")) command->kind = FwKind::Me;
  else if (SameWord(word, u"-TXE")) command->kind = FwKind::Txe;
  else return false;

  if (history::CarriesImage(command->event)) {
    command->image = next();
    if (command->image == nullptr) return false;
  }
  word = next();
  if (word == nullptr || !ParseStatusWord(word, PlatIsOlderShell() != 0, &command->status)) return false;

  word = next();
  if (word == nullptr) return true;
  if (SameWord(word, u"-RB01")) command->method = BoardReadMethod::FwUpdateLib;
  else if (SameWord(word, u"-RB02")) command->method = BoardReadMethod::BiosSetupVariable;
  else if (SameWord(word, u"-RB03")) command->method = BoardReadMethod::MeInfoTool;
  else return false;
  return next() == nullptr;
}

// The root of the current directory's mapping: "FS0:\UPDATE" gives
// "FS0:\HISTORY.TXT", spelt as the shell spells the mapping.
bool HistoryFileFor(const char16_t *cur_dir, char16_t (&path)[kHistoryPathChars]) {
  if (cur_dir == nullptr) return false;
  std::size_t n = 0;
  while (cur_dir[n] != u'\0' && cur_dir[n] != u':' && n < kMaxMappingChars) ++n;
  if (n == 0 || cur_dir[n] != u':') return false;
  for (std::size_t i = 0; i <= n; ++i) path[i] = cur_dir[i];
  for (std::size_t i = 0; i < sizeof kHistoryName / sizeof(char16_t); ++i) path[n + 1 + i] = kHistoryName[i];
  return true;
}

// "YYYY-MM-DDTHH:MM:SS", and "Z" when the firmware says it is UTC. A clock
// that fails or holds what no calendar has is no time.
template <std::size_t N>
void ReadTime(Text<N> &text) {
  PlatTime t{};
  if (PlatGetTime(&t) != PLAT_SUCCESS) return;
  if (t.Year < 1900 || t.Year > 9999 || t.Month < 1 || t.Month > 12 || t.Day < 1 || t.Day > 31 ||
      t.Hour > 23 || t.Minute > 59 || t.Second > 59)
    return;
  text.Decimal(t.Year, 4);
  text.Put('-');
  text.Decimal(t.Month, 2);
  text.Put('-');
  text.Decimal(t.Day, 2);
  text.Put('T');
  text.Decimal(t.Hour, 2);
  text.Put(':');
  text.Decimal(t.Minute, 2);
  text.Put(':');
  text.Decimal(t.Second, 2);
  if (t.IsUtc != 0) text.Put('Z');
}

template <std::size_t N>
void VersionText(const FwVersion &v, Text<N> &text) {
  if (!HasFwVersion(v)) return;
  const uint16_t fields[] = {v.Major, v.Minor, v.HotFix, v.Build};
  for (int i = 0; i < 4; ++i) {
    if (i != 0) text.Put('.');
    text.Decimal(fields[i]);
  }
}

// The name as typed, in UTF-8 (a lone surrogate is taken as the code point it
// names, so that every name gives some bytes).
template <std::size_t N>
void NameBytes(const char16_t *name, Text<N> &text) {
  for (; *name != u'\0'; ++name) {
    uint32_t c = *name;
    if (c >= 0xD800 && c <= 0xDBFF && name[1] >= 0xDC00 && name[1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (name[1] - 0xDC00);
      ++name;
    }
    if (c < 0x80) {
      text.Put(static_cast<char>(c));
    } else if (c < 0x800) {
      text.Put(static_cast<char>(0xC0 | c >> 6));
      text.Put(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      text.Put(static_cast<char>(0xE0 | c >> 12));
      text.Put(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      text.Put(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      text.Put(static_cast<char>(0xF0 | c >> 18));
      text.Put(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      text.Put(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      text.Put(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
}

// What the image gave: its size and sums as CHKSUM reports them, and its version.
struct ImageFacts {
  bool read = false;
  FwVersion version{0, 0, 0, 0};
  Text<10> size, sum32;
  Text<4> sum16;
};

void ReadImage(const char16_t *name, ImageFacts *facts) {
  LoadedFile image;
  if (LoadWholeFile(name, 0, &image) != PLAT_SUCCESS || image.info.IsDirectory != 0) return;
  facts->read = true;
  const uint64_t length = image.Length();
  const uint32_t sum = chksum::ContinueByteSum(0, image.buffer.Bytes(), length);
  facts->size.Add("0x"sv);
  facts->size.Hex(static_cast<uint32_t>(length), 1);
  facts->sum32.Add("0x"sv);
  facts->sum32.Hex(sum, 8);
  facts->sum16.Hex(sum & 0xFFFF, 4);
  const uint32_t searched =
      length > kMaxSearchedImageBytes ? kMaxSearchedImageBytes : static_cast<uint32_t>(length);
  FwVersion version{0, 0, 0, 0};
  if (FindManifestVersion(image.buffer.Bytes(), searched, &version) == PLAT_SUCCESS) facts->version = version;
}

std::string_view DecisionWord(const FwVersion &board, const FwVersion &image) {
  if (!HasFwVersion(board) || !HasFwVersion(image)) return "none"sv;
  switch (DecideUpdate(board, image)) {
    case UpdateDecision::Update:
      return "update"sv;
    case UpdateDecision::Downgrade:
      return "downgrade"sv;
    case UpdateDecision::SameVersion:
      break;
  }
  return "same"sv;
}

const char16_t *EventWord(Event event) {
  return event == Event::Before ? u"before" : event == Event::Flash ? u"flash" : u"after";
}

void PrintUsageLines() {
  Print(u"Usage: NAVOREC.efi -BEFORE|-AFTER -ME|-TXE IMAGE STATUS [-RB01|-RB02|-RB03]\n");
  Print(u"       NAVOREC.efi -FLASH -ME|-TXE STATUS [-RB01|-RB02|-RB03]\n");
}

}  // namespace

extern "C" uint64_t NavoRecMain(uint64_t argc, PlatChar16 **argv) {
  Command command;
  if (!ParseCommandLine(argc, argv, &command)) {
    PrintUsageLines();
    return kNotAppended;
  }
  const char16_t *event = EventWord(command.event);
  const char16_t *kind = FwKindName(command.kind);
  char16_t path[kHistoryPathChars];
  if (!HistoryFileFor(PlatGetCurDir(), path)) {
    Print(u"History: no %s record added: there is no current directory\n", event);
    return kNotAppended;
  }

  Text<20> time;
  ReadTime(time);

  const uint8_t *table = nullptr;
  uint64_t table_length = 0;
  history::SmbiosIdentity id{};
  if (PlatGetSmbiosTable(&table, &table_length) == PLAT_SUCCESS)
    id = history::ReadSmbiosIdentity(table, table_length);

  // The readers print the utility's progress and error lines; this program
  // says in its one line what it could not read.
  FwVersion board{0, 0, 0, 0};
  ImageFacts image;
  {
    plat::QuietPrint quiet;
    if (ReadBoardFwVersion(&board, CommandReadMethod(command.kind, command.method), 0) != PLAT_SUCCESS)
      board = FwVersion{0, 0, 0, 0};
    if (command.image != nullptr) ReadImage(command.image, &image);
  }
  Text<23> board_text, image_text;
  VersionText(board, board_text);
  VersionText(image.version, image_text);
  Text<history::kMaxRecordBytes> image_name;
  Text<20> status;
  status.Decimal(command.status);

  history::Record record{};
  record.event = command.event;
  record.time = time.View();
  record.source = "stick"sv;
  record.vendor = id.vendor;
  record.product = id.product;
  record.serial = id.serial;
  record.uuid = id.Uuid();
  record.bios = id.bios;
  record.kind = command.kind == FwKind::Me ? "ME"sv : "TXE"sv;
  record.board = board_text.View();
  if (command.image != nullptr) {
    NameBytes(command.image, image_name);
    record.image = image_name.View();
    record.image_version = image_text.View();
    record.size = image.size.View();
    record.sum32 = image.sum32.View();
    record.sum16 = image.sum16.View();
    record.decision = DecisionWord(board, image.version);
  }
  record.status = status.View();

  // A name too long for the record is refused as AppendRecord refuses any
  // record too long for a line.
  const PlatStatus appended = image_name.Full() ? PLAT_INVALID_PARAMETER : AppendRecord(path, record);
  if (appended == PLAT_INVALID_PARAMETER) {
    Print(u"History: no %s record added: the record would be longer than %d bytes\n", event,
          static_cast<uint32_t>(history::kMaxRecordBytes));
    return kNotAppended;
  }
  if (appended != PLAT_SUCCESS) {
    Print(u"History: no %s record added to %s: status 0x%lX\n", event, path, appended);
    return kNotAppended;
  }

  const char16_t *missing[4];
  int count = 0;
  if (record.time.empty()) missing[count++] = u"the time";
  if (id.vendor.empty() && id.product.empty() && id.serial.empty() && id.Uuid().empty())
    missing[count++] = u"the board's identity";
  if (!HasFwVersion(board)) missing[count++] = u"the board's %s version";
  if (command.image != nullptr) {
    if (!image.read) missing[count++] = u"the image file";
    else if (!HasFwVersion(image.version)) missing[count++] = u"the image's %s version";
  }
  Print(u"History: %s record added to %s", event, path);
  for (int i = 0; i < count; ++i) {
    Print(i == 0 ? u" without " : i + 1 == count ? u" and " : u", ");
    Print(missing[i], kind);
  }
  Print(u"\n");
  return kAppended;
}
