@echo -off
# VERSTXE.nsh - VERSIONS.nsh for a TXE board: prints the board's TXE
# firmware version, the version in a BIOS image and the image's checksum.
# Changes nothing.
#
#   EXAMPLES\VERSTXE.nsh IMAGE
#   e.g.  fs0:\> EXAMPLES\VERSTXE.nsh Q420TM07.BIN
#
# Run it from the folder that holds IMAGE and TXEInfo.efi.
# It works and ends as VERSIONS.nsh does, with NAVO.efi -MBTXEVER and
# -FILETXEVER in place of -MBMEVER and -FILEMEVER; VERSIONS.nsh says what
# its status 0 promises and what not.

# x%1, goto END: see CHECK.nsh (an image called NOTE1.BIN, the older shell).
set -v FAILED 1
if x%1 == x then
  echo "Usage: EXAMPLES\VERSTXE.nsh IMAGE"
  goto END
endif

set -v FAILED 0

# The board's version, as TXEInfo.efi reports it.
NAVO.efi -MBTXEVER
if not %lasterror% == 0 then
  set -v FAILED 1
endif

# The version inside the image.
NAVO.efi -FILETXEVER %1
if not %lasterror% == 0 then
  set -v FAILED 1
endif

# Size and sums of the image ("Checksum(ZAN History)": see VERSIONS.nsh).
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
