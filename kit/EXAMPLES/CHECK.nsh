@echo -off
# CHECK.nsh - checks the board's ME firmware against a BIOS image, adds the
# "before" record to the service history (HISTORY.TXT in the stick's root)
# and runs the maker's GO.nsh only when the technician chooses to update.
#
#   EXAMPLES\CHECK.nsh IMAGE [GO-ARGUMENTS]   (up to three of them)
#   e.g.  fs0:\> EXAMPLES\CHECK.nsh Q420TM07.BIN
#         fs0:\UPDATE\> \EXAMPLES\CHECK.nsh Q420TM07.BIN
#
# Run it from the folder that holds IMAGE, MeInfo.efi and GO.nsh.
# GO.nsh gets the GO-ARGUMENTS; without any it gets "me1", as from the
# automatic update's startup.nsh ("go me1"), so that GO.nsh flashes the
# same way by both routes.
# Ends with status 0 when the check came to a decision (and GO.nsh ran
# when it was the decision), with 1 when it did not.
#
# Written for every shell a board boots: the UEFI Shell, nesting or not,
# and the older EFI shell. The older one
#  - shows %lasterror% in hexadecimal without "0x" (64 as 40, 69 as 45),
#    and its "if" compares words as text: 40 and 45 are turned into 64
#    and 69 before the tests;
#  - knows no "exit /b": it says so and goes on with the next line. So
#    every way out jumps to :END, and only the UEFI Shell, whose
#    %nonesting% is never empty, runs the "exit /b" there;
#  - takes "x%2" in quotes for bad syntax when %2 is missing.
# The x in front of each argument keeps every test whole: "if" reads a word
# that begins like one of its own keywords (an image called NOTE1.BIN or
# EXISTS.BIN) as that keyword. x%1 never begins like one, and is just x
# when %1 is missing.

set -v CHECK_RESULT 1
# Without an image NAVO.efi would only show its usage: say what is needed.
if x%1 == x then
  echo "Usage: EXAMPLES\CHECK.nsh IMAGE [GO-ARGUMENTS]"
  goto END
endif

# NAVO.efi reads both versions, advises and asks "(Y/N)?". Its exit
# status is the decision: 64 update, 69 no update, 1 the check failed.
NAVO.efi -CHKMEVER -F %1

# The next command overwrites %lasterror%: keep the decision. NAVOREC.efi
# asks nothing: it appends the board, the image and this status to the
# history and prints one line. It reads the status as the shell showed it.
set -v CHECK_STATUS %lasterror%
NAVOREC.efi -BEFORE -ME %1 %CHECK_STATUS%
if x%CHECK_STATUS% == x40 then
  set -v CHECK_STATUS 64
endif
if x%CHECK_STATUS% == x45 then
  set -v CHECK_STATUS 69
endif

if %CHECK_STATUS% == 64 then
  # Y at the question: flash with the maker's script. The further
  # arguments of this script are handed on to it, and only those that
  # were given: a missing one would reach GO.nsh as an empty "" argument.
  # None given: "me1", the argument the automatic update hands it.
  # A script's status reaches %lasterror% only when it ends with
  # "exit /b", which the maker's GO.nsh need not do: its own messages
  # tell how the flash went.
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
  # N at the question, or the board already runs the image's version.
  echo "CHECK: no update (declined, or the board already has this version)"
  set -v CHECK_RESULT 0
  goto END
endif

if %CHECK_STATUS% == 1 then
  # The "Error Fxx" line above says why (missing file, wrong board, ...).
  echo "CHECK: the check failed, see the Error line above; nothing flashed"
  goto END
endif

# Anything else: NAVO.efi did not run as expected (e.g. not found).
echo "CHECK: unexpected status %CHECK_STATUS% from NAVO.efi; nothing flashed"

:END
if not x%nonesting% == x then
  exit /b %CHECK_RESULT%
endif
