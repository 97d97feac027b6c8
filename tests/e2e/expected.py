"""What the utility's screens show, as the tests expect them. The boxes are read from the text
files under tests/shared/screens/, which the host tests read too: each row is kept once."""

from __future__ import annotations

import re
from pathlib import Path

SCREENS = Path(__file__).resolve().parents[1] / "shared" / "screens"


def screen_rows(name: str) -> list[str]:
    """The rows of tests/shared/screens/<name>.txt, without line ends."""
    return (SCREENS / f"{name}.txt").read_text(encoding="ascii").splitlines()


FRAME = "+-------------------------------------------------------------------+"
BANNER = [FRAME, "|                 ZAN Firmware Update Utility 1.1.0                 |", FRAME]
# The banner of every command that needs the board signature, once it has been found.
BOARD_OK = BANNER + ["Check ZAN Board...OK"]
VERSION = ["ZAN Firmware Update Utility. Version:  1.1.0"]
# The usage box below the banner: its 33 rows and the closing frame.
USAGE = screen_rows("usage")

QUESTION = "Continue (Y/N)?"
CONTINUE = re.compile(re.escape(QUESTION))
# The automatic update's first run: the notice box and its question.
NOTICE = screen_rows("notice") + [QUESTION]
# Its final run: the closing box and the empty line before "<Enter any key to continue>".
CLOSING = screen_rows("closing") + [""]
