"""FAT disk images for the test machines: filled on the host with mtools before a boot, read back
after it (or between commands)."""

from __future__ import annotations

import os
import shutil
import subprocess
import tempfile
from pathlib import Path
from typing import Optional, Sequence, Union

from paths import EFI_DIR, KIT_DIR, REPO, STANDIN_EFI, WORK_DIR, E2EError


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


def read_image_file(image: Path, path: str) -> bytes:
    """The bytes of a file in the first partition of a partitioned image (e.g. the kit's stick)."""
    return _run_tool(["mcopy", "-i", f"{image}@@{partition_offset(image)}", "-n", _dos_path(path), "-"])


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

