// What a test station's navo-board leaves in a service history: the record
// the stick's recorder writes, with the board's identity as the kernel's DMI
// driver shows it and the outcome of this one run.
#ifndef NAVO_HOST_NAVO_BOARD_STATION_RECORD_H_
#define NAVO_HOST_NAVO_BOARD_STATION_RECORD_H_

#include <ctime>
#include <optional>
#include <string>

#include "navo/fw_version/update_decision.h"
#include "navo/history/record.h"
#include "navo/host/image_facts.h"
#include "navo/types.h"

// Where the kernel shows the board's SMBIOS system and BIOS strings.
inline constexpr char kDmiDirectory[] = "/sys/class/dmi/id";

// Each field as its file in the DMI directory holds it, without the line end
// the kernel adds; empty when the file cannot be read (product_serial and
// product_uuid are root's only), which is no failure: the record then says
// the station did not know it.
struct DmiIdentity {
  std::string vendor;   // sys_vendor
  std::string product;  // product_name
  std::string serial;   // product_serial
  std::string uuid;     // product_uuid
  std::string bios;     // bios_version
};

// `directory` is kDmiDirectory for every run; the tests give a stand-in.
DmiIdentity ReadDmiIdentity(const std::string &directory);

// "YYYY-MM-DDTHH:MM:SSZ", `when` in UTC.
std::string UtcTimeText(std::time_t when);

// What one run learnt; what it never learnt stays unset and its field empty.
struct StationReading {
  history::Event event = history::Event::Before;
  std::optional<FwVersion> board;
  const char *image = nullptr;              // --image FILE as typed
  std::optional<ImageFacts> facts;          // when FILE could be read
  std::optional<FwVersion> compared;        // FILE's version, or --target's
  std::optional<UpdateDecision> decision;   // none when nothing was compared
  int status = 0;                           // the exit status of the run
};

// The record of one run, with the text its fields view.
class StationRecord {
 public:
  StationRecord(const DmiIdentity &identity, std::string time, const StationReading &reading);
  StationRecord(const StationRecord &) = delete;
  StationRecord &operator=(const StationRecord &) = delete;

  const history::Record &record() const { return record_; }

 private:
  DmiIdentity identity_;
  std::string time_, board_, image_version_, size_, sum32_, sum16_, status_;
  history::Record record_;
};

#endif  // NAVO_HOST_NAVO_BOARD_STATION_RECORD_H_
