#!/usr/bin/python3
"""A virtual board for trying the tools by hand (`make run`, tools/run.sh).

Copies the technician's stick (`make usb`: the UEFI Shell as \\EFI\\BOOT\\BOOTX64.EFI, NAVO.efi,
NAVOREC.efi, CHKSUM.efi, README.TXT, EXAMPLES\\) and adds stand-ins for the information tools
(MeInfo.efi, TXEInfo.efi), the maker's GO.nsh (the kit's template with a stand-in flash), a sample
BIOS image, a few sample files and BOARD.TXT. Boots the stick, as the only disk, in QEMU (the
build with the emulated board EC when .cache holds one, and the board's SMBIOS identity), writes
the board signature into the legacy BIOS area, runs a short demonstration and then leaves the
person at the shell prompt. Without a terminal (stdin not a tty, e.g. in CI) it powers off
after the demonstration and prints the rendered session.

    tools/board.py [--batch] [--no-demo] [--keep-mode]
"""

from __future__ import annotations

import argparse
import os
import select
import shutil
import sys
import termios
import tty
from pathlib import Path

# The board is built with the end-to-end harness and the tests' sample image.
REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
sys.path.insert(0, str(REPO / "tests" / "shared"))

from fw_images import SAMPLE_NAME, SAMPLE_VERSION, sample_bios_image  # noqa: E402,F401  (shared)
from harness import (BUILD, SYSTEM_QEMU, DiskImage, E2EError, Machine, ec_qemu, kit_image,  # noqa: E402
                     read_image_file)

BOARD_ME_VERSION = "12.0.49.1534"
# What TXEInfo.efi reports, so that the kit's TXE examples run here too.
BOARD_TXE_VERSION = "4.0.25.1350"
IMAGE_NAME = SAMPLE_NAME
IMAGE_ME_VERSION = ".".join(map(str, SAMPLE_VERSION))
# The board's identity in SMBIOS (type 1), which the service history records.
SMBIOS = {"manufacturer": "ZAN Corp.", "product": "Q420TM", "serial": "VB 0815"}
CTRL_RIGHT_BRACKET = b"\x1d"

MEINFO_TEXT = f"""Intel(R) MEInfo Version: 12.0.10.1127
Copyright(C) 2005 - 2019, Intel Corporation. All rights reserved.

(stand-in tool of the virtual board: prints MeInfo.out, ends with MeInfo.sts)

FW Version:                          {BOARD_ME_VERSION} H
Flash Version:                       {BOARD_ME_VERSION}
"""

TXEINFO_TEXT = f"""Intel(R) TXEInfo Version: 4.0.10.1127
Copyright(C) 2005 - 2019, Intel Corporation. All rights reserved.

(stand-in tool of the virtual board: prints TXEInfo.out, ends with TXEInfo.sts)

FW Version:                          {BOARD_TXE_VERSION}
"""

# The stand-in flash, in place of the maker's commands in the kit's GO.nsh template: the board's
# stand-in MeInfo.efi reports the image's version from then on, as a board does after a flash
# that took.
FLASH_LINES = [
    'echo "GO.nsh %1: the maker\'s script flashes BIOS and ME firmware here."',
    f'echo "(stand-in on the virtual board: MeInfo.efi now reports {IMAGE_ME_VERSION})"',
    f'echo "FW Version:                          {IMAGE_ME_VERSION} H" >a MeInfo.out',
    "set -v GO_STATUS %lasterror%",
]
FLASH_BEGIN = "# ---- the maker's flash commands"
FLASH_END = "# ---- end of the maker's flash commands"


def go_nsh() -> str:
    """EXAMPLES\\GO.nsh as the kit ships it, with the stand-in flash between its markers."""
    lines = read_image_file(kit_image(), "EXAMPLES/GO.nsh").decode("ascii").split("\r\n")
    begin = [i for i, line in enumerate(lines) if line.startswith(FLASH_BEGIN)]
    end = [i for i, line in enumerate(lines) if line.startswith(FLASH_END)]
    if len(begin) != 1 or len(end) != 1 or begin[0] > end[0]:
        raise E2EError("the kit's EXAMPLES\\GO.nsh has no one place for the maker's flash commands")
    return "\r\n".join(lines[:begin[0] + 1] + FLASH_LINES + lines[end[0]:])


BOARD_TXT = """Virtual ZAN board (QEMU + OVMF), booted from a copy of the technician's stick

From the stick:
NAVO.efi     firmware update utility   (try: NAVO.efi -H)
CHKSUM.efi   file checksum tool        (try: CHKSUM.efi Q420TM07.BIN)
README.TXT   the technician's guide    (try: type -b README.TXT)
EXAMPLES\\    example scripts           (try: EXAMPLES\\CHECK.nsh Q420TM07.BIN)

Added for this board:
MeInfo.efi   stand-in: prints MeInfo.out, ends with the hex status in MeInfo.sts;
             with an argument -x it uses MeInfo_x.out / MeInfo_x.sts
TXEInfo.efi  stand-in, the same with TXEInfo.*
GO.nsh       the kit's EXAMPLES\\GO.nsh with a stand-in flash: afterwards
             MeInfo.efi reports the image's 12.0.64.1551;
             cp -q MeInfo.org MeInfo.out  puts 12.0.49.1534 back
Q420TM07.BIN sample BIOS image carrying ME firmware 12.0.64.1551
             (the board's MeInfo.out reports 12.0.49.1534,
             its TXEInfo.out TXE firmware 4.0.25.1350)
HISTORY.TXT  the service history, once a script has added a record
             (NAVOREC.efi; serial number "VB 0815")

Examples:
  NAVO.efi -FILEMEVER Q420TM07.BIN
  NAVO.efi -MBMEVER
  NAVO.efi -CHKMEVER -F Q420TM07.BIN     (asks Y/N; exit status 64 or 69)
  NAVO.efi -MBTXEVER                     (the TXE commands read TXEInfo.efi)
  echo %lasterror%
  NAVO.efi -ECOVRPIN -ON                 (needs the QEMU build with the emulated EC)
  NAVO.efi -ECOVRAUTO                    (the automatic update, three boots)
  EXAMPLES\\AUTO.nsh Q420TM07.BIN         (the same with the service history;
  EXAMPLES\\VERIFY.nsh Q420TM07.BIN        after the third boot)
  type HISTORY.TXT
"""

DEMO = [
    "CHKSUM.efi " + IMAGE_NAME,
    "NAVO.efi -VER",
    "NAVO.efi -H",
    "NAVO.efi -FILEMEVER " + IMAGE_NAME,
    "NAVO.efi -MBMEVER",
]


def board_disk(name: str = "board", directory: Path = BUILD / "run", folder: str = "") -> DiskImage:
    """A copy of the technician's stick (`make usb`) with the virtual board's extras on it: the
    board boots the kit as shipped, NAVO.efi and CHKSUM.efi included. The update's files (the
    information tools, GO.nsh, the image) go into `folder` ("UPDATE": FS0:\\UPDATE), the root
    by default."""
    disk = DiskImage(name, directory=directory, base=kit_image())
    at = f"{folder.strip('/')}/" if folder else ""
    disk.add_standin("MeInfo", output=MEINFO_TEXT, status=0, directory=folder)
    disk.set_standin("MeInfo", arg="fitver", output="FITC Version: 12.0.64.1551\n", status=0,
                     directory=folder)
    disk.add_file(f"{at}MeInfo.org", MEINFO_TEXT)
    disk.add_standin("TXEInfo", output=TXEINFO_TEXT, status=0, directory=folder)
    disk.add_file(f"{at}GO.nsh", go_nsh())
    disk.add_file(f"{at}{IMAGE_NAME}", sample_bios_image())
    disk.add_file("BOARD.TXT", BOARD_TXT.replace("\n", "\r\n"))
    disk.add_file("SAMPLES/FF70K.BIN", b"\xff" * 70000)
    disk.add_file("SAMPLES/Hello.txt", "Hello from the virtual board.\r\n")
    return disk


def smbios_args() -> list[str]:
    """QEMU's arguments for the board's SMBIOS identity (a comma in a value is doubled)."""
    return ["-smbios", "type=1," + ",".join(f"{k}={v.replace(',', ',,')}" for k, v in SMBIOS.items())]


CONSOLE_MODES = [(80, 50), (100, 31), (80, 25)]  # the serial console's text modes, best first


def console_mode(size: os.terminal_size, keep: bool) -> tuple[int, int]:
    """The largest console mode that fits the person's terminal (80x25 when none does)."""
    if keep:
        return CONSOLE_MODES[0]
    for cols, rows in CONSOLE_MODES:
        if size.columns >= cols and size.lines >= rows:
            return cols, rows
    print(f"warning: the terminal ({size.columns}x{size.lines}) is smaller than 80x25; "
          "the screen will not be shown faithfully", file=sys.stderr)
    return CONSOLE_MODES[-1]


def hand_over(m: Machine) -> None:
    """Connects the person's terminal to the serial console until QEMU ends or Ctrl-] is pressed."""
    fd = sys.stdin.fileno()
    saved = termios.tcgetattr(fd)
    tty.setraw(fd)
    try:
        while m.running:
            ready, _, _ = select.select([fd], [], [], 0.2)
            if not ready:
                continue
            data = os.read(fd, 1024)
            if not data or CTRL_RIGHT_BRACKET in data:
                break
            m.send(data)
    finally:
        termios.tcsetattr(fd, termios.TCSADRAIN, saved)


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--batch", action="store_true", help="no hand-over: power off after the demonstration")
    ap.add_argument("--no-demo", action="store_true", help="only set up the board, run no demonstration")
    ap.add_argument("--keep-mode", action="store_true",
                    help="keep the console at 80x50 whatever the terminal's size")
    args = ap.parse_args()

    interactive = not args.batch and sys.stdin.isatty() and sys.stdout.isatty()
    # The build with the emulated EC when there is one, so that the EC commands work too.
    qemu = os.environ.get("E2E_QEMU") or ec_qemu() or SYSTEM_QEMU
    extra = (["-device", "zan-ec,pin=off"] if qemu == ec_qemu() else []) + smbios_args()
    showing = False

    def show(chunk: bytes) -> None:
        if showing:
            sys.stdout.buffer.write(chunk)
            sys.stdout.buffer.flush()

    disk = board_disk()
    disk.build()
    print(f"virtual board: {disk.path} on {qemu}" + (" (emulated EC)" if qemu == ec_qemu() else " (no EC)"),
          flush=True)
    mode = (80, 50)
    if interactive:
        mode = console_mode(shutil.get_terminal_size(), args.keep_mode)
        print(f"booting (console {mode[0]}x{mode[1]}) ...", flush=True)
    # Plugged in as a USB stick, as the technician's kit is.
    machine = Machine(disk, name="board", qemu=qemu, extra_args=extra, log_dir=BUILD / "run",
                      usb_stick=True, timeout=30 * 24 * 3600 if interactive else 600,
                      on_output=show if interactive else None)
    with machine as m:
        m.boot()
        if interactive:
            # The firmware moves the cursor to absolute rows and relies on the terminal scrolling at
            # the console's last row: confine the terminal's scrolling to that many rows.
            sys.stdout.buffer.write(b"\x1b[1;%dr\x1b[H\x1b[2J" % mode[1])
            showing = True
            if mode != (m.cols, m.rows):
                m.set_mode(*mode)  # clears the screen
            else:
                m.run("cls", status=False)
        m.write_legacy_signature(b"$$ZAN-", 0xF0000)
        m.run_ok("fs0:")
        if not args.no_demo:
            for command in DEMO:
                m.run(command)
        if interactive:
            m.run('echo "Your turn. type BOARD.TXT: this board; type -b README.TXT: the guide."',
                  status=False)
            m.run('echo "reset -s powers off, Ctrl-] leaves QEMU."', status=False)
            try:
                hand_over(m)
            finally:
                sys.stdout.buffer.write(b"\x1b[r")  # the whole terminal scrolls again
                sys.stdout.flush()
        else:
            m.poweroff()
    if not interactive:
        print("\n".join(machine.transcript()))
    else:
        print("\r\nvirtual board stopped.")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except E2EError as e:
        print(f"\nvirtual board failed: {e}", file=sys.stderr)
        sys.exit(1)
