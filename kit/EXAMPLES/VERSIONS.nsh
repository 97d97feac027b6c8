@echo -off
# VERSIONS.nsh - prints the board's ME firmware version, the version in a
# BIOS image and the image's checksum. Changes nothing.
#
#   EXAMPLES\VERSIONS.nsh IMAGE
#   e.g.  fs0:\> EXAMPLES\VERSIONS.nsh Q420TM07.BIN
#
# Run it from the folder that holds IMAGE and MeInfo.efi.
# Ends with status 0 when each of the three commands ended with status 0,
# with 1 when one of them did not. Status 0 does not promise two
# versions: NAVO.efi also ends with 0 when it shows "Oops! something went
# wrong..." in place of a version (a version 0.x.x.x, or after an F08
# line for MeInfo.efi's version text). Read the lines.

# x%1, goto END: see CHECK.nsh (an image called NOTE1.BIN, the older shell).
set -v FAILED 1
if x%1 == x then
  echo "Usage: EXAMPLES\VERSIONS.nsh IMAGE"
  goto END
endif

# Each reading goes on even when the one before failed; FAILED remembers.
set -v FAILED 0

# The board's version, as MeInfo.efi reports it.
NAVO.efi -MBMEVER
if not %lasterror% == 0 then
  set -v FAILED 1
endif

# The version inside the image.
NAVO.efi -FILEMEVER %1
if not %lasterror% == 0 then
  set -v FAILED 1
endif

# Size and sums of the image; "Checksum(ZAN History)" is the figure the
# BIOS history records note.
CHKSUM.efi %1
if not %lasterror% == 0 then
  set -v FAILED 1
endif

if %FAILED% == 1 then
  echo "VERSIONS: a reading failed, see the messages above"
endif
:END
if not x%nonesting% == x then
  exit /b %FAILED%
endif
