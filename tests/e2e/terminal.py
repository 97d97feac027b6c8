"""Rendering of the serial console as a VT100 terminal shows it, and the records the machine builds
from it: the prompts it saw and the commands it ran."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Optional

import pyte

# Key strokes as a VT100 terminal sends them.
KEY_ENTER = b"\r"
KEY_ESC = b"\x1b"
KEY_UP = b"\x1b[A"
KEY_DOWN = b"\x1b[B"
KEY_RIGHT = b"\x1b[C"
KEY_LEFT = b"\x1b[D"
KEY_BACKSPACE = b"\x08"

SCREEN_COLUMNS = 80
SCREEN_ROWS = 50


class _RecordingScreen(pyte.Screen):
    """A pyte screen that keeps every line leaving the display (scrolled off or wiped by a clear)."""

    def __init__(self, columns: int, lines: int):
        super().__init__(columns, lines)
        self.history: list[str] = []

    def row_text(self, y: int) -> str:
        line = self.buffer[y]
        return "".join(line[x].data for x in range(self.columns))

    def resize_keep_top(self, lines: int, columns: int) -> None:
        """Changes the size keeping the top rows (pyte's own resize drops rows at the top)."""
        for y in [y for y in self.buffer if y >= lines]:
            self.buffer.pop(y)
        for line in self.buffer.values():
            for x in [x for x in line if x >= columns]:
                line.pop(x)
        self.lines, self.columns = lines, columns
        self.set_margins()
        self.cursor.y = min(self.cursor.y, lines - 1)
        self.cursor.x = min(self.cursor.x, columns)

    def index(self):
        top, bottom = self.margins or pyte.screens.Margins(0, self.lines - 1)
        if self.cursor.y == bottom and top == 0:
            self.history.append(self.row_text(0))
        super().index()

    def erase_in_display(self, how=0, *args, **kwargs):
        if how in (2, 3):
            # Keep every row up to the cursor's (empty rows a program printed included) and any
            # text below it.
            last = self.cursor.y if self.cursor.x > 0 else self.cursor.y - 1
            for y in range(self.lines):
                if self.row_text(y).strip():
                    last = max(last, y)
            for y in range(last + 1):
                self.history.append(self.row_text(y))
        super().erase_in_display(how, *args, **kwargs)


@dataclass
class PromptEvent:
    offset: int  # position of the prompt in the raw output
    prompt: str  # e.g. "FS0:\\" or "Shell"
    abs_row: int  # transcript row on which the prompt is drawn
    before: list[str]  # the whole transcript just before the shell drew the prompt
    before_cursor: tuple[int, int]  # (x, absolute row) of the cursor at that moment
    boot: int  # boot number (1 = first) it belongs to


@dataclass
class Result:
    """One command run at the shell prompt."""
    command: str
    lines: list[str]  # rendered output lines between the command line and the next prompt
    status: Optional[int]  # %lasterror% after the command (None when not asked)
    prompt: str  # the prompt that followed (e.g. "FS0:\\")
    seconds: float

    @property
    def text(self) -> str:
        return "\n".join(self.lines)

    def __str__(self):
        st = "-" if self.status is None else f"0x{self.status:X}"
        return f"{self.command!r} -> status {st}\n" + "\n".join("  | " + l for l in self.lines)
