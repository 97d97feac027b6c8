#include "navo/fw_version/setup_variable.h"

#include "platform/print.h"

namespace {

constexpr PlatStatus kNoVersion = 1;

uint32_t Le32(const uint8_t *p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void DumpSetupData(const uint8_t (&d)[kMeInfoSetupSize]) {
  Print(u"   MeInfoSetupData\n\n");
  Print(u"   ");
  for (uint32_t column = 0; column < 16; ++column) Print(u"%02x ", column);
  Print(u"\n");
  Print(u"00 ");
  Print(u"%02x ", d[0]);
  Print(u"%02x %02x %02x %02x ", d[1], d[2], d[3], d[4]);
  Print(u"%02x %02x %02x %02x ", d[5], d[6], d[7], d[8]);
  Print(u"%02x %02x %02x %02x ", d[9], d[10], d[11], d[12]);
  Print(u"%02x %02x %02x\n10 %02x ", d[13], d[14], d[15], d[16]);
  Print(u"%02x %02x %02x %02x ", d[17], d[18], d[19], d[20]);
  Print(u"%02x", d[21]);
  Print(u"\n\n");
}

}  // namespace

PlatStatus ReadMeInfoSetupVersion(FwVersion *version, uint8_t verbose) {
  uint8_t data[kMeInfoSetupSize] = {};
  uint64_t size = sizeof data;
  PlatStatus status = PlatGetVariable(u"MeInfoSetup", &kMeInfoSetupGuid, &size, data);
  // The service reports the variable's real size; bytes it did not deliver are
  // not version data, so a variable too short to hold all four fields fails.
  if (PLAT_IS_ERROR(status) || size < kMeInfoSetupVersionBytes || size > sizeof data) {
    if (verbose) Print(u"   WARNING! Can't get Me info setup data\n");
    *version = FwVersion{0, 0, 0, 0};
    return kNoVersion;
  }
  if (verbose) DumpSetupData(data);

  const uint32_t major = Le32(data + 1);
  const uint32_t minor = Le32(data + 5);
  const uint32_t hotfix = Le32(data + 9);
  const uint32_t build = Le32(data + 13);
  if (verbose) {
    Print(u"MEVerMajor (UINT8 to UINT32): %08x\n", major);
    Print(u"MEVerMinor (UINT8 to UINT32): %08x\n", minor);
    Print(u"MEVerHotFix(UINT8 to UINT32): %08x\n", hotfix);
    Print(u"MEVerBuild (UINT8 to UINT32): %08x\n", build);
  }
  if (major < kMeInfoSetupFieldLimit && minor < kMeInfoSetupFieldLimit &&
      hotfix < kMeInfoSetupFieldLimit && build < kMeInfoSetupFieldLimit) {
    *version = FwVersion{static_cast<uint16_t>(major), static_cast<uint16_t>(minor),
                         static_cast<uint16_t>(hotfix), static_cast<uint16_t>(build)};
    return PLAT_SUCCESS;
  }
  if (verbose) Print(u"   ERROR! Version information is wrong.\n");
  *version = FwVersion{0, 0, 0, 0};
  return kNoVersion;
}
