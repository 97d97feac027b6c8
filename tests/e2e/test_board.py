"""`make run` without a terminal: the virtual board boots, runs its demonstration and powers off."""

import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools"))

import board  # noqa: E402
from harness import REPO, Check  # noqa: E402


def test_virtual_board_demonstration():
    check = Check()
    proc = subprocess.run([str(REPO / "tools" / "run.sh")], stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=900)
    out = proc.stdout.decode(errors="replace")
    print(out[-3000:], file=sys.stderr)
    check.equal(proc.returncode, 0, "exit status of tools/run.sh")
    lines = out.splitlines()
    image = board.sample_bios_image()
    total = sum(image) & 0xFFFFFFFF
    for expected in [
        f"File name            : {board.IMAGE_NAME}",
        f"File size            : 0x{len(image):X}",
        f"Checksum(File Size)  : 0x{total:08X}",
        "ZAN Firmware Update Utility. Version:  1.1.0",
        "Check ZAN Board...OK",
        f"{board.IMAGE_NAME} ME FW version : 12.0.64.1551",
        f"ME FW version on the board: {board.BOARD_ME_VERSION}",
        "FS0:\\> reset -s",
    ]:
        check.true(expected in lines, f"line {expected!r} in the session")
    check.true(Path(REPO / "build" / "run" / "board.img").is_file(), "board image kept for a second look")
    check.done()
