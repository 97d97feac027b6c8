@echo -off
# AUTO.nsh - the automatic update with the service history: checks the
# board's ME firmware against a BIOS image, adds the "before" record and,
# when the technician chooses to update, starts NAVO.efi -ECOVRAUTO. That
# asks "Continue (Y/N)?" and on Y restarts the board: GO.nsh runs at the
# next start and adds the "flash" record. Afterwards: EXAMPLES\VERIFY.nsh.
#
#   EXAMPLES\AUTO.nsh IMAGE
#   e.g.  fs0:\> EXAMPLES\AUTO.nsh Q420TM07.BIN
#         fs0:\UPDATE\> \EXAMPLES\AUTO.nsh Q420TM07.BIN
#
# Run it from the update folder: IMAGE, MeInfo.efi and the maker's GO.nsh.
# Ends (when no restart follows) with status 0 when the technician
# declined or the board already has the version, with 1 when the check or
# the automatic update failed. CHECK.nsh explains the shells' differences.

set -v AUTO_RESULT 1
if x%1 == x then
  echo "Usage: EXAMPLES\AUTO.nsh IMAGE"
  goto END
endif

NAVO.efi -CHKMEVER -F %1
set -v AUTO_STATUS %lasterror%
NAVOREC.efi -BEFORE -ME %1 %AUTO_STATUS%
if x%AUTO_STATUS% == x40 then
  set -v AUTO_STATUS 64
endif
if x%AUTO_STATUS% == x45 then
  set -v AUTO_STATUS 69
endif

if %AUTO_STATUS% == 64 then
  # Y restarts the board; N at "Continue (Y/N)?" ends it with status 2.
  NAVO.efi -ECOVRAUTO
  set -v AUTO_STATUS %lasterror%
  if %AUTO_STATUS% == 2 then
    echo "AUTO: no update (declined at Continue); nothing changed"
    set -v AUTO_RESULT 0
  else
    echo "AUTO: the automatic update failed, see the Error line above"
  endif
  goto END
endif

if %AUTO_STATUS% == 69 then
  echo "AUTO: no update (declined, or the board already has this version)"
  set -v AUTO_RESULT 0
  goto END
endif

echo "AUTO: the check failed, see the Error line above; nothing flashed"

:END
if not x%nonesting% == x then
  exit /b %AUTO_RESULT%
endif
