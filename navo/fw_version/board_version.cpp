#include "navo/fw_version/board_version.h"

#include "navo/fw_version/info_tool.h"
#include "navo/fw_version/setup_variable.h"
#include "navo/heci/version_query.h"
#include "platform/print.h"

namespace {

// A method delivered only when it succeeded with a version that is there.
bool Delivered(PlatStatus status, const FwVersion &version) {
  return status == PLAT_SUCCESS && HasFwVersion(version);
}

PlatStatus RunHeciMethod(FwVersion *version, uint8_t verbose) {
  if (verbose) Print(u"IntelFWUpdateLib:\n");
  PlatStatus status = ReadHeciFwVersion(version);
  if (verbose) {
    Print(Delivered(status, *version) ? u"Successful.\n\n"
                                      : u"WARNING! IntelFWUpdateLib function is not support.\n\n");
  }
  return status;
}

PlatStatus RunSetupVariableMethod(FwVersion *version, uint8_t verbose) {
  if (verbose) Print(u"  AmiBIOSSetup:\n");
  PlatStatus status = ReadMeInfoSetupVersion(version, verbose);
  if (verbose) {
    Print(Delivered(status, *version) ? u"   Successful.\n\n"
                                      : u"   WARNING! AmiBIOSSetup Function is not support.\n\n");
  }
  return status;
}

PlatStatus RunMeInfoMethod(FwVersion *version, uint8_t verbose) {
  PlatStatus status = ReadMeInfoToolVersion(version, verbose);
  if (verbose) {
    Print(Delivered(status, *version) ? u"   Successful.\n\n"
                                      : u"   WARNING! IntelMeInfo Function is not support.\n\n");
  }
  return status;
}

PlatStatus RunTxeInfoMethod(FwVersion *version, uint8_t verbose) {
  PlatStatus status = ReadTxeInfoToolVersion(version, verbose);
  if (verbose) {
    Print(Delivered(status, *version) ? u"   Successful.\n\n"
                                      : u"   WARNING! TXEInfo Function is not support.\n\n");
  }
  return status;
}

}  // namespace

BoardReadMethod CommandReadMethod(FwKind kind, BoardReadMethod method) {
  if (method != BoardReadMethod::Auto) return method;
  return kind == FwKind::Me ? BoardReadMethod::MeInfoTool : BoardReadMethod::TxeInfoTool;
}

PlatStatus ReadBoardFwVersion(FwVersion *version, BoardReadMethod method, uint8_t verbose) {
  const bool automatic = method == BoardReadMethod::Auto;
  if (verbose) {
    Print(u"Get ME Version On Board DeBug message >>\n");
    Print(u"Mode: %s \n", automatic ? u"Auto mode" : u"Manual mode");
  }

  PlatStatus status = PLAT_UNSUPPORTED;
  switch (method) {
    case BoardReadMethod::Auto:
      status = RunHeciMethod(version, verbose);
      if (Delivered(status, *version)) break;
      status = RunSetupVariableMethod(version, verbose);
      if (Delivered(status, *version)) break;
      status = RunMeInfoMethod(version, verbose);
      break;
    case BoardReadMethod::FwUpdateLib:
      status = RunHeciMethod(version, verbose);
      break;
    case BoardReadMethod::BiosSetupVariable:
      status = RunSetupVariableMethod(version, verbose);
      break;
    case BoardReadMethod::MeInfoTool:
      status = RunMeInfoMethod(version, verbose);
      break;
    case BoardReadMethod::TxeInfoTool:
      status = RunTxeInfoMethod(version, verbose);
      break;
    default:
      // No method of this number.
      *version = FwVersion{0, 0, 0, 0};
      break;
  }

  if (verbose) Print(u" Get ME Version On Board DeBug message <<\n\n");
  return status;
}
