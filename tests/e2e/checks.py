"""Soft assertions for end-to-end tests, and the runner a test file uses on its own."""

from __future__ import annotations

import difflib
import sys
from typing import Optional, Sequence

from terminal import Result


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
