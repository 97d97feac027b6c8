"""End-to-end harness: boots the real UEFI Shell (OVMF) under QEMU and drives it over the serial console.

The console is rendered with pyte exactly as a VT100 terminal would show it (in-place cursor moves and
attributes included); every line that scrolls off the top or is wiped by a screen clear is kept, so a
test sees the whole session as one transcript of rendered lines.

Typical use (see README.md):

    disk = DiskImage("chk")
    disk.add_efi("CHKSUM.efi")
    disk.add_file("DATA.BIN", b"\\xff" * 100)
    with Machine(disk, name="chk") as m:
        m.boot()
        r = m.run("CHKSUM.efi DATA.BIN")
        check.status(r, 0)
        check.lines(r.lines, [...])
        m.poweroff()
    check.done()
"""

from __future__ import annotations

import difflib
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import threading
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Callable, Optional, Sequence, Union

import pyte

REPO = Path(__file__).resolve().parents[2]
BUILD = REPO / "build"
EFI_DIR = Path(os.environ.get("E2E_EFI_DIR", BUILD / "efi"))
WORK_DIR = Path(os.environ.get("E2E_WORK_DIR", BUILD / "e2e"))
# The technician's kit (`make usb`, tools/make-usb.sh).
KIT_DIR = Path(os.environ.get("E2E_KIT_DIR", BUILD / "usb"))

OVMF_CODE = Path(os.environ.get("E2E_OVMF_CODE", "/usr/share/OVMF/OVMF_CODE_4M.fd"))
OVMF_VARS = Path(os.environ.get("E2E_OVMF_VARS", "/usr/share/OVMF/OVMF_VARS_4M.fd"))
SYSTEM_QEMU = "/usr/bin/qemu-system-x86_64"
EC_QEMU = REPO / ".cache" / "qemu-ec" / "build" / "qemu-system-x86_64"
# The stand-in information tool (tests/uefi/StandIn); test-only modules are built into build/efi/test/.
STANDIN_EFI = "test/StandIn.efi"

# Multiplies every timeout; raise it on a slow or busy machine.
TIMEOUT_SCALE = float(os.environ.get("E2E_TIMEOUT_SCALE", "1"))

# Key strokes as a VT100 terminal sends them.
KEY_ENTER = b"\r"
KEY_ESC = b"\x1b"
KEY_UP = b"\x1b[A"
KEY_DOWN = b"\x1b[B"
KEY_RIGHT = b"\x1b[C"
KEY_LEFT = b"\x1b[D"
KEY_BACKSPACE = b"\x08"

# The shell draws its input prompt in bold yellow after moving the cursor to column 1 of its row.
# A script running with echo on shows each command behind the same prompt text, but without the
# cursor move: that is no input prompt.
_PROMPT_RE = re.compile(
    rb"\x1b\[(\d+);01H\x1b\[1m\x1b\[33m\x1b\[40m(Shell|[A-Za-z][A-Za-z0-9]*:[^\x1b\r\n>]*)> \x1b\[0m")
# Every cursor move to column 1 can start a prompt: the screen is remembered just before it, so that
# what a command left on the line the prompt overwrites survives.
_SNAPSHOT_AT_RE = re.compile(rb"\x1b\[\d+;01H")
_BOOT_RE = re.compile(rb"BdsDxe: starting Boot")
_COUNTDOWN_RE = re.compile(r"Press ESC in \d+ seconds? to skip startup\.nsh")
_SET_MODE_RE = re.compile(rb"\x1b\[=\d*[hl]")
# An escape sequence cut off at the end of a chunk is held back until the rest arrives.
_PARTIAL_ESC_RE = re.compile(rb"\x1b(?:\[[0-9;?=]*)?$")

_SCREEN_COLUMNS = 80
_SCREEN_ROWS = 50


def default_qemu() -> str:
    """The QEMU a Machine boots unless told otherwise: $E2E_QEMU, else Debian's."""
    return os.environ.get("E2E_QEMU") or SYSTEM_QEMU


def ec_qemu() -> Optional[str]:
    """The QEMU build with the emulated board EC (tools/build-qemu-ec.sh), when it has been built."""
    if EC_QEMU.is_file() and os.access(EC_QEMU, os.X_OK):
        return str(EC_QEMU)
    return None


class E2EError(AssertionError):
    """A harness step failed (timeout, QEMU gone, unexpected reset); carries the screen for the log."""


# --------------------------------------------------------------------------------------------------
# FAT disk image
# --------------------------------------------------------------------------------------------------

def _mtools_env() -> dict:
    env = dict(os.environ)
    env["MTOOLS_SKIP_CHECK"] = "1"
    # mtools reads and writes long names in the locale's encoding; in the C locale a name such as
    # "Müller" would land as the two characters of each UTF-8 byte pair.
    env["LC_ALL"] = "C.UTF-8"
    return env


def _run_tool(args: Sequence[str], input: Optional[bytes] = None) -> bytes:
    proc = subprocess.run(list(args), input=input, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          env=_mtools_env())
    if proc.returncode != 0:
        raise E2EError(f"{' '.join(args)} failed ({proc.returncode}): {proc.stderr.decode(errors='replace')}")
    return proc.stdout


def _dos_path(path: str) -> str:
    path = path.replace("\\", "/").lstrip("/")
    return "::/" + path


class DiskImage:
    """A raw FAT image without partition table, or a copy of a partitioned one (`base`); QEMU shows
    it to OVMF as FS0:.

    Files are collected first and written by build() (Machine calls it); after the machine has run,
    read_file() and friends read the image back with mtools.
    """

    def __init__(self, name: str, size_mib: int = 32, directory: Optional[Path] = None,
                 base: Optional[Path] = None):
        """base: a partitioned disk image (e.g. the kit's stick, kit_image()) that build() copies and
        adds the files to, in its first partition; without it the image is a bare FAT file system."""
        self.name = name
        self.size_mib = size_mib
        self.directory = Path(directory) if directory else WORK_DIR / "images"
        self.path = self.directory / f"{name}.img"
        self.base = Path(base) if base else None
        # Byte offset of the FAT file system in the image (0: no partition table).
        self.offset = partition_offset(self.base) if self.base else 0
        self._dirs: list[str] = []
        self._files: list[tuple[str, Union[bytes, Path]]] = []
        self.built = False

    @property
    def mtools_image(self) -> str:
        """The image as mtools' -i takes it, with the partition's offset (img@@OFFSET)."""
        return f"{self.path}@@{self.offset}" if self.offset else str(self.path)

    # -- filling -----------------------------------------------------------------------------------
    def add_dir(self, path: str) -> "DiskImage":
        parts = path.replace("\\", "/").strip("/").split("/")
        for i in range(1, len(parts) + 1):
            d = "/".join(parts[:i])
            if d and d not in self._dirs:
                self._dirs.append(d)
        return self

    def add_file(self, path: str, data: Union[bytes, str, Path]) -> "DiskImage":
        """Adds a file; `data` is the content (bytes, or str written as 8-bit text) or a host Path."""
        path = path.replace("\\", "/").strip("/")
        if "/" in path:
            self.add_dir(path.rsplit("/", 1)[0])
        if isinstance(data, str):
            data = data.encode("latin-1")
        self._files = [(p, d) for p, d in self._files if p.lower() != path.lower()]
        self._files.append((path, data))
        return self

    def add_text_ucs2(self, path: str, text: str, bom: bool = True) -> "DiskImage":
        """Adds a file as the shell's redirection writes it: UCS-2 little-endian, BOM, CR LF."""
        data = text.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-16-le")
        return self.add_file(path, (b"\xff\xfe" if bom else b"") + data)

    def add_efi(self, name: str, as_name: Optional[str] = None, directory: str = "") -> "DiskImage":
        """Adds build/efi/<name> (e.g. CHKSUM.efi) under `as_name` in `directory`."""
        src = require_efi(name)
        dest = as_name or name
        return self.add_file(f"{directory.strip('/')}/{dest}" if directory else dest, src)

    def add_standin(self, tool: str, output: Union[str, bytes, None] = None, status: Optional[int] = None,
                    arg: Optional[str] = None, directory: str = "") -> "DiskImage":
        """Puts the stand-in tool on the disk as <tool>.efi and sets what it prints and returns.

        tool "MeInfo", arg "fitver": `MeInfo.efi -fitver` prints MeInfo_fitver.out and ends with
        MeInfo_fitver.sts; without arg, `MeInfo.efi` (no argument) uses MeInfo.out / MeInfo.sts.
        """
        self.add_efi(STANDIN_EFI, as_name=f"{tool}.efi", directory=directory)
        self.set_standin(tool, output=output, status=status, arg=arg, directory=directory)
        return self

    def set_standin(self, tool: str, output: Union[str, bytes, None] = None, status: Optional[int] = None,
                    arg: Optional[str] = None, directory: str = "") -> "DiskImage":
        prefix = f"{directory.strip('/')}/" if directory else ""
        key = f"{tool}_{arg}" if arg else tool
        if output is not None:
            self.add_file(f"{prefix}{key}.out", output)
        if status is not None:
            self.add_file(f"{prefix}{key}.sts", f"{status:X}")
        return self

    # -- building ----------------------------------------------------------------------------------
    def build(self) -> Path:
        self.directory.mkdir(parents=True, exist_ok=True)
        if self.path.exists():
            self.path.unlink()
        if self.base:
            shutil.copyfile(self.base, self.path)
        else:
            _run_tool(["mkfs.fat", "-C", "-n", "E2E", str(self.path), str(self.size_mib * 1024)])
        img = self.mtools_image
        for d in self._dirs:
            # A copied image may have the directory already (mdir succeeds on it, empty or not).
            if self.base and subprocess.run(["mdir", "-i", img, "-b", _dos_path(d)], env=_mtools_env(),
                                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL
                                            ).returncode == 0:
                continue
            _run_tool(["mmd", "-i", img, _dos_path(d)])
        with tempfile.TemporaryDirectory(prefix="e2e-img-") as staging:
            for i, (dest, data) in enumerate(self._files):
                if isinstance(data, Path):
                    src = data
                else:
                    src = Path(staging) / f"f{i}"
                    src.write_bytes(data)
                _run_tool(["mcopy", "-i", img, "-o", str(src), _dos_path(dest)])
        self.built = True
        return self.path

    # -- reading back (after the machine has stopped, or between commands) -------------------------
    def read_file(self, path: str) -> bytes:
        """The exact bytes of a file on the image."""
        return _run_tool(["mcopy", "-i", self.mtools_image, "-n", _dos_path(path), "-"])

    def read_text_ucs2(self, path: str) -> str:
        data = self.read_file(path)
        if data.startswith(b"\xff\xfe"):
            data = data[2:]
        return data.decode("utf-16-le")

    def exists(self, path: str) -> bool:
        proc = subprocess.run(["mdir", "-i", self.mtools_image, "-b", _dos_path(path)],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=_mtools_env())
        return proc.returncode == 0 and bool(proc.stdout.strip())

    def list_dir(self, path: str = "") -> list[str]:
        """Names (long names as stored) in a directory of the image, without . and .."""
        out = _run_tool(["mdir", "-i", self.mtools_image, "-b", _dos_path(path) if path else "::/"])
        names = []
        for line in out.decode(errors="replace").splitlines():
            line = line.strip()
            if not line:
                continue
            name = line.rstrip("/").replace("\\", "/").rsplit("/", 1)[-1]
            if name not in (".", ".."):
                names.append(name)
        return names

    def write_file(self, path: str, data: Union[bytes, str]) -> None:
        """Replaces or adds a file on an already built image (machine stopped)."""
        if isinstance(data, str):
            data = data.encode("latin-1")
        path = path.replace("\\", "/").strip("/")
        _run_tool(["mcopy", "-i", self.mtools_image, "-o", "-", _dos_path(path)], input=data)

    def delete_file(self, path: str) -> None:
        _run_tool(["mdel", "-i", self.mtools_image, _dos_path(path)])


def partition_offset(image: Path) -> int:
    """Byte offset of the first partition of an MBR-partitioned disk image."""
    with open(image, "rb") as f:
        mbr = f.read(512)
    if len(mbr) < 512 or mbr[510:512] != b"\x55\xaa":
        raise E2EError(f"{image}: no partition table")
    entry = mbr[446:462]
    if entry[4] in (0x00, 0xEE):
        raise E2EError(f"{image}: first partition missing or GPT (type 0x{entry[4]:02X})")
    return int.from_bytes(entry[8:12], "little") * 512


def kit_version() -> str:
    """The version in the kit's file names (as tools/make-usb.sh names them for this tree)."""
    proc = subprocess.run([str(REPO / "tools" / "make-usb.sh"), "--version"], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, check=False)
    if proc.returncode != 0:
        raise E2EError(f"tools/make-usb.sh --version failed: {proc.stderr.decode(errors='replace')}")
    return proc.stdout.decode().strip()


def kit_image() -> Path:
    """build/usb/NAVO-<version>.img, the technician's stick as `make usb` built it for this tree."""
    p = KIT_DIR / f"NAVO-{kit_version()}.img"
    if not p.is_file():
        raise E2EError(f"missing {p}: run `make usb` first")
    return p


def require_efi(name: str) -> Path:
    """build/efi/<name>; a missing build output fails the test loudly (never skipped silently)."""
    p = EFI_DIR / name
    if not p.is_file():
        raise E2EError(f"missing {p}: run `make efi` first")
    return p


# --------------------------------------------------------------------------------------------------
# Terminal rendering
# --------------------------------------------------------------------------------------------------

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


class Machine:
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
        self.cols, self.rows = _SCREEN_COLUMNS, _SCREEN_ROWS
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

    def start(self) -> "Machine":
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

    # -- board and shell helpers -------------------------------------------------------------------
    def cd(self, path: str) -> Result:
        """Changes the current directory (e.g. "fs0:\\TOOLS"); `fs0:` first so the mapping is current."""
        if ":" in path:
            mapping, rest = path.split(":", 1)
            self.run_ok(f"{mapping}:")
            path = rest or "\\"
        return self.run_ok(f"cd {path}")

    @staticmethod
    def _aligned_pieces(address: int, count: int) -> list[tuple[int, int]]:
        """(address, width) pieces covering the range with the widest aligned accesses mm allows."""
        pieces = []
        end = address + count
        while address < end:
            for width in (8, 4, 2, 1):
                if address % width == 0 and address + width <= end:
                    pieces.append((address, width))
                    address += width
                    break
        return pieces

    def write_memory(self, address: int, data: bytes) -> None:
        """Writes bytes of physical memory with the shell's mm (widest aligned accesses)."""
        for addr, width in self._aligned_pieces(address, len(data)):
            value = int.from_bytes(data[addr - address:addr - address + width], "little")
            self.run_ok(f"mm {addr:X} {value:0{width * 2}X} -w {width} -MEM -n")

    def read_memory(self, address: int, count: int) -> bytes:
        """Reads bytes of physical memory with the shell's mm."""
        out = bytearray()
        for addr, width in self._aligned_pieces(address, count):
            r = self.run_ok(f"mm {addr:X} -w {width} -MEM -n")
            m = re.search(r":\s*0x([0-9A-Fa-f]{%d})\b" % (width * 2), r.text)
            if not m:
                raise E2EError(f"{self.name}: cannot read mm output: {r}")
            out += int(m.group(1), 16).to_bytes(width, "little")
        return bytes(out)

    def write_legacy_signature(self, signature: Union[bytes, str, None] = b"$$ZAN-",
                               address: int = 0xF0000) -> None:
        """Puts the board signature into the legacy BIOS area 0xF0000-0xFFFFF at `address`.

        The area reads 0xFF and ignores writes until the chipset maps it to RAM (q35 PAM0, config
        register 0x90 of the host bridge: 0x30 = reads and writes go to RAM, which is zero). QEMU
        keeps PAM0 and the RAM across guest resets, so a signature stays for later boots of the
        same machine, as the real board's does. Signatures written earlier by this helper are
        wiped first, so only the new one is there. None leaves no signature at all: the area is
        unmapped again and reads 0xFF."""
        if isinstance(signature, str):
            signature = signature.encode("latin-1")
        if signature is not None:
            if not 0xF0000 <= address or address + len(signature) - 1 > 0xFFFFF:
                raise ValueError("signature outside the legacy area 0xF0000-0xFFFFF")
        self.run_ok("mm 000000000090 30 -w 1 -PCI -n")
        for addr, length in self._legacy_written:
            self.write_memory(addr, bytes(length))
        self._legacy_written = []
        if signature is None:
            self.run_ok("mm 000000000090 00 -w 1 -PCI -n")
            return
        self.write_memory(address, signature)
        self._legacy_written.append((address, len(signature)))

    def setvar(self, name: str, guid: str, data: Optional[bytes], attrs: str = "-bs -rt -nv") -> Result:
        """Writes (data) or deletes (None or b"") a UEFI variable with the shell's setvar. The
        attributes only apply when the variable is created (-nv keeps it across resets)."""
        if not data:
            # An empty value deletes the variable; deleting a missing one fails, which is fine here.
            return self.run(f"setvar {name} -guid {guid} =")
        return self.run_ok(f"setvar {name} -guid {guid} {attrs} =H{data.hex().upper()}")

    def load_driver(self, path: str) -> Result:
        """`load` a driver (.efi) so that the next commands can use the protocols it installs."""
        return self.run_ok(f"load {path}")


MEINFO_SETUP_GUID = "78259433-7B6D-4DB3-9AE8-36C4C2C3A17D"


def meinfo_setup_bytes(major: int, minor: int, hotfix: int, build: int, first: int = 0,
                       tail: bytes = b"\x00" * 5) -> bytes:
    """The MeInfoSetup variable layout: 1 byte, four little-endian 32-bit fields, 5 bytes."""
    import struct
    return bytes([first]) + struct.pack("<IIII", major, minor, hotfix, build) + tail


# --------------------------------------------------------------------------------------------------
# Checking
# --------------------------------------------------------------------------------------------------

def diff(expected: Sequence[str], actual: Sequence[str], title: str = "") -> str:
    d = difflib.unified_diff(list(expected), list(actual), fromfile="expected", tofile="actual",
                             lineterm="", n=3)
    return (title + "\n" if title else "") + "\n".join(d)


class Check:
    """Soft assertions: a group of checks in one boot reports every mismatch, then fails at done()."""

    def __init__(self, name: str = ""):
        self.name = name
        self.failures: list[str] = []
        self.count = 0

    def _fail(self, msg: str) -> None:
        self.failures.append(msg)
        print("FAILED CHECK: " + msg, file=sys.stderr, flush=True)

    def true(self, cond: object, msg: str) -> bool:
        self.count += 1
        if not cond:
            self._fail(msg)
            return False
        return True

    def equal(self, actual, expected, msg: str = "") -> bool:
        self.count += 1
        if actual != expected:
            self._fail(f"{msg}: expected {expected!r}, got {actual!r}")
            return False
        return True

    def status(self, result: Result, expected: int) -> bool:
        self.count += 1
        if result.status != expected:
            self._fail(f"{result.command!r}: status expected 0x{expected:X}, got "
                       f"{'none' if result.status is None else hex(result.status)}\n{result}")
            return False
        return True

    def lines(self, actual: Sequence[str], expected: Sequence[str], msg: str = "") -> bool:
        """Whole-region comparison of rendered lines (trailing blanks ignored)."""
        self.count += 1
        a = [l.rstrip() for l in actual]
        e = [l.rstrip() for l in expected]
        if a != e:
            self._fail(diff(e, a, msg or "screen lines differ"))
            return False
        return True

    def output(self, result: Result, expected: Sequence[str], status: Optional[int] = None) -> bool:
        ok = self.lines(result.lines, expected, f"output of {result.command!r}")
        if status is not None:
            ok = self.status(result, status) and ok
        return ok

    def bytes_equal(self, actual: bytes, expected: bytes, msg: str = "") -> bool:
        self.count += 1
        if actual != expected:
            self._fail(f"{msg}: bytes differ\n expected {expected[:200]!r}{'...' if len(expected) > 200 else ''}"
                       f"\n actual   {actual[:200]!r}{'...' if len(actual) > 200 else ''}")
            return False
        return True

    def done(self) -> None:
        if self.failures:
            raise AssertionError(f"{len(self.failures)} of {self.count} checks failed:\n\n" +
                                 "\n\n".join(self.failures))
        if self.count == 0:
            raise AssertionError("no checks were made")


def run_standalone(tests: list, only: Optional[list[str]] = None) -> int:
    """Runs a test file's tests in this process (python3 test_x.py [name ...]); returns the exit status."""
    selected = [t for t in tests if not only or t.__name__ in only]
    failed = 0
    for t in selected:
        try:
            t()
            print(f"PASS {t.__name__}", flush=True)
        except AssertionError as e:  # E2EError included
            failed += 1
            print(f"FAIL {t.__name__}\n{e}", flush=True)
    print(f"{len(selected) - failed} passed, {failed} failed")
    return 1 if failed else 0
