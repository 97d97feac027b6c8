// The -ECOVRAUTO command: the unattended update across reboots.
//
// The first run places a startup.nsh in the root of the working directory's
// mapping, turns the EC's FW override pin on, leaves UpdatewithEC_Step1.set in
// the working directory and resets; the shell then runs the script, which runs
// the maker's "go me1" and this command again: the final run removes script and
// marker, turns the pin off and resets once more.
#ifndef NAVO_AUTO_UPDATE_H_
#define NAVO_AUTO_UPDATE_H_

#include <cstdint>

// Picks the step from the marker files. Returns the exit status.
uint8_t AutoUpdateCommand();

// 0 reset requested, 1 failed, 2 cancelled by the user.
uint8_t AutoUpdateFirstRun();
// 0 reset requested, 1 failed.
uint8_t AutoUpdateFinalRun();

#endif  // NAVO_AUTO_UPDATE_H_
