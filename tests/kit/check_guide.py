#!/usr/bin/python3
"""Checks the technician's guide on the stick (kit/README.TXT) and its quick card (kit/QUICK.TXT)
against the sources they describe.

    tests/kit/check_guide.py [REPO]

- every line fits the shell's 80-column screen with a margin (78 columns: the shell's page count
  takes a 79th column for a wrap), and is plain printable ASCII, which the shell's `type` shows as
  it stands;
- the quick card's pages are one screen each of `type -b` on an 80x25 screen in both shells: the
  UEFI Shell shows 24 lines before it asks for Enter, the older EFI shell 22 on its first screen
  (below its own two header rows) and 24 after. So every page but the last is 24 lines long,
  holds at most 22 before its blank padding, and begins with its heading; the card's error table
  has a row for every code the utility prints;
- every command and option of the utility's usage box (navo/console.cpp) is explained;
- every exit status of README.md's table for NAVO.efi has its line in the guide's status table;
- every error code that the utility's sources (navo/) print has its row in the guide's error
  table, with what to do next ("Do:"), and the table has no row for a code nothing prints.
Exits 0 when all hold; prints each problem otherwise.
"""

from __future__ import annotations

import re
import sys
from pathlib import Path

MAX_COLUMNS = 78
CARD_PAGE_LINES = 24
CARD_TEXT_LINES = 22
CARD_HEADING = re.compile(r"NAVO QUICK CARD (\d)/(\d): ")
ERROR_CODE = re.compile(r"Error F(\d\d)")
SOURCE_SUFFIXES = (".c", ".cpp", ".h")


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


def error_codes(navo: Path) -> tuple[list[str], list[str]]:
    """The codes of every "Error Fxx" that a source of the board's utility under navo/ holds, and
    the places where an "Error F" is not followed by two digits: a code put together at run time
    would slip past. The Linux front ends (navo/host/) only pass the board code's texts on."""
    codes, unreadable = set(), []
    for path in sorted(p for p in navo.rglob("*")
                       if p.suffix in SOURCE_SUFFIXES and "host" not in p.relative_to(navo).parts):
        for no, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            for at in (m.start() for m in re.finditer("Error F", line)):
                found = ERROR_CODE.match(line, at)
                if found:
                    codes.add("F" + found.group(1))
                else:
                    unreadable.append(f"{path.relative_to(navo.parent)}:{no}")
    return sorted(codes), unreadable


def section(guide: str, title: str) -> str:
    """The body of the guide's numbered section whose heading line holds `title` ("" if none)."""
    found = re.search(rf"^\d+\. [^\n]*{re.escape(title)}[^\n]*\n(.*?)(?=^\d+\. [A-Z]|\Z)",
                      guide, re.M | re.S)
    return found.group(1) if found else ""


def error_rows(table: str) -> list[tuple[str, str]]:
    """The error table's rows: a code at the start of a line and the indented lines below it (a
    code with two messages has two rows)."""
    rows: list[list[str]] = []
    in_row = False
    for line in table.splitlines():
        if re.match(r"F\d\d  ", line):
            rows.append([line[:3], line])
            in_row = True
        elif in_row and line.startswith("     "):
            rows[-1][1] += "\n" + line
        else:
            in_row = False
    return [(code, text) for code, text in rows]


def screen_text(path: Path, out: list[str]) -> str:
    """The file's text, with a problem for each line that the shell would not show as it stands."""
    data = path.read_bytes()
    for no, raw in enumerate(data.split(b"\n"), 1):
        line = raw.rstrip(b"\r")
        if len(line) > MAX_COLUMNS:
            out.append(f"{path.name}:{no}: {len(line)} columns (at most {MAX_COLUMNS})")
        if any(c < 0x20 or c > 0x7E for c in line):
            out.append(f"{path.name}:{no}: not plain printable ASCII: {line!r}")
    return data.decode("ascii", errors="replace")


def card_problems(card: str, codes: list[str]) -> list[str]:
    lines = card.splitlines()
    pages = [lines[i:i + CARD_PAGE_LINES] for i in range(0, len(lines), CARD_PAGE_LINES)]
    out = []
    for no, page in enumerate(pages, 1):
        heading = CARD_HEADING.match(page[0])
        if not heading or heading.groups() != (str(no), str(len(pages))):
            out.append(f"QUICK.TXT: page {no} does not begin with its heading: {page[0]!r}")
        if len(page) < CARD_PAGE_LINES and no < len(pages):
            out.append(f"QUICK.TXT: page {no} has {len(page)} lines")
        text = len(page)
        while text and not page[text - 1].strip():
            text -= 1
        if text > CARD_TEXT_LINES:
            out.append(f"QUICK.TXT: page {no} has {text} lines of text (at most {CARD_TEXT_LINES})")
    listed = set(re.findall(r"^(F\d\d) ", card, re.M))
    out += [f"QUICK.TXT: no row for Error {c}" for c in codes if c not in listed]
    out += [f"QUICK.TXT: a row for Error {c}, which nothing prints" for c in sorted(listed - set(codes))]
    return out


def problems(repo: Path) -> list[str]:
    out: list[str] = []
    guide = screen_text(repo / "kit" / "README.TXT", out)

    words = usage_words((repo / "navo" / "console.cpp").read_text())
    if len(words) < 15:
        out.append(f"usage box: only {words} found in navo/console.cpp")
    for word in words:
        if not re.search(r"(?<![\w-])" + re.escape(word) + r"(?![\w-])", guide):
            out.append(f"README.TXT does not mention {word}")

    statuses = navo_statuses((repo / "README.md").read_text())
    if sorted(statuses) != sorted(set(statuses)) or len(statuses) < 5:
        out.append(f"README.md: unexpected NAVO status table {statuses}")
    exits = section(guide, "EXIT STATUSES")
    table = exits.split("NAVO.efi:", 1)[-1].split("CHKSUM.efi:", 1)[0] if "NAVO.efi:" in exits else ""
    for status in statuses:
        if not re.search(rf"^  {status} +\S", table, re.M):
            out.append(f"README.TXT: no line for NAVO.efi's exit status {status}")

    codes, unreadable = error_codes(repo / "navo")
    out += [f"{place}: an error code that this check cannot read" for place in unreadable]
    if "F01" not in codes or "F12" not in codes:
        out.append(f"navo/: unexpected error codes {codes}")
    rows = error_rows(section(guide, "ERROR MESSAGES"))
    for code in codes:
        if code not in {c for c, _ in rows}:
            out.append(f"README.TXT: no row for Error {code} in the error table")
    for code, text in rows:
        if code not in codes:
            out.append(f"README.TXT: a row for Error {code}, which nothing prints")
        if "Do:" not in text:
            out.append(f"README.TXT: a row for Error {code} says nothing to do (no \"Do:\")")
    return out + card_problems(screen_text(repo / "kit" / "QUICK.TXT", out), codes)


def main() -> int:
    repo = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parents[2]
    found = problems(repo)
    for p in found:
        print(p)
    print(f"guide: {len(found)} problem(s)")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
