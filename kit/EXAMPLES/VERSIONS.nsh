@echo -off
# VERSIONS.nsh - prints the board's ME firmware version, the version in a
# BIOS image and the image's checksum. Changes nothing.
#
#   EXAMPLES\VERSIONS.nsh IMAGE
#   e.g.  fs0:\> EXAMPLES\VERSIONS.nsh Q420TM07.BIN
#
# Run it from the folder that holds IMAGE and MeInfo.efi.
# Ends with status 0 when all three readings worked, 1 otherwise.

if "%1" == "" then
  echo "Usage: EXAMPLES\VERSIONS.nsh IMAGE"
  exit /b 1
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
exit /b %FAILED%
