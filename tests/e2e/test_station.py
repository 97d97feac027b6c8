"""navo-board on a Linux test station against the kernel's own MEI driver: Debian's kernel, mei.ko
and mei-me.ko in a diskless guest (station_guest.py), with one emulated ME (zan-mei) per answer the
tool must handle. All cases run in one boot."""

from __future__ import annotations

import json
import re
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "shared"))

import fw_images  # noqa: E402
from checks import Check, run_standalone  # noqa: E402
from paths import BUILD, WORK_DIR, E2EError  # noqa: E402
from station_guest import boot_station  # noqa: E402

NAVO_HISTORY = BUILD / "host" / "navo-history"

# zan-mei's own version when fw-version is not given (tools/qemu-board/README.md).
DEFAULT_VERSION = "12.0.49.1534"
BOARD = "12.0.64.1551"
DEVICES = {  # PCI function: the emulated ME's properties
    "0000:00:10.0": "",
    "0000:00:11.0": f",fw-version={BOARD}",
    "0000:00:12.0": ",result=0x81",
    "0000:00:13.0": ",records=2",
    "0000:00:14.0": ",mkhi=off",
    "0000:00:15.0": ",fw-version=0.1.2.3",
}
# Newer by its HotFix with a lower Build, older by its HotFix with a higher one: the fields are
# compared in order, not as one number.
IMAGES = {"NEWER.BIN": (12, 0, 65, 1000), "OLDER.BIN": (12, 0, 40, 9999), "SAME.BIN": (12, 0, 64, 1551)}
NO_DRIVER = "-"
# The board's identity as SMBIOS hands it to the kernel (/sys/class/dmi/id): a serial with a blank
# goes percent-encoded into the record and comes back whole.
IDENTITY = {"vendor": "ZAN", "product": "BX-700", "serial": "SN 0042",
            "uuid": "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0", "bios": "R1.07"}
SMBIOS = [f"type=0,version={IDENTITY['bios']}",
          f"type=1,manufacturer={IDENTITY['vendor']},product={IDENTITY['product']},serial={IDENTITY['serial']},"
          f"uuid={IDENTITY['uuid']}"]
HISTORY = "/tmp/history.txt"


def on_board(version: str) -> list[str]:
    return [f"ME FW version on the board: {version}"]


def compared(file: str, advice: str) -> list[str]:
    return on_board(BOARD) + [f"ME FW version in the File : {file}", "", advice]


UPDATE = "There is a new version of ME firmware. It is recommended to update."
DOWNGRADE = "ME firmware is an old version. Downgrade is not recommended."
SAME = "Your current ME firmware is already latest version."
MAJOR_0 = "the ME answered 0.1.2.3: a Major of 0 is no version"

# name, device, arguments, status, stdout, the cause stderr names (None: stderr is empty)
CASES = [
    ("no-driver", NO_DRIVER, [], 1, [], "no /dev/mei0"),
    ("default", "0000:00:10.0", [], 0, on_board(DEFAULT_VERSION), None),
    ("expect-equal", "0000:00:11.0", ["--expect", BOARD], 0, on_board(BOARD), None),
    ("expect-different", "0000:00:11.0", ["--expect", "12.0.64.1552"], 3, on_board(BOARD),
     "not the expected 12.0.64.1552"),
    ("image-newer", "0000:00:11.0", ["--image", "/station/NEWER.BIN"], 64, compared("12.0.65.1000", UPDATE), None),
    ("image-older", "0000:00:11.0", ["--image", "/station/OLDER.BIN"], 64,
     compared("12.0.40.9999", DOWNGRADE), None),
    ("image-same", "0000:00:11.0", ["--image", "/station/SAME.BIN"], 69, compared(BOARD, SAME), None),
    ("result-0x81", "0000:00:12.0", [], 1, [], "FwuStatus 326"),
    ("two-records", "0000:00:13.0", [], 1, [], "2 records"),
    ("no-mkhi", "0000:00:14.0", [], 1, [], "the MKHI client is not found"),
    # A Major of 0 is no version on the board (-CHKMEVER -RB01 returns 1), whatever is asked.
    ("major-0", "0000:00:15.0", [], 1, [], MAJOR_0),
    ("major-0-json", "0000:00:15.0", ["--json", "--expect", BOARD, "--"], 1,
     [json.dumps({"version": None, "error": MAJOR_0, "fwu_status": 0})], MAJOR_0),
    # One history across two runs: the board tried before the driver is there, then read after.
    ("record-no-driver", NO_DRIVER, ["--record", HISTORY], 1, [], "no /dev/mei0"),
    ("record-after", "0000:00:11.0", ["--image", "/station/NEWER.BIN", f"--record={HISTORY}", "--event", "after"],
     64, compared("12.0.65.1000", UPDATE), None),
]


def test_station() -> None:
    check = Check("station")
    images = {name: fw_images.sample_bios_image(v, size=0x80000) for name, v in IMAGES.items()}
    run = boot_station("station", [f"zan-mei,addr={a[8:10]}.0{p}" for a, p in DEVICES.items()],
                       [(n, d, args) for n, d, args, *_ in CASES], images, smbios=SMBIOS)
    print(f"station: QEMU ran {run.seconds:.1f} s; the guest reached /init after {run.up} s "
          f"and powered off at {run.end} s of its uptime")

    for name, device, args, status, stdout, cause in CASES:
        got = run.cases.get(name)
        if not check.true(got is not None, f"{name}: no result in the console"):
            continue
        what = f"navo-board {' '.join(args)} ({name})"
        if device != NO_DRIVER:
            check.equal((got.mei0, got.dev_state), (device, "ENABLED"), f"{name}: /dev/mei0's device")
        check.equal(got.status, status, f"{what}: exit status")
        check.lines(got.stdout, stdout, f"{what}: standard output")
        if cause is None:
            check.lines(got.stderr, [], f"{what}: standard error")
        else:
            check.true(len(got.stderr) == 1 and got.stderr[0].startswith("navo-board: ") and cause in got.stderr[0],
                       f"{what}: standard error should name {cause!r} on one line, not {got.stderr!r}")

    # The real driver took every emulated ME, and its own log says so.
    check.equal(sorted(a for a, *_ in run.bound), sorted(DEVICES), "functions mei_me bound at insmod")
    check.true(all(v == "0x8086" for _, v, _ in run.bound), f"vendor ids: {run.bound}")
    for address in DEVICES:
        check.true(any(f"mei_me {address}: initialization successful." in line for line in run.kernel_log),
                   f"mei_me did not log its start on {address}")
    for address in sorted({d for _, d, *_ in CASES if d != NO_DRIVER}):
        check.true(any(f"mei_me {address}: : IOCTL_MEI_CONNECT_CLIENT." in line for line in run.kernel_log),
                   f"navo-board's connect did not reach the driver on {address}")
    troubles = [line for line in run.kernel_log if re.search(r"fail|error|unexpected reset|timed? ?out", line, re.I)]
    check.lines(troubles, [], "the driver's complaints in the kernel log")
    check_history(check, run.cases.get("record-after"), images["NEWER.BIN"])
    check.done()


def check_history(check: Check, case, newer: bytes) -> None:
    """The history the two record cases appended to, as the guest printed it after the second, read
    by navo-history: the board's identity from SMBIOS, the failed try, then the reading."""
    if not check.true(case and case.record, f"the guest printed no {HISTORY}"):
        return
    if not NAVO_HISTORY.is_file():
        raise E2EError(f"{NAVO_HISTORY} is missing: run make host")
    path = WORK_DIR / "station" / "history.txt"
    path.write_bytes(case.record)
    p = subprocess.run([NAVO_HISTORY, "--json", path], capture_output=True, text=True)
    check.equal((p.returncode, p.stderr), (0, ""), "navo-history on the guest's history: status, standard error")
    sum32 = sum(newer) & 0xFFFFFFFF
    keys = ("event", "board", "image", "image_version", "size", "sum32", "sum16", "decision", "status")
    want = [("before", "", "", "", "", "", "", "none", "1"),
            ("after", BOARD, "/station/NEWER.BIN", "12.0.65.1000", f"0x{len(newer):X}", f"0x{sum32:08X}",
             f"{sum32 & 0xFFFF:04X}", "update", "64")]
    want = [{"file": str(path), "line": n, "source": "station", "kind": "ME", **IDENTITY, **dict(zip(keys, w))}
            for n, w in enumerate(want, 1)]
    rows = [json.loads(line) for line in p.stdout.splitlines()]
    times = [r.pop("time", "") for r in rows]
    check.true(all(re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", t) for t in times), f"times not in UTC: {times}")
    check.equal(rows, want, "the guest's records")

if __name__ == "__main__":
    sys.exit(run_standalone([test_station], sys.argv[1:]))
