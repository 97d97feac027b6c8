// Temporary definitions of the command handlers and board version sources that
// have not landed yet, so that the utility links meanwhile. Each one reports
// failure. Whoever lands a real definition removes its temporary one here.
#include "navo/auto_update.h"
#include "navo/ec_pin.h"
#include "navo/types.h"
#include "platform/platform.h"

