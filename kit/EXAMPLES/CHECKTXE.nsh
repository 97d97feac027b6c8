@echo -off
# CHECKTXE.nsh - CHECK.nsh for a TXE board: checks the board's TXE firmware
# against a BIOS image and runs the maker's GO.nsh only when the technician
# chooses to update.
#
#   EXAMPLES\CHECKTXE.nsh IMAGE [GO-ARGUMENTS]   (up to three of them)
#   e.g.  fs0:\> EXAMPLES\CHECKTXE.nsh Q420TM07.BIN
#
# Run it from the folder that holds IMAGE, TXEInfo.efi and GO.nsh.
# It works, ends and hands GO.nsh its arguments ("me1" when none are
# given) as CHECK.nsh does, with NAVO.efi -CHKTXEVER in place of
# -CHKMEVER; CHECK.nsh explains each step.

# "x%1": see CHECK.nsh (an image called NOTE1.BIN or EXISTS.BIN).
if "x%1" == "x" then
  echo "Usage: EXAMPLES\CHECKTXE.nsh IMAGE [GO-ARGUMENTS]"
  exit /b 1
endif

# 64 update, 69 no update, 1 the check failed.
NAVO.efi -CHKTXEVER -F %1
set -v CHECK_STATUS %lasterror%

if %CHECK_STATUS% == 64 then
  echo "CHECK: update chosen, running GO.nsh"
  if "x%2" == "x" then
    GO.nsh me1
  else
    if "x%3" == "x" then
      GO.nsh %2
    else
      if "x%4" == "x" then
        GO.nsh %2 %3
      else
        GO.nsh %2 %3 %4
      endif
    endif
  endif
  echo "CHECK: GO.nsh has returned, see its messages above"
  exit /b 0
endif

if %CHECK_STATUS% == 69 then
  echo "CHECK: no update (declined, or the board already has this version)"
  exit /b 0
endif

if %CHECK_STATUS% == 1 then
  echo "CHECK: the check failed, see the Error line above; nothing flashed"
  exit /b 1
endif

echo "CHECK: unexpected status %CHECK_STATUS% from NAVO.efi; nothing flashed"
exit /b 1
