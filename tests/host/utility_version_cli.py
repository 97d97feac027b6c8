#!/usr/bin/python3
"""tools/utility-version.sh on a scratch copy of the tree in each state a build meets: a tarball
(also one unpacked inside another repository), commits between releases, the release tag, changed
tracked files, a work tree git cannot read.
Usage: utility_version_cli.py SOURCE-ROOT"""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

SOURCE = Path(sys.argv[1]).resolve()
GIT_ENV = {**os.environ, "GIT_CONFIG_GLOBAL": "/dev/null", "GIT_CONFIG_SYSTEM": "/dev/null",
           "GIT_AUTHOR_NAME": "t", "GIT_AUTHOR_EMAIL": "t@example.com", "GIT_COMMITTER_NAME": "t",
           "GIT_COMMITTER_EMAIL": "t@example.com"}
failures: list[str] = []


def git(where: Path, *args: str) -> str:
    return subprocess.run(["git", "-C", where, *args], env=GIT_ENV, check=True, capture_output=True,
                          text=True).stdout.strip()


def versions(tree: Path) -> tuple[str, str]:
    script = tree / "tools" / "utility-version.sh"
    return tuple(subprocess.run([script, form], capture_output=True, text=True, env=GIT_ENV).stdout.strip()
                 for form in ("--build", "--kit"))


def main() -> int:
    with tempfile.TemporaryDirectory() as tmp:
        outer = Path(tmp) / "outer"
        tree = outer / "tree"
        for name in ("tools/utility-version.sh", "navo/main.cpp"):
            (tree / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(SOURCE / name, tree / name)
        n = subprocess.run([tree / "tools" / "utility-version.sh"], capture_output=True, text=True).stdout.strip()
        main_cpp = tree / "navo" / "main.cpp"
        original = main_cpp.read_bytes()

        def commit(message: str) -> None:
            git(tree, "add", "-A")
            git(tree, "commit", "-q", "--allow-empty", "-m", message)

        steps = [
            # (what, change to the tree, --build, --kit); {h} is the short id of HEAD
            ("a tarball", lambda: None, n, f"{n}-nogit"),
            ("a tarball inside another repository",
             lambda: (git(outer, "init", "-q"), git(outer, "commit", "-q", "--allow-empty", "-m", "o")), n,
             f"{n}-nogit"),
            ("a commit between releases", lambda: (git(tree, "init", "-q"), commit("first")), f"{n}+g{{h}}",
             f"{n}-{{h}}"),
            ("the release tag", lambda: git(tree, "tag", f"v{n}"), n, f"{n}-{{h}}"),
            ("the release tag, a tracked file changed", lambda: main_cpp.write_bytes(original + b"//\n"),
             f"{n}+g{{h}}.dirty", f"{n}-{{h}}-dirty"),
            ("the release tag, an untracked file", lambda: (main_cpp.write_bytes(original),
                                                           (tree / "notes.txt").write_text("x")), n, f"{n}-{{h}}"),
            ("a commit after the release, tagged for another version",
             lambda: (commit("second"), git(tree, "tag", "v0.0.1")), f"{n}+g{{h}}", f"{n}-{{h}}"),
            ("a work tree git cannot read", lambda: (shutil.rmtree(tree / ".git"),
                                                     (tree / ".git").write_text("gitdir: /nonexistent\n")),
             f"{n}+unknown", f"{n}-nogit"),
        ]
        for what, change, build, kit in steps:
            change()
            head = git(tree, "rev-parse", "--short", "HEAD") if (tree / ".git").is_dir() else ""
            want = (build.format(h=head), kit.format(h=head))
            got = versions(tree)
            if got != want:
                failures.append(f"{what}:\n  got  {got!r}\n  want {want!r}")
    for f in failures:
        print("FAIL", f)
    if not failures:
        print("utility_version_cli: all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
