@echo -off
# VERIFY.nsh - after an update, once the board has restarted: checks the
# board's ME firmware against the BIOS image again, adds the "after"
# record to the service history and turns the EC's FW override pin off,
# so that it always ends with "FW Override Status: Off".
#
#   EXAMPLES\VERIFY.nsh IMAGE
#   e.g.  fs0:\> EXAMPLES\VERIFY.nsh Q420TM07.BIN
#
# Run it from the update folder, as AUTO.nsh and CHECK.nsh. The check must
# say "Your current ME firmware is already latest version.": the flash
# took. If it asks "(Y/N)?", the flash did NOT take: answer N (README.TXT,
# section 9 e). Ends with status 0 when the check came to a decision and
# the pin is off, with 1 when not. CHECK.nsh explains the shells'
# differences.

set -v VERIFY_RESULT 1
if x%1 == x then
  echo "Usage: EXAMPLES\VERIFY.nsh IMAGE"
  goto END
endif

NAVO.efi -CHKMEVER -F %1
set -v VERIFY_STATUS %lasterror%
NAVOREC.efi -AFTER -ME %1 %VERIFY_STATUS%
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
  # 69 also follows N at a question: the check's own line tells which.
  echo "VERIFY: the flash took only if the check says already latest version"
  set -v VERIFY_RESULT 0
endif
if %VERIFY_RESULT% == 1 then
  echo "VERIFY: the check failed, see the Error line above"
endif

# Whatever the check said: the pin ends up off.
NAVO.efi -ECOVRPIN -OFF
if not %lasterror% == 0 then
  set -v VERIFY_RESULT 1
endif

:END
if not x%nonesting% == x then
  exit /b %VERIFY_RESULT%
endif
