@echo -off
# CHECKTXE.nsh - CHECK.nsh for a TXE board: checks the board's TXE firmware
# against a BIOS image, adds the "before" record to the service history and
# runs the maker's GO.nsh only when the technician chooses to update.
#
#   EXAMPLES\CHECKTXE.nsh IMAGE [GO-ARGUMENTS]   (up to three of them)
#   e.g.  fs0:\> EXAMPLES\CHECKTXE.nsh Q420TM07.BIN
#
# Run it from the folder that holds IMAGE, TXEInfo.efi and GO.nsh.
# It works, ends and hands GO.nsh its arguments ("me1" when none are
# given) as CHECK.nsh does, with NAVO.efi -CHKTXEVER in place of
# -CHKMEVER; CHECK.nsh explains each step and the shells' differences.

set -v CHECK_RESULT 1
if x%1 == x then
  echo "Usage: EXAMPLES\CHECKTXE.nsh IMAGE [GO-ARGUMENTS]"
  goto END
endif

# 64 update, 69 no update, 1 the check failed.
NAVO.efi -CHKTXEVER -F %1
set -v CHECK_STATUS %lasterror%
NAVOREC.efi -BEFORE -TXE %1 %CHECK_STATUS%
if x%CHECK_STATUS% == x40 then
  set -v CHECK_STATUS 64
endif
if x%CHECK_STATUS% == x45 then
  set -v CHECK_STATUS 69
endif

if %CHECK_STATUS% == 64 then
  echo "CHECK: update chosen, running GO.nsh"
  if x%2 == x then
    GO.nsh me1
  else
    if x%3 == x then
      GO.nsh %2
    else
      if x%4 == x then
        GO.nsh %2 %3
      else
        GO.nsh %2 %3 %4
      endif
    endif
  endif
  echo "CHECK: GO.nsh has returned, see its messages above"
  set -v CHECK_RESULT 0
  goto END
endif

if %CHECK_STATUS% == 69 then
  echo "CHECK: no update (declined, or the board already has this version)"
  set -v CHECK_RESULT 0
  goto END
endif

if %CHECK_STATUS% == 1 then
  echo "CHECK: the check failed, see the Error line above; nothing flashed"
  goto END
endif

echo "CHECK: unexpected status %CHECK_STATUS% from NAVO.efi; nothing flashed"

:END
if not x%nonesting% == x then
  exit /b %CHECK_RESULT%
endif
