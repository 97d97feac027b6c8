@echo -off
# CHECK.nsh - checks the board's ME firmware against a BIOS image and runs
# the maker's GO.nsh only when the technician chooses to update.
#
#   EXAMPLES\CHECK.nsh IMAGE [GO-ARGUMENTS]   (up to three of them)
#   e.g.  fs0:\> EXAMPLES\CHECK.nsh Q420TM07.BIN
#
# Run it from the folder that holds IMAGE, MeInfo.efi and GO.nsh.
# GO.nsh gets the GO-ARGUMENTS; without any it gets "me1", as from the
# automatic update's startup.nsh ("go me1"), so that GO.nsh flashes the
# same way by both routes.
# Ends with status 0 when the check came to a decision (and GO.nsh ran
# when it was the decision), with 1 when it did not.
#
# The x in front of each argument keeps every test whole: the shell puts ""
# in for an argument that was not given, and "if" reads a word that begins
# like one of its own keywords (an image called NOTE1.BIN or EXISTS.BIN) as
# that keyword. "x%1" never begins like one, and is just "x" when %1 is
# missing.

# Without an image NAVO.efi would only show its usage: say what is needed.
if "x%1" == "x" then
  echo "Usage: EXAMPLES\CHECK.nsh IMAGE [GO-ARGUMENTS]"
  exit /b 1
endif

# NAVO.efi reads both versions, advises and asks "(Y/N)?". Its exit
# status is the decision: 64 update, 69 no update, 1 the check failed.
NAVO.efi -CHKMEVER -F %1

# The next command overwrites %lasterror%: keep the decision.
set -v CHECK_STATUS %lasterror%

if %CHECK_STATUS% == 64 then
  # Y at the question: flash with the maker's script. The further
  # arguments of this script are handed on to it, and only those that
  # were given: a missing one would reach GO.nsh as an empty "" argument.
  # None given: "me1", the argument the automatic update hands it.
  # A script's status reaches %lasterror% only when it ends with
  # "exit /b", which the maker's GO.nsh need not do: its own messages
  # tell how the flash went.
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
  # N at the question, or the board already runs the image's version.
  echo "CHECK: no update (declined, or the board already has this version)"
  exit /b 0
endif

if %CHECK_STATUS% == 1 then
  # The "Error Fxx" line above says why (missing file, wrong board, ...).
  echo "CHECK: the check failed, see the Error line above; nothing flashed"
  exit /b 1
endif

# Anything else: NAVO.efi did not run as expected (e.g. not found).
echo "CHECK: unexpected status %CHECK_STATUS% from NAVO.efi; nothing flashed"
exit /b 1
