#!/usr/bin/python3
"""make install, make uninstall and make deb on a release engineer's machine, then the package
through lintian, dpkg -i and dpkg -r. Needs root (private namespaces, dpkg).

The tree is cloned as it stands (committed, changed and new files; no build/, no .cache/) and
built in a private mount and network namespace: no network, GoogleTest's files hidden, apt-get
and apt replaced by a stub that records any call. Exit status 0 when every check holds."""
import os, shutil, subprocess, sys, tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "shared"))
import fw_images  # noqa: E402

PACKAGE_FILES = {"usr/bin/chksum", "usr/bin/navo-image", "usr/share/man/man1/chksum.1.gz",
                 "usr/share/man/man1/navo-image.1.gz", "usr/share/doc/navo-tools/copyright",
                 "usr/share/doc/navo-tools/changelog.gz"}
INSTALL_FILES = {"usr/bin/chksum", "usr/bin/navo-image", "usr/share/man/man1/chksum.1",
                 "usr/share/man/man1/navo-image.1"}
failures = []


def check(what, ok, detail=""):
    if not ok:
        failures.append(f"{what}{': ' + detail if detail else ''}")


def run(*args, cwd=None, ok=(0,)):
    try:
        r = subprocess.run(args, cwd=cwd, capture_output=True, text=True, errors="replace")
    except OSError as e:
        r = subprocess.CompletedProcess(args, 127, "", str(e))
    check(" ".join(map(str, args)), r.returncode in ok, f"status {r.returncode}\n{r.stdout}{r.stderr}")
    return r


def hide_toolchain_extras(work: Path) -> Path:
    """GoogleTest's files out of sight, apt-get and apt stubbed; returns the stub's log."""
    log, stub = work / "apt-calls.log", work / "apt-stub"
    stub.write_text(f"#!/bin/sh\necho \"$0 $*\" >>{log}\nexit 100\n")
    stub.chmod(0o755)
    for tool in ("/usr/bin/apt-get", "/usr/bin/apt"):
        if os.path.exists(tool):
            subprocess.run(["mount", "--bind", stub, tool], check=True)
    listed = subprocess.run(["dpkg", "-L", "libgtest-dev", "libgmock-dev", "googletest"],
                            capture_output=True, text=True).stdout.split()
    for path in sorted(set(listed), key=len):
        p = Path(path)
        if p.is_dir() and ("gtest" in path.lower() or "gmock" in path.lower() or "googletest" in path):
            subprocess.run(["mount", "-t", "tmpfs", "tmpfs", path], check=True)
        elif p.is_file():
            subprocess.run(["mount", "--bind", "/dev/null", path], check=True)
    check("GoogleTest hidden", not Path("/usr/include/gtest/gtest.h").is_file())
    return log


def clone_as_it_stands(dst: Path) -> None:
    subprocess.run(["git", "clone", "-q", "--shared", ROOT, dst], check=True)
    git = ["git", "-C", ROOT, "ls-files", "-z", "--exclude-standard"]
    for name in subprocess.run(git + ["-m", "-o"], capture_output=True, check=True).stdout.split(b"\0"):
        src, out = ROOT / os.fsdecode(name), dst / os.fsdecode(name)
        if name and src.is_file():
            out.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(src, out)
        elif name and out.exists():
            out.unlink()


def check_tools(bindir: Path, work: Path, where: str) -> None:
    image = work / fw_images.SAMPLE_NAME
    data = fw_images.sample_bios_image()
    image.write_bytes(data)
    total = fw_images.byte_sum(data)
    report = ("======= File Info =======\n"
              f"File name            : {image.name}\nFile size            : 0x{len(data):X}\n"
              f"Checksum(File Size)  : 0x{total:08X}\nChecksum(ZAN History): {total & 0xFFFF:04X}\n")
    r = run(bindir / "chksum", image.name, cwd=work)
    check(f"{where} chksum report", r.stdout == report, r.stdout)
    r = run(bindir / "navo-image", "--board", "12.0.49.1534", image.name, cwd=work, ok=(64,))
    check(f"{where} navo-image report", r.stdout.startswith(report) and
          "FW version           : 12.0.64.1551\n" in r.stdout and "Decision             : update\n" in r.stdout,
          r.stdout)


def files_under(top: Path) -> set:
    return {str(p.relative_to(top)) for p in top.rglob("*") if not p.is_dir()}


def main() -> int:
    if os.geteuid() != 0:
        print("check_install: needs root (mount namespace, dpkg -i)", file=sys.stderr)
        return 1
    if os.environ.get("NAVO_INSTALL_ISOLATED") != "1":
        env = dict(os.environ, NAVO_INSTALL_ISOLATED="1")
        return subprocess.run(["unshare", "--mount", "--net", "--propagation", "private",
                               sys.executable, __file__], env=env).returncode
    if subprocess.run(["dpkg-query", "-W", "navo-tools"], capture_output=True).returncode == 0 and \
            "ok installed" in run("dpkg-query", "-W", "-f=${Status}", "navo-tools").stdout:
        print("check_install: navo-tools is installed here; remove it first", file=sys.stderr)
        return 1
    with tempfile.TemporaryDirectory(prefix="navo-install-") as tmp:
        work = Path(tmp)
        apt_log = hide_toolchain_extras(work)
        tree, dest = work / "clone", work / "dest"
        clone_as_it_stands(tree)
        r = run("make", "install", f"DESTDIR={dest}", "PREFIX=/usr", cwd=tree)
        check("configure says the tests are left out", "GoogleTest not found" in r.stderr, r.stderr)
        check("make install files", files_under(dest) == INSTALL_FILES, str(files_under(dest)))
        check_tools(dest / "usr/bin", work, "make install")
        run("make", "uninstall", f"DESTDIR={dest}", "PREFIX=/usr", cwd=tree)
        check("make uninstall removes every file", files_under(dest) == set(), str(files_under(dest)))

        run("make", "deb", cwd=tree)
        version = run(tree / "tools/utility-version.sh").stdout.strip()
        deb = tree / f"build/deb/navo-tools_{version}_amd64.deb"
        lint = run("lintian", "--fail-on", "error", deb)
        print(lint.stdout, end="")
        listed = {line.split()[-1].removeprefix("./") for line in run("dpkg-deb", "-c", deb).stdout.splitlines()
                  if not line.startswith("d")}
        check("package contents", listed == PACKAGE_FILES, str(listed))
        check("apt-get and apt never called", not apt_log.exists(), apt_log.exists() and apt_log.read_text())
        try:
            run("dpkg", "-i", deb)
            check_tools(Path("/usr/bin"), work, "dpkg -i")
        finally:
            run("dpkg", "-r", "navo-tools")
        left = [f for f in PACKAGE_FILES | {"usr/share/doc/navo-tools"} if os.path.lexists("/" + f)]
        check("dpkg -r leaves nothing", not left, str(left))
        status = subprocess.run(["dpkg-query", "-W", "-f=${Status}", "navo-tools"], capture_output=True, text=True)
        check("dpkg -r leaves no configuration", "config-files" not in status.stdout, status.stdout)
    for f in failures:
        print("FAIL", f)
    print("install, uninstall, deb:", "ok" if not failures else f"{len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
