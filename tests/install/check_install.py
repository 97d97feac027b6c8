#!/usr/bin/python3
"""make install, make uninstall and make deb on a release engineer's machine, then the package
through lintian, dpkg -i and dpkg -r. Needs root (private namespaces, dpkg).

The tree is cloned as it stands (committed, changed and new files; no build/, no .cache/) and
built in a private mount and network namespace: no network, and apt-get, apt and GoogleTest's
files absent (an overlay on /usr whites them out). The package is then installed on the machine
itself. The package's version is the one its programs give, and a build after a commit, or
without git, gives the new one by recompiling one file. Exit status 0 when every check holds."""
import os, shutil, subprocess, sys, tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "shared"))
import fw_images  # noqa: E402

TOOLS = ("chksum", "navo-image", "navo-board", "navo-history")
PACKAGE_FILES = {*(f"usr/bin/{t}" for t in TOOLS), *(f"usr/share/man/man1/{t}.1.gz" for t in TOOLS),
                 "usr/share/doc/navo-tools/copyright",
                 "usr/share/doc/navo-tools/changelog.gz"}
INSTALL_FILES = {*(f"usr/bin/{t}" for t in TOOLS), *(f"usr/share/man/man1/{t}.1" for t in TOOLS)}
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


def hide_apt_and_googletest(work: Path) -> None:
    """Whites out apt-get, apt and every file of GoogleTest's packages in an overlay on /usr."""
    listed = subprocess.run(["dpkg", "-L", "libgtest-dev", "libgmock-dev", "googletest"],
                            capture_output=True, text=True).stdout.split()
    hidden = []
    for path in sorted({"/usr/bin/apt-get", "/usr/bin/apt", *listed}):
        mine = any(k in Path(path).name.lower() for k in ("gtest", "gmock", "googletest"))
        if path.startswith("/usr/") and (os.path.isfile(path) or mine) and \
                not any(path.startswith(h + "/") for h in hidden):
            hidden.append(path)
    layer = work / "overlay"
    layer.mkdir()
    subprocess.run(["mount", "-t", "tmpfs", "tmpfs", layer], check=True)
    (layer / "work").mkdir()
    for path in hidden:
        whiteout = layer / "upper" / path.removeprefix("/usr/")
        whiteout.parent.mkdir(parents=True, exist_ok=True)
        os.mknod(whiteout, 0o600 | 0o020000, os.makedev(0, 0))
    subprocess.run(["mount", "-t", "overlay", "overlay", "-o",
                    f"lowerdir=/usr,upperdir={layer}/upper,workdir={layer}/work", "/usr"], check=True)
    check("apt-get absent", shutil.which("apt-get", path="/usr/bin:/bin:/usr/sbin:/sbin") is None)
    check("GoogleTest absent", not Path("/usr/include/gtest/gtest.h").exists())


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


def check_tools(bindir: Path, work: Path, where: str, version: str) -> None:
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
    # An image without a version is refused before the board's ME is asked.
    (work / "EMPTY.BIN").write_bytes(b"")
    r = run(bindir / "navo-board", "--image", "EMPTY.BIN", cwd=work, ok=(1,))
    check(f"{where} navo-board cause", r.stderr == "navo-board: EMPTY.BIN: no ME FW version in the image\n", r.stderr)
    # A history line that is not a record is named, and the status says so.
    (work / "HISTORY.TXT").write_bytes(b"not a record\r\n")
    r = run(bindir / "navo-history", "HISTORY.TXT", cwd=work, ok=(1,))
    check(f"{where} navo-history", r.stderr ==
          'navo-history: HISTORY.TXT:1: not a record (it does not begin with "NAVOREC ")\n', r.stderr)
    for tool in TOOLS:
        r = run(bindir / tool, "--version")
        check(f"{where} {tool} --version", r.stdout == f"{tool} {version}\n", r.stdout)


def rebuilt_version(tree: Path, change: str, want: str) -> None:
    """After CHANGE to the tree, `make release` recompiles the version's one source and the tools
    say WANT."""
    r = run("make", "release", cwd=tree)
    compiled = [line for line in r.stdout.splitlines() if "Building CXX object" in line]
    check(f"{change}: only the version recompiled", len(compiled) == 1 and "tools_version" in compiled[0],
          r.stdout)
    r = run(tree / "build/release/chksum", "--version")
    check(f"{change}: chksum --version", r.stdout == f"chksum {want}\n", r.stdout)


def files_under(top: Path) -> set:
    return {str(p.relative_to(top)) for p in top.rglob("*") if not p.is_dir()}


def build_isolated(work: Path) -> None:
    """In the namespace: make install, make uninstall and make deb on a clone; the package goes
    to WORK/navo-tools.deb."""
    hide_apt_and_googletest(work)
    tree, dest = work / "clone", work / "dest"
    clone_as_it_stands(tree)
    r = run("make", "install", f"DESTDIR={dest}", "PREFIX=/usr", cwd=tree)
    check("configure says the tests are left out", "GoogleTest not found" in r.stderr, r.stderr)
    check("make install files", files_under(dest) == INSTALL_FILES, str(files_under(dest)))
    version = run(tree / "tools/utility-version.sh", "--build").stdout.strip()
    check_tools(dest / "usr/bin", work, "make install", version)
    run("make", "uninstall", f"DESTDIR={dest}", "PREFIX=/usr", cwd=tree)
    check("make uninstall removes every file", files_under(dest) == set(), str(files_under(dest)))
    run("make", "deb", cwd=tree)
    deb = tree / f"build/deb/navo-tools_{version}_amd64.deb"
    if deb.is_file():
        shutil.copy(deb, work / "navo-tools.deb")
    check(f"make deb gives {deb.name}", deb.is_file())

    number = run(tree / "tools/utility-version.sh").stdout.strip()
    run("git", "-C", tree, "-c", "user.name=t", "-c", "user.email=t@example.com", "commit", "-qa",
        "--allow-empty", "-m", "next")
    short = run("git", "-C", tree, "rev-parse", "--short", "HEAD").stdout.strip()
    rebuilt_version(tree, "a commit", f"{number}+g{short}")
    shutil.rmtree(tree / ".git")
    rebuilt_version(tree, "no .git (a tarball)", number)


def install_package(work: Path) -> None:
    deb = work / "navo-tools.deb"
    print(run("lintian", "--fail-on", "error,warning", deb).stdout, end="")
    listed = {line.split()[-1].removeprefix("./") for line in run("dpkg-deb", "-c", deb).stdout.splitlines()
              if not line.startswith("d")}
    check("package contents", listed == PACKAGE_FILES, str(listed))
    try:
        run("dpkg", "-i", deb)
        check_tools(Path("/usr/bin"), work, "dpkg -i", run("dpkg-deb", "-f", deb, "Version").stdout.strip())
    finally:
        run("dpkg", "-r", "navo-tools")
    left = [f for f in PACKAGE_FILES | {"usr/share/doc/navo-tools"} if os.path.lexists("/" + f)]
    check("dpkg -r leaves nothing", not left, str(left))
    status = subprocess.run(["dpkg-query", "-W", "-f=${Status}", "navo-tools"], capture_output=True, text=True)
    check("dpkg -r leaves no configuration", "config-files" not in status.stdout, status.stdout)


def main() -> int:
    if len(sys.argv) == 3 and sys.argv[1] == "--isolated":
        build_isolated(Path(sys.argv[2]))
    elif os.geteuid() != 0:
        failures.append("needs root (mount namespace, dpkg -i)")
    elif "ok installed" in subprocess.run(["dpkg-query", "-W", "-f=${Status}", "navo-tools"],
                                          capture_output=True, text=True).stdout:
        failures.append("navo-tools is installed on this machine; remove it first")
    else:
        with tempfile.TemporaryDirectory(prefix="navo-install-") as tmp:
            built = run("unshare", "--mount", "--net", sys.executable, __file__, "--isolated", tmp)
            print(built.stdout, end="")
            if built.returncode == 0:
                install_package(Path(tmp))
    for f in failures:
        print("FAIL", f)
    what = "make install, uninstall, deb in isolation" if sys.argv[1:2] == ["--isolated"] else "all"
    print(f"{what}:", "ok" if not failures else f"{len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
