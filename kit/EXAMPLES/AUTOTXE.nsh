@echo -off
# AUTOTXE.nsh - AUTO.nsh for a TXE board: the automatic update with the
# service history, with NAVO.efi -CHKTXEVER in place of -CHKMEVER.
#
#   EXAMPLES\AUTOTXE.nsh IMAGE
#
# Run it from the update folder: IMAGE, TXEInfo.efi and the maker's GO.nsh.
# It works and ends as AUTO.nsh does, which explains each step.

set -v AUTO_RESULT 1
if x%1 == x then
  echo "Usage: EXAMPLES\AUTOTXE.nsh IMAGE"
  goto END
endif

NAVO.efi -CHKTXEVER -F %1
set -v AUTO_STATUS %lasterror%
NAVOREC.efi -BEFORE -TXE %1 %AUTO_STATUS%
if x%AUTO_STATUS% == x40 then
  set -v AUTO_STATUS 64
endif
if x%AUTO_STATUS% == x45 then
  set -v AUTO_STATUS 69
endif

if %AUTO_STATUS% == 64 then
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
