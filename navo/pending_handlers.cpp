// Temporary definitions of the command handlers and board version sources that
// have not landed yet, so that the utility links meanwhile. Each one reports
// failure. Whoever lands a real definition removes its temporary one here.
#include "navo/auto_update.h"
#include "navo/ec_pin.h"
#include "navo/fw_version/commands.h"
#include "navo/types.h"
#include "platform/platform.h"

// Declared here until their own headers exist.
PlatStatus ReadBoardFwVersion(FwVersion *version, BoardReadMethod method, uint8_t verbose);
FwuStatus ReadHeciFwVersion(FwVersion *version);

uint8_t CheckFwVersion(VersionSource, BoardReadMethod, FwKind, const char16_t *) { return 1; }

uint8_t ShowBoardFwVersion(FwKind, BoardReadMethod) { return 1; }

uint8_t ShowFileFwVersion(const char16_t *, FwKind) { return 1; }

PlatStatus ReadBoardFwVersion(FwVersion *, BoardReadMethod, uint8_t) { return PLAT_UNSUPPORTED; }

FwuStatus ReadHeciFwVersion(FwVersion *) { return 1; }
