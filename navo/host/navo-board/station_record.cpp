#include "navo/host/navo-board/station_record.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

namespace {

// A sysfs attribute is at most one page; a DMI string is far shorter.
constexpr std::size_t kMaxAttributeBytes = 4096;

// The file's bytes without the one line end the kernel prints after the
// string; empty when it cannot be opened or read, whatever part came.
std::string ReadAttribute(const std::string &path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  std::string text(kMaxAttributeBytes, '\0');
  std::size_t got = 0;
  bool failed = false;
  while (got < text.size()) {
    const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) failed = true;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (failed) return "";
  text.resize(got);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

std::string Version(const FwVersion &v) {
  char text[32];
  static_cast<void>(std::snprintf(text, sizeof text, "%u.%u.%u.%u", v.Major, v.Minor, v.HotFix, v.Build));
  return text;
}

std::string_view DecisionWord(const std::optional<UpdateDecision> &decision) {
  if (!decision) return "none";
  switch (*decision) {
    case UpdateDecision::Update: return "update";
    case UpdateDecision::Downgrade: return "downgrade";
    case UpdateDecision::SameVersion: break;
  }
  return "same";
}

}  // namespace

DmiIdentity ReadDmiIdentity(const std::string &directory) {
  const auto read = [&](const char *name) { return ReadAttribute(directory + "/" + name); };
  return DmiIdentity{read("sys_vendor"), read("product_name"), read("product_serial"), read("product_uuid"),
                     read("bios_version")};
}

std::string UtcTimeText(std::time_t when) {
  std::tm utc{};
  if (::gmtime_r(&when, &utc) == nullptr) return "";
  char text[80];
  static_cast<void>(std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900,
                                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec));
  return text;
}

StationRecord::StationRecord(const DmiIdentity &identity, std::string time, const StationReading &reading)
    : identity_(identity), time_(std::move(time)), status_(std::to_string(reading.status)), record_{} {
  if (reading.board) board_ = Version(*reading.board);
  if (reading.compared) image_version_ = Version(*reading.compared);
  if (reading.facts) {
    // As chksum and CHKSUM.efi print them: the size's low 32 bits.
    char text[16];
    static_cast<void>(std::snprintf(text, sizeof text, "0x%X", static_cast<uint32_t>(reading.facts->size)));
    size_ = text;
    static_cast<void>(std::snprintf(text, sizeof text, "0x%08X", reading.facts->sum));
    sum32_ = text;
    static_cast<void>(std::snprintf(text, sizeof text, "%04X", reading.facts->sum & 0xFFFFu));
    sum16_ = text;
  }
  record_.event = reading.event;
  record_.time = time_;
  record_.source = "station";
  record_.vendor = identity_.vendor;
  record_.product = identity_.product;
  record_.serial = identity_.serial;
  record_.uuid = identity_.uuid;
  record_.bios = identity_.bios;
  // The MKHI client answers for the ME; navo-board asks nothing else.
  record_.kind = "ME";
  record_.board = board_;
  record_.image = reading.image != nullptr ? std::string_view(reading.image) : std::string_view();
  record_.image_version = image_version_;
  record_.size = size_;
  record_.sum32 = sum32_;
  record_.sum16 = sum16_;
  record_.decision = DecisionWord(reading.decision);
  record_.status = status_;
}
