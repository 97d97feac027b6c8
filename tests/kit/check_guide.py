#!/usr/bin/python3
"""Checks the technician's guide on the stick (kit/README.TXT) against the sources it describes.

    tests/kit/check_guide.py [REPO]

- every line fits the shell's 80-column screen with a margin (78 columns), and is plain
  printable ASCII, which the shell's `type` shows as it stands;
- every command and option of the utility's usage box (navo/console.cpp) is explained;
- every exit status of README.md's table for NAVO.efi has its line in the guide's status table.
Exits 0 when all hold; prints each problem otherwise.
"""

from __future__ import annotations

import re
import sys
from pathlib import Path

MAX_COLUMNS = 78


def usage_words(console_cpp: str) -> list[str]:
    """The commands and options that the usage box names (-RBXX stands for -RB01..-RB03)."""
    rows = re.findall(r'^\s*"(\|.*\|)",$', console_cpp, re.M)
    words = []
    for row in rows:
        for w in re.findall(r"(?<![\w-])-[A-Z][A-Z0-9]*", row):
            for word in ([f"-RB0{i}" for i in (1, 2, 3)] if w == "-RBXX" else [w]):
                if word not in words:
                    words.append(word)
    return words


def navo_statuses(readme_md: str) -> list[int]:
    """The statuses of README.md's NAVO table (the one under "Exit statuses")."""
    section = readme_md.split("## Exit statuses", 1)[1]
    table = section.split("CHKSUM:", 1)[0]
    return [int(n) for n in re.findall(r"^\| (\d+) \|", table, re.M)]


def problems(repo: Path) -> list[str]:
    guide_bytes = (repo / "kit" / "README.TXT").read_bytes()
    out = []
    for no, raw in enumerate(guide_bytes.split(b"\n"), 1):
        line = raw.rstrip(b"\r")
        if len(line) > MAX_COLUMNS:
            out.append(f"README.TXT:{no}: {len(line)} columns (at most {MAX_COLUMNS})")
        if any(c < 0x20 or c > 0x7E for c in line):
            out.append(f"README.TXT:{no}: not plain printable ASCII: {line!r}")
    guide = guide_bytes.decode("ascii", errors="replace")

    words = usage_words((repo / "navo" / "console.cpp").read_text())
    if len(words) < 15:
        out.append(f"usage box: only {words} found in navo/console.cpp")
    for word in words:
        if not re.search(r"(?<![\w-])" + re.escape(word) + r"(?![\w-])", guide):
            out.append(f"README.TXT does not mention {word}")

    statuses = navo_statuses((repo / "README.md").read_text())
    if sorted(statuses) != sorted(set(statuses)) or len(statuses) < 5:
        out.append(f"README.md: unexpected NAVO status table {statuses}")
    table = guide.split("NAVO.efi:", 1)[-1].split("CHKSUM.efi:", 1)[0] if "NAVO.efi:" in guide else ""
    for status in statuses:
        if not re.search(rf"^  {status} +\S", table, re.M):
            out.append(f"README.TXT: no line for NAVO.efi's exit status {status}")
    return out


def main() -> int:
    repo = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parents[2]
    found = problems(repo)
    for p in found:
        print(p)
    print(f"guide: {len(found)} problem(s)")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
