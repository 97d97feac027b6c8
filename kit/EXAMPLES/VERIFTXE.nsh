@echo -off
# VERIFTXE.nsh - VERIFY.nsh for a TXE board: the check after the update
# with NAVO.efi -CHKTXEVER, the "after" record, then the pin off.
#
#   EXAMPLES\VERIFTXE.nsh IMAGE
#
# It works and ends as VERIFY.nsh does, which explains each step.

set -v VERIFY_RESULT 1
if x%1 == x then
  echo "Usage: EXAMPLES\VERIFTXE.nsh IMAGE"
  goto END
endif

NAVO.efi -CHKTXEVER -F %1
set -v VERIFY_STATUS %lasterror%
NAVOREC.efi -AFTER -TXE %1 %VERIFY_STATUS%
if x%VERIFY_STATUS% == x40 then
  set -v VERIFY_STATUS 64
endif
if x%VERIFY_STATUS% == x45 then
  set -v VERIFY_STATUS 69
endif

if %VERIFY_STATUS% == 64 then
  echo "VERIFY: the versions differ: the flash did NOT take"
  set -v VERIFY_RESULT 0
endif
if %VERIFY_STATUS% == 69 then
  echo "VERIFY: the flash took only if the check says already latest version"
  set -v VERIFY_RESULT 0
endif
if %VERIFY_RESULT% == 1 then
  echo "VERIFY: the check failed, see the Error line above"
endif

NAVO.efi -ECOVRPIN -OFF
if not %lasterror% == 0 then
  set -v VERIFY_RESULT 1
endif

:END
if not x%nonesting% == x then
  exit /b %VERIFY_RESULT%
endif
