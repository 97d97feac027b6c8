"""One QEMU process running OVMF and the UEFI Shell: its life cycle, the reader that renders its
console, the views of what is on the screen, waiting on output and sending keys."""

from __future__ import annotations

import os
import re
import select
import shutil
import subprocess
import threading
import time
from pathlib import Path
from typing import Callable, Optional, Sequence, Union

import pyte

from disk_image import DiskImage
from paths import OVMF_CODE, OVMF_VARS, TIMEOUT_SCALE, WORK_DIR, E2EError, default_qemu
from terminal import SCREEN_COLUMNS, SCREEN_ROWS, PromptEvent, Result, _RecordingScreen

# The shell draws its input prompt in bold yellow after moving the cursor to column 1 of its row.
# A script running with echo on shows each command behind the same prompt text, but without the
# cursor move: that is no input prompt.
_PROMPT_RE = re.compile(
    rb"\x1b\[(\d+);01H\x1b\[1m\x1b\[33m\x1b\[40m(Shell|[A-Za-z][A-Za-z0-9]*:[^\x1b\r\n>]*)> \x1b\[0m")
# Every cursor move to column 1 can start a prompt: the screen is remembered just before it, so that
# what a command left on the line the prompt overwrites survives.
_SNAPSHOT_AT_RE = re.compile(rb"\x1b\[\d+;01H")
_BOOT_RE = re.compile(rb"BdsDxe: starting Boot")
_SET_MODE_RE = re.compile(rb"\x1b\[=\d*[hl]")
# An escape sequence cut off at the end of a chunk is held back until the rest arrives.
_PARTIAL_ESC_RE = re.compile(rb"\x1b(?:\[[0-9;?=]*)?$")


class QemuMachine:
    """One QEMU process running OVMF and the UEFI Shell, possibly across several boots."""

    def __init__(self, disk: DiskImage, name: Optional[str] = None, qemu: Optional[str] = None,
                 extra_args: Sequence[str] = (), no_reboot: bool = False, memory_mib: int = 256,
                 timeout: float = 600.0, startup: str = "run", log_dir: Optional[Path] = None,
                 on_output: Optional[Callable[[bytes], None]] = None, usb_stick: bool = False):
        """
        disk:        the FS0: image (built here if not built yet)
        qemu:        QEMU binary (default: $E2E_QEMU or Debian's; ec_qemu() gives the emulated-EC build)
        extra_args:  more QEMU arguments (devices, -trace ...)
        no_reboot:   QEMU exits instead of rebooting on a guest reset
        timeout:     global limit for the whole machine life (all boots), in seconds (scaled)
        startup:     what to do at the shell's startup.nsh countdown of every boot:
                     "run"  - press Enter, so startup.nsh (if any) runs at once (a script that
                              reads keys itself is safer with "wait")
                     "skip" - press ESC, so startup.nsh does not run
                     "wait" - press nothing; the countdown runs out and startup.nsh (if any) runs
        on_output:   called with every piece of raw console output as it arrives (e.g. to show it live)
        usb_stick:   attach the disk as a removable USB mass-storage device (xHCI) instead of an IDE
                     disk, as a technician's stick is (Debian's QEMU and ec_qemu() both have it)
        """
        self.disk = disk
        self.name = name or disk.name
        self.qemu = qemu or default_qemu()
        self.extra_args = list(extra_args)
        self.no_reboot = no_reboot
        self.memory_mib = memory_mib
        self.timeout = timeout * TIMEOUT_SCALE
        self.startup = startup
        self.log_dir = Path(log_dir) if log_dir else WORK_DIR / "logs"
        self.cols, self.rows = SCREEN_COLUMNS, SCREEN_ROWS
        self.on_output = on_output
        self.usb_stick = usb_stick

        self.proc: Optional[subprocess.Popen] = None
        self._screen = _RecordingScreen(self.cols, self.rows)
        self._stream = pyte.Stream(self._screen)
        self._lock = threading.Condition()
        self._raw = bytearray()
        self._fed = 0  # bytes of _raw fed to the screen
        self._snapshots: dict[int, tuple[int, list[str], tuple[int, int]]] = {}
        self._prompt_scan = 0
        self._boot_scan = 0
        self.prompts: list[PromptEvent] = []
        self.boot_offsets: list[int] = []  # raw offsets at which each boot started the shell
        self._countdowns_answered = 0
        self._mode_checked = False
        self._legacy_written: list[tuple[int, int]] = []
        self._timeline: list[tuple[float, Result]] = []
        self._started = time.monotonic()
        self._reader: Optional[threading.Thread] = None
        self._eof = False
        self._deadline = 0.0
        self._marker = 0
        self.returncode: Optional[int] = None
        self.commands: list[Result] = []

    # -- life cycle --------------------------------------------------------------------------------
    def __enter__(self):
        self.start()
        return self

    def __exit__(self, exc_type, exc, tb):
        self.close(failed=exc_type is not None)
        return False

    def qemu_command(self) -> list[str]:
        vars_copy = self.log_dir / f"{self.name}.vars.fd"
        args = [self.qemu, "-machine", "q35", "-m", str(self.memory_mib), "-nodefaults", "-no-user-config",
                "-display", "none", "-monitor", "none", "-serial", "stdio",
                "-drive", f"if=pflash,format=raw,unit=0,readonly=on,file={OVMF_CODE}",
                "-drive", f"if=pflash,format=raw,unit=1,file={vars_copy}"]
        if self.usb_stick:
            args += ["-device", "qemu-xhci,id=xhci",
                     "-drive", f"if=none,id=stick,file={self.disk.path},format=raw",
                     "-device", "usb-storage,bus=xhci.0,drive=stick,removable=on"]
        else:
            args += ["-drive", f"file={self.disk.path},format=raw,if=ide,index=0,media=disk"]
        if Path("/usr/share/qemu").is_dir():
            args += ["-L", "/usr/share/qemu"]
        if self.no_reboot:
            args.append("-no-reboot")
        return args + self.extra_args

    def start(self) -> "QemuMachine":
        if not self.disk.built:
            self.disk.build()
        self.log_dir.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(OVMF_VARS, self.log_dir / f"{self.name}.vars.fd")
        cmd = self.qemu_command()
        (self.log_dir / f"{self.name}.cmd").write_text(" ".join(cmd) + "\n")
        self.proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=open(self.log_dir / f"{self.name}.qemu.stderr", "wb"),
                                     bufsize=0)
        self._deadline = time.monotonic() + self.timeout
        self._started = time.monotonic()
        self._reader = threading.Thread(target=self._read_loop, name=f"qemu-{self.name}", daemon=True)
        self._reader.start()
        return self

    def close(self, failed: bool = False) -> None:
        """Stops QEMU (if still running) and writes the logs."""
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        if self.proc:
            self.returncode = self.proc.returncode
        if self._reader:
            self._reader.join(5)
        self.write_logs()

    def write_logs(self) -> None:
        try:
            self.log_dir.mkdir(parents=True, exist_ok=True)
            with self._lock:
                raw = bytes(self._raw)
                lines = self.transcript()
            (self.log_dir / f"{self.name}.raw").write_bytes(raw)
            (self.log_dir / f"{self.name}.screen.txt").write_text("\n".join(lines) + "\n")
            with open(self.log_dir / f"{self.name}.commands.txt", "w") as f:
                for at, r in self._timeline:
                    st = "-" if r.status is None else f"0x{r.status:X}"
                    f.write(f"{at:8.2f}s {r.seconds:6.2f}s {st:>6}  {r.command}\n")
        except OSError:
            pass

    # -- output processing (reader thread) ---------------------------------------------------------
    def _read_loop(self) -> None:
        fd = self.proc.stdout.fileno()
        carry = b""
        carry_since = 0.0
        while True:
            r, _, _ = select.select([fd], [], [], 0.1)
            if not r:
                # An escape sequence that never completed: show it as it is. A busy host can stall
                # QEMU in the middle of one for a while, and a prompt's cursor move that is split
                # and shown early is no longer recognised, so wait well beyond such stalls.
                if carry and time.monotonic() - carry_since > 5.0:
                    with self._lock:
                        self._process(carry)
                        carry = b""
                        self._lock.notify_all()
                continue
            try:
                chunk = os.read(fd, 65536)
            except OSError:
                chunk = b""
            if not chunk:
                with self._lock:
                    if carry:
                        self._process(carry)
                    self._eof = True
                    self._lock.notify_all()
                return
            if self.on_output:
                self.on_output(chunk)
            data = carry + chunk
            m = _PARTIAL_ESC_RE.search(data)
            if m and len(data) - m.start() < 32:
                if not carry:
                    carry_since = time.monotonic()
                carry, data = data[m.start():], data[:m.start()]
            else:
                carry = b""
            with self._lock:
                self._process(data)
                self._lock.notify_all()

    def _snapshot(self) -> tuple[int, list[str], tuple[int, int]]:
        s = self._screen
        return (len(s.history), [s.row_text(y) for y in range(s.lines)], (s.cursor.x, s.cursor.y))

    def _feed(self, data: bytes) -> None:
        # The PC-ANSI "set mode" sequence (ESC [ = 3 h) changes nothing visible and pyte would print it.
        data = _SET_MODE_RE.sub(b"", data)
        # 8-bit output: PC-ANSI terminals send box characters as code page 437 bytes.
        self._stream.feed(data.decode("cp437"))

    def _process(self, data: bytes) -> None:
        base = len(self._raw)
        self._raw += data
        pos = 0
        for m in _SNAPSHOT_AT_RE.finditer(data):
            self._feed(data[pos:m.start()])
            pos = m.start()
            self._snapshots[base + pos] = self._snapshot()
        self._feed(data[pos:])
        self._fed = len(self._raw)
        # Boots
        for m in _BOOT_RE.finditer(self._raw, self._boot_scan):
            self.boot_offsets.append(m.start())
            self._boot_scan = m.end()
        self._boot_scan = max(self._boot_scan, len(self._raw) - 64)
        # Prompts
        for m in _PROMPT_RE.finditer(self._raw, self._prompt_scan):
            snap = self._snapshots.get(m.start())
            if snap is None:
                continue
            hist_len, display, (cx, cy) = snap
            before = self._screen.history[:hist_len] + display
            row = int(m.group(1)) - 1
            self.prompts.append(PromptEvent(
                offset=m.start(), prompt=m.group(2).decode("latin-1"), abs_row=hist_len + row,
                before=before, before_cursor=(cx, hist_len + cy), boot=len(self.boot_offsets)))
            self._prompt_scan = m.end()
        self._prompt_scan = max(self._prompt_scan, len(self._raw) - 1024)
        if len(self._snapshots) > 256:
            keep = sorted(self._snapshots)[-128:]
            self._snapshots = {k: self._snapshots[k] for k in keep}

    # -- views -------------------------------------------------------------------------------------
    def screen_lines(self) -> list[str]:
        """The display as it is now (rows x columns), trailing blanks removed."""
        with self._lock:
            return [self._screen.row_text(y).rstrip() for y in range(self.rows)]

    def transcript(self) -> list[str]:
        """Every rendered line of the session so far: scrolled-off and cleared lines, then the display
        down to the cursor's row (that row only when something stands on it) or the last text below."""
        with self._lock:
            s = self._screen
            rows = [s.row_text(y).rstrip() for y in range(s.lines)]
            last = s.cursor.y if s.cursor.x > 0 else s.cursor.y - 1
            for y, text in enumerate(rows):
                if text:
                    last = max(last, y)
            return [l.rstrip() for l in s.history] + rows[:last + 1]

    def char(self, row: int, col: int):
        """The pyte Char (data, fg, bg, bold, reverse ...) at a display position."""
        with self._lock:
            return self._screen.buffer[row][col]

    def cursor(self) -> tuple[int, int]:
        """(column, absolute transcript row) of the cursor."""
        with self._lock:
            return self._screen.cursor.x, len(self._screen.history) + self._screen.cursor.y

    def raw(self) -> bytes:
        with self._lock:
            return bytes(self._raw)

    @property
    def boots(self) -> int:
        with self._lock:
            return len(self.boot_offsets)

    @property
    def running(self) -> bool:
        return self.proc is not None and self.proc.poll() is None

    def mark(self) -> int:
        """A position in the transcript (the cursor's row); see lines_since()."""
        return self.cursor()[1]

    def lines_since(self, mark: int) -> list[str]:
        return self.transcript()[mark:]

    # -- waiting -----------------------------------------------------------------------------------
    def _remaining(self, timeout: Optional[float]) -> float:
        now = time.monotonic()
        limit = self._deadline - now
        if timeout is not None:
            limit = min(limit, timeout * TIMEOUT_SCALE)
        return limit

    def wait_until(self, predicate: Callable[[], object], timeout: Optional[float] = 60.0,
                   what: str = "condition") -> object:
        """Waits (on output, never on fixed sleeps) until predicate() is true; called with the lock held."""
        end = time.monotonic() + self._remaining(timeout)
        with self._lock:
            while True:
                value = predicate()
                if value:
                    return value
                if self._eof:
                    self._lock.release()
                    try:
                        self.proc.wait(5)
                    except subprocess.TimeoutExpired:
                        pass
                    finally:
                        self._lock.acquire()
                    value = predicate()
                    if value:
                        return value
                    raise E2EError(f"{self.name}: QEMU exited (status {self.proc.poll()}) while waiting for "
                                   f"{what}\n{self._screen_dump()}")
                left = end - time.monotonic()
                if left <= 0:
                    global_hit = time.monotonic() >= self._deadline
                    raise E2EError(f"{self.name}: timeout{' (machine limit)' if global_hit else ''} waiting for "
                                   f"{what}\n{self._screen_dump()}")
                self._lock.wait(min(left, 0.5))

    def _screen_dump(self) -> str:
        s = self._screen
        rows = [s.row_text(y).rstrip() for y in range(s.lines)]
        while rows and not rows[-1]:
            rows.pop()
        return "--- screen ---\n" + "\n".join(rows) + "\n--------------"

    def wait_text(self, pattern: Union[str, re.Pattern], timeout: Optional[float] = 60.0,
                  since: Optional[int] = None) -> re.Match:
        """Waits until `pattern` (regex) matches the rendered text: the display, or with `since`
        (a mark) every transcript line from there on. Returns the match."""
        rx = re.compile(pattern) if isinstance(pattern, str) else pattern

        def probe():
            s = self._screen
            if since is None:
                rows = [s.row_text(y).rstrip() for y in range(s.lines)]
            else:
                full = s.history + [s.row_text(y) for y in range(s.lines)]
                rows = [l.rstrip() for l in full[since:]]
            return rx.search("\n".join(rows))

        return self.wait_until(probe, timeout, f"text /{rx.pattern}/")

    def wait_boot(self, n: int, timeout: Optional[float] = 120.0) -> None:
        """Waits until the firmware has started the shell for the n-th time (1 = first boot)."""
        self.wait_until(lambda: len(self.boot_offsets) >= n, timeout, f"boot #{n}")

    def wait_exit(self, timeout: Optional[float] = 60.0) -> int:
        """Waits for QEMU to end (power-off, or a reset with no_reboot); returns its exit status."""
        end = time.monotonic() + self._remaining(timeout)
        while self.proc.poll() is None:
            if time.monotonic() > end:
                raise E2EError(f"{self.name}: QEMU did not exit\n{self._screen_dump()}")
            with self._lock:
                self._lock.wait(0.2)
        self._reader.join(5)
        self.returncode = self.proc.returncode
        return self.returncode

    def _last_prompt_after(self, offset: int) -> Optional[PromptEvent]:
        for ev in reversed(self.prompts):
            if ev.offset >= offset:
                return ev
            break
        return None

    def wait_prompt(self, after: int = 0, timeout: Optional[float] = 60.0) -> PromptEvent:
        """Waits for the shell to draw a prompt at or beyond raw offset `after`."""
        return self.wait_until(lambda: self._last_prompt_after(after), timeout, "shell prompt")

    # -- input -------------------------------------------------------------------------------------
    def send(self, keys: Union[bytes, str]) -> None:
        """Sends key strokes as they are (no waiting)."""
        if isinstance(keys, str):
            keys = keys.encode("latin-1")
        if not self.running:
            raise E2EError(f"{self.name}: QEMU is not running")
        try:
            self.proc.stdin.write(keys)
            self.proc.stdin.flush()
        except BrokenPipeError as e:
            raise E2EError(f"{self.name}: QEMU input closed") from e
