"""Driving the UEFI Shell on a QemuMachine: boots with their startup.nsh countdown, the console mode,
typing a command line and collecting its output and %lasterror%."""

from __future__ import annotations

import re
import time
from typing import Optional, Sequence, Union

from paths import E2EError
from qemu_machine import QemuMachine
from terminal import KEY_ENTER, KEY_ESC, PromptEvent, Result

_COUNTDOWN_RE = re.compile(r"Press ESC in \d+ seconds? to skip startup\.nsh")


class ShellMachine(QemuMachine):
    """A QemuMachine driven at the shell prompt."""

    def answer(self, pattern: Union[str, re.Pattern], keys: Union[bytes, str], timeout: Optional[float] = 60.0,
               since: Optional[int] = None) -> re.Match:
        """Waits until `pattern` is on the rendered screen, then presses `keys`."""
        m = self.wait_text(pattern, timeout, since)
        self.send(keys)
        return m

    # -- booting -----------------------------------------------------------------------------------
    def boot(self, timeout: Optional[float] = 120.0) -> PromptEvent:
        """Waits for the next boot to reach the shell prompt, following resets on the way.

        At each boot's startup.nsh countdown the key of the `startup` policy is pressed. When
        startup.nsh runs and leaves the shell at its prompt, that prompt is returned; when the script
        (or anything else) resets the machine first, the next boot is followed the same way. Use
        wait_boot()/wait_text() instead to interact with a script while it runs.
        """
        n = self._countdowns_answered + 1
        while True:
            self.wait_boot(n, timeout)
            after = self._handle_countdown(n, timeout) or self.boot_offsets[n - 1]
            self._countdowns_answered = max(self._countdowns_answered, n)
            got = self.wait_until(lambda: ("boot" if len(self.boot_offsets) > n else None) or
                                  self._last_prompt_after(after), timeout, f"shell prompt of boot #{n}")
            if got == "boot":
                n += 1
                continue
            break
        self.sync()
        if not self._mode_checked:
            self._check_mode()
        return self.prompts[-1]

    def _check_mode(self) -> None:
        """The rendering only matches when the screen has the console's size: ask the shell."""
        r = self.run("mode", status=False)
        for line in r.lines:
            m = re.match(r"\s*Col\s+(\d+)\s+Row\s+(\d+)\s+\*", line)
            if m:
                size = int(m.group(1)), int(m.group(2))
                if size != (self.cols, self.rows):
                    raise E2EError(f"{self.name}: console mode is {size}, the harness renders "
                                   f"{(self.cols, self.rows)}")
                self._mode_checked = True
                return
        raise E2EError(f"{self.name}: cannot tell the console mode from {r}")

    def set_mode(self, cols: int, rows: int) -> None:
        """Switches the console to another text mode with the shell's `mode` (e.g. 80x25 for a person
        at a standard terminal) and renders at that size from then on."""
        r = self.run(f"mode {cols} {rows}")
        if r.status != 0:
            raise E2EError(f"{self.name}: mode {cols} {rows} failed: {r}")
        # The mode change cleared the screen; the prompt stands at the top now.
        with self._lock:
            self._screen.resize_keep_top(rows, cols)
            self.cols, self.rows = cols, rows
        self.sync()
        self._check_mode()

    def _handle_countdown(self, n: int, timeout: Optional[float]) -> int:
        """Answers boot n's startup.nsh countdown; returns the raw offset after it was answered."""
        def probe():
            if len(self.boot_offsets) > n:
                return "next-boot"
            # The countdown is drawn before any prompt of this boot.
            text = "\n".join(self._screen.row_text(y) for y in range(self._screen.lines))
            if _COUNTDOWN_RE.search(text) and self._raw.rfind(b" seconds to skip ") > self.boot_offsets[n - 1]:
                return "countdown"
            if self._last_prompt_after(self.boot_offsets[n - 1]):
                return "prompt"
            return None

        what = self.wait_until(probe, timeout, f"startup.nsh countdown of boot #{n}")
        if what == "countdown":
            offset = len(self._raw)
            if self.startup == "run":
                self.send(KEY_ENTER)
            elif self.startup == "skip":
                self.send(KEY_ESC)
            return offset
        return 0

    def sync(self, timeout: Optional[float] = 60.0) -> PromptEvent:
        """Runs a no-op echo so that the harness and the shell agree on the current prompt."""
        self._marker += 1
        tag = f"sync{self._marker}"
        r = self.run(f"echo {tag}", status=False, timeout=timeout)
        if tag not in r.lines:
            raise E2EError(f"{self.name}: sync echo not seen: {r}")
        return self.prompts[-1]

    # -- commands ----------------------------------------------------------------------------------
    def _typed_line(self, ev: PromptEvent) -> Optional[tuple[str, int]]:
        """The text typed so far behind prompt `ev` and the cursor's absolute row, from the screen."""
        s = self._screen
        hist = len(s.history)
        cur_abs = hist + s.cursor.y
        if cur_abs < ev.abs_row:
            return None
        rows = []
        for r in range(ev.abs_row, cur_abs + 1):
            rows.append(s.row_text(r - hist) if r >= hist else s.history[r])
        text = "".join(rows[:-1]) + rows[-1][:s.cursor.x]
        prefix = ev.prompt + "> "
        if not text.startswith(prefix):
            return None
        return text[len(prefix):], cur_abs

    def _make_room(self, text: str, timeout: Optional[float]) -> None:
        """The shell's line editor cannot scroll: a line that would run past the bottom row is drawn
        over the bottom row again. Clear the screen first then (the transcript keeps everything).
        `cls` sets %lasterror%, so the status query after a command must fit without it."""
        with self._lock:
            ev = self.prompts[-1]
            row = ev.abs_row - len(self._screen.history)
            start = len(self._raw)
        needed = (len(ev.prompt) + 2 + len(text)) // self.cols + 1
        if row + needed <= self.rows or row < 0:
            return
        self.send("cls")
        self.wait_until(lambda: (self._typed_line(ev) or ("",))[0] == "cls", timeout, "echo of 'cls'")
        self.send(KEY_ENTER)
        self.wait_prompt(after=start, timeout=timeout)

    def type_line(self, text: str, timeout: Optional[float] = 60.0, chunk: int = 16,
                  make_room: bool = True) -> tuple[PromptEvent, int]:
        """Types `text` at the current prompt, a few characters at a time, each chunk only after the shell
        has echoed the previous one (its key buffer is small). Returns the prompt and the row the line ends on."""
        if any(c in text for c in "\r\n"):
            raise ValueError("type_line takes one line")
        if make_room:
            self._make_room(text, timeout)
        typed = ""
        row = 0
        while True:
            def echoed():
                ev = self.prompts[-1] if self.prompts else None
                if ev is None:
                    return None
                got = self._typed_line(ev)
                if got and got[0] == typed:
                    return ev, got[1]
                return None

            ev, row = self.wait_until(echoed, timeout, f"echo of {typed!r}")
            if typed == text:
                return ev, row
            piece = text[len(typed):len(typed) + chunk]
            self.send(piece)
            typed += piece

    def run(self, command: str, status: bool = True, timeout: Optional[float] = 60.0,
            answers: Sequence[tuple[Union[str, re.Pattern], Union[bytes, str]]] = (),
            _make_room: bool = True) -> Result:
        """Runs one shell command line and returns its rendered output and (status=True) %lasterror%.

        answers: (pattern, keys) pairs; each key string is pressed once its pattern is on the screen
        in this command's output, in order, before the command ends.
        """
        t0 = time.monotonic()
        self.wait_prompt(timeout=timeout)  # there is a prompt at all
        ev, row = self.type_line(command, timeout, make_room=_make_room)
        with self._lock:
            start = len(self._raw)
        self.send(KEY_ENTER)
        out_first = row + 1
        for pattern, keys in answers:
            rx = re.compile(pattern) if isinstance(pattern, str) else pattern
            probe_since = out_first

            def seen():
                if self._last_prompt_after(start):
                    return "prompt"
                s = self._screen
                full = s.history + [s.row_text(y) for y in range(s.lines)]
                return rx.search("\n".join(l.rstrip() for l in full[probe_since:])) and "match"

            what = self.wait_until(seen, timeout, f"/{rx.pattern}/ in the output of {command!r}")
            if what == "prompt":
                raise E2EError(f"{self.name}: {command!r} ended before /{rx.pattern}/ was shown\n"
                               f"{self._screen_dump()}")
            self.send(keys)
        boots_before = len(self.boot_offsets)
        done = self.wait_until(lambda: self._last_prompt_after(start) or
                               (len(self.boot_offsets) > boots_before and "reset"),
                               timeout, f"end of {command!r}")
        if done == "reset":
            raise E2EError(f"{self.name}: the machine reset during {command!r}\n{self._screen_dump()}")
        ev2: PromptEvent = done
        cx, crow = ev2.before_cursor
        end = crow + (1 if cx > 0 else 0)
        lines = [l.rstrip() for l in ev2.before[out_first:end]]
        st = self.last_status(timeout) if status else None
        res = Result(command=command, lines=lines, status=st, prompt=ev2.prompt,
                     seconds=time.monotonic() - t0)
        self.commands.append(res)
        self._timeline.append((time.monotonic() - self._started, res))
        return res

    def last_status(self, timeout: Optional[float] = 60.0) -> int:
        """%lasterror% of the previous command (the shell clears bit 63 of an app's status)."""
        self._marker += 1
        # The echo's own output line is found by position (right after the typed line); the tag only
        # guards against reading something else.
        tag = f"{self._marker}"
        r = self.run(f"echo {tag}:%lasterror%", status=False, timeout=timeout, _make_room=False)
        rx = re.compile(r"^" + tag + r":(0x[0-9A-Fa-f]+)$")
        for l in r.lines:
            m = rx.search(l)
            if m:
                return int(m.group(1), 16)
        raise E2EError(f"{self.name}: no status in {r}")

    def run_ok(self, command: str, **kw) -> Result:
        """run() that fails unless the status is 0 (for set-up steps)."""
        r = self.run(command, **kw)
        if r.status != 0:
            raise E2EError(f"{self.name}: set-up command failed: {r}")
        return r

    def send_line(self, command: str, timeout: Optional[float] = 60.0) -> int:
        """Types a command and Enter without waiting for it to end (e.g. one that resets the machine).
        Returns the raw offset where its output begins (for wait_text/wait_prompt)."""
        self.wait_prompt(timeout=timeout)
        self.type_line(command, timeout)
        with self._lock:
            start = len(self._raw)
        self.send(KEY_ENTER)
        return start

    def poweroff(self, timeout: Optional[float] = 60.0) -> int:
        """`reset -s` at the prompt; waits for QEMU to exit and returns its status."""
        self.send_line("reset -s", timeout)
        return self.wait_exit(timeout)
