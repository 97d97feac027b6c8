#!/usr/bin/python3
"""Runs the end-to-end tests: every test_* function of tests/e2e/test_*.py, each in its own process.

    tests/e2e/run_all.py [-j N] [-k TEXT] [--list] [FILE ...]

Each test boots its own QEMU (its images and logs go to build/e2e/<file>.<test>/), so tests run in
parallel (-j, default 2 or $E2E_JOBS). Every test is reported as PASS or FAIL, with its output on
failure; the last line is "N passed, M failed" and the exit status is non-zero when any test failed
or when no test ran. Nothing is skipped: a test whose prerequisites are missing (e.g. build/efi/)
fails and says why.
"""

from __future__ import annotations

import argparse
import concurrent.futures
import importlib.util
import inspect
import os
import signal
import subprocess
import sys
import threading
import time
import traceback
from pathlib import Path

HERE = Path(__file__).resolve().parent
REPO = HERE.parents[1]
PYTHON = "/usr/bin/python3" if Path("/usr/bin/python3").exists() else sys.executable
TEST_TIMEOUT = float(os.environ.get("E2E_TEST_TIMEOUT", "900")) * float(os.environ.get("E2E_TIMEOUT_SCALE", "1"))


def load_module(path: Path):
    spec = importlib.util.spec_from_file_location(path.stem, path)
    module = importlib.util.module_from_spec(spec)
    sys.path.insert(0, str(HERE))
    spec.loader.exec_module(module)
    return module


def discover(files: list[Path]) -> list[tuple[Path, str]]:
    tests = []
    for path in files:
        module = load_module(path)
        funcs = [(name, f) for name, f in vars(module).items()
                 if name.startswith("test_") and inspect.isfunction(f) and f.__module__ == module.__name__]
        funcs.sort(key=lambda nf: nf[1].__code__.co_firstlineno)
        tests += [(path, name) for name, _ in funcs]
    return tests


def run_one(path: Path, name: str) -> int:
    """Child process: runs one test function; exit status 0 when it passed."""
    module = load_module(path)
    try:
        getattr(module, name)()
    except BaseException:  # noqa: BLE001 - every failure, assertion or not, fails the test
        traceback.print_exc()
        return 1
    return 0


def work_dir(path: Path, name: str) -> Path:
    return REPO / "build" / "e2e" / f"{path.stem}.{name}"


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("files", nargs="*", help="test files (default: tests/e2e/test_*.py)")
    ap.add_argument("-j", "--jobs", type=int, default=int(os.environ.get("E2E_JOBS", "2")))
    ap.add_argument("-k", dest="pattern", default="", help="run only tests whose FILE::NAME contains this")
    ap.add_argument("--list", action="store_true", help="list the tests and exit")
    ap.add_argument("--one", help=argparse.SUPPRESS)
    args = ap.parse_args()

    if args.one:
        file, name = args.one.split("::")
        return run_one(Path(file), name)

    files = [Path(f).resolve() for f in args.files] or sorted(HERE.glob("test_*.py"))
    tests = [t for t in discover(files) if args.pattern in f"{t[0].name}::{t[1]}"]
    if args.list:
        for path, name in tests:
            print(f"{path.name}::{name}")
        return 0
    if not tests:
        print("no end-to-end tests found")
        print("0 passed, 0 failed")
        return 1

    print_lock = threading.Lock()
    results: dict[tuple[Path, str], bool] = {}

    def job(test: tuple[Path, str]) -> None:
        path, name = test
        wd = work_dir(path, name)
        wd.mkdir(parents=True, exist_ok=True)
        env = dict(os.environ, E2E_WORK_DIR=str(wd), PYTHONUNBUFFERED="1")
        t0 = time.monotonic()
        # Own session, so that a test that hangs is ended together with the QEMU it started.
        proc = subprocess.Popen([PYTHON, str(HERE / "run_all.py"), "--one", f"{path}::{name}"],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env,
                                cwd=str(REPO), start_new_session=True)
        try:
            out, _ = proc.communicate(timeout=TEST_TIMEOUT)
            ok, output = proc.returncode == 0, out.decode(errors="replace")
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            out, _ = proc.communicate()
            ok = False
            output = out.decode(errors="replace") + f"\n(test killed after {TEST_TIMEOUT:.0f} s)"
        secs = time.monotonic() - t0
        (wd / "output.txt").write_text(output)
        with print_lock:
            results[test] = ok
            print(f"{'PASS' if ok else 'FAIL'} {path.name}::{name} ({secs:.1f} s)", flush=True)
            if not ok:
                print("    " + output.rstrip().replace("\n", "\n    "))
                print(f"    (logs: {wd.relative_to(REPO)}/)", flush=True)

    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        list(pool.map(job, tests))

    passed = sum(1 for ok in results.values() if ok)
    failed = len(results) - passed
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
