@echo -off
# GO.nsh - template of the maker's update script, with the service history.
# The maker puts its flash commands in place of the marked lines below and
# ships the result as GO.nsh in the update folder, next to the image.
#
#   GO.nsh me1    (the automatic update's startup.nsh runs "go me1",
#                  EXAMPLES\CHECK.nsh runs "GO.nsh me1")
#
# As README.TXT, section 8, asks of GO.nsh: it takes "me1" as %1, restarts
# nothing and never ends the shell, ends in the folder it started in and
# returns to its caller (in the older EFI shell at its last line: that
# shell knows no "exit /b"). Its last lines say how the flash went.
# Before it returns, NAVOREC.efi adds the "flash" record with the flash's
# status to the service history (HISTORY.TXT in the stick's root).
# On a TXE board write -TXE in place of -ME on the NAVOREC.efi line.

# ---- the maker's flash commands: in place of the next two lines ----
# After each command keep its status:  set -v GO_STATUS %lasterror%
# and run the next only  if %GO_STATUS% == 0 then ... endif
echo "GO.nsh %1: the kit's template: no flash commands in it yet"
set -v GO_STATUS 1
# ---- end of the maker's flash commands ----

NAVOREC.efi -FLASH -ME %GO_STATUS%
if %GO_STATUS% == 0 then
  echo "GO.nsh: the flash ended with status 0: done"
else
  echo "GO.nsh: THE FLASH FAILED with status %GO_STATUS%"
endif
if not x%nonesting% == x then
  exit /b %GO_STATUS%
endif
