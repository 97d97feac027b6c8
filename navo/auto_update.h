// The -ECOVRAUTO command: the unattended update across reboots.
#ifndef NAVO_AUTO_UPDATE_H_
#define NAVO_AUTO_UPDATE_H_

#include <cstdint>

// Returns the exit status.
uint8_t AutoUpdateCommand();

#endif  // NAVO_AUTO_UPDATE_H_
