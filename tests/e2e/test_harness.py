"""The harness itself against the real shell: rendering, statuses, long output, redirection, prompts,
resets and the board helpers that the product tests rely on."""

from harness import (Check, DiskImage, Machine, MEINFO_SETUP_GUID, meinfo_setup_bytes)

LONG_LINES = [f"line {i:04d} " + "abcdefghij" * (i % 7) for i in range(1200)]
LONG_TEXT = "\n".join(LONG_LINES) + "\n"  # about 60,000 characters, far more than one screen


def test_rendering_statuses_and_files():
    check = Check()
    disk = DiskImage("harness_render")
    # A rewrite in place (carriage return) and output that does not end its last line.
    disk.add_standin("MeInfo", output="Progress...\rDone\nlast line without end", status=0x5)
    disk.add_standin("MeInfo", arg="fitver", output="", status=0xC601)
    disk.add_standin("MeInfo", arg="long", output=LONG_TEXT + "x" * 75_000 + "\n", status=0)
    disk.add_standin("MeInfo", arg="err", output="failed\n", status=0x8000000000000001)
    disk.add_standin("TXEInfo", output="FW Version: 4.0.1.2\n", directory="WORK")
    disk.add_file("WORK/Echo.nsh", "echo one\r\necho two\r\n")
    with Machine(disk, name="harness_render") as m:
        m.boot()
        m.run_ok("fs0:")

        r = m.run("MeInfo.efi")
        check.output(r, ["Doneress...", "last line without end"], status=0x5)

        r = m.run("MeInfo.efi -fitver")
        check.output(r, [], status=0xC601)
        # An error status keeps only its low bits in %lasterror%.
        check.output(m.run("MeInfo.efi -err"), ["failed"], status=0x1)
        check.output(m.run("rm NOSUCH.TXT"), ["rm: File not found - 'NOSUCH.TXT'"], status=0xE)

        # 60,000 characters of lines and one 75,000-character line: all scrolled through the screen.
        r = m.run("MeInfo.efi -long", timeout=300)
        wrapped = ["x" * 80] * (75_000 // 80) + ["x" * (75_000 % 80)]
        check.output(r, LONG_LINES + wrapped, status=0)

        # Redirection from a working directory that is not the root, read back byte for byte.
        m.cd("fs0:\\WORK")
        r = m.run("TXEInfo.efi >> Out.txt")
        check.output(r, [], status=0)
        m.run_ok("TXEInfo.efi >> Out.txt")
        check.equal(r.prompt, "FS0:\\WORK\\", "prompt in the working directory")

        # A script with echo on shows its commands behind prompts; only the real prompt ends it.
        r = m.run("Echo.nsh")
        check.output(r, ["FS0:\\WORK\\> echo one", "one", "FS0:\\WORK\\> echo two", "two"], status=0)

        # A command line longer than a screen row, typed near the bottom of the screen.
        for i in range(30):
            m.run_ok(f"echo filler {i}")
        word = "w" * 150
        check.output(m.run(f"echo {word}"), [word[:80], word[80:]], status=0)
        m.poweroff()

    line = "FW Version: 4.0.1.2\r\n".encode("utf-16-le")
    check.bytes_equal(disk.read_file("WORK/Out.txt"), b"\xff\xfe" + line + line, "redirected output")
    check.true(disk.exists("work/out.txt"), "names are found without regard to case")
    check.true(not disk.exists("WORK/Missing.txt"), "a missing file does not exist")
    check.done()


def test_prompts_helpers_and_resets():
    check = Check()
    disk = DiskImage("harness_resets")
    disk.add_file("A.TXT", "new\r\n")
    disk.add_file("B.TXT", "old\r\n")
    # Boot 1 runs the script, which leaves a file and resets; boot 2 finds the file and stops.
    disk.add_file("startup.nsh",
                  "@echo -off\r\nfs0:\r\nif exist BOOTED.TXT then\r\n  echo second start\r\n"
                  "else\r\n  echo first start >> BOOTED.TXT\r\n  reset\r\nendif\r\n")
    with Machine(disk, name="harness_resets", startup="run") as m:
        m.boot()
        check.equal(m.boots, 2, "startup.nsh reset the machine once")
        check.true("second start" in m.transcript(), "the script's second start ran")

        # A question is answered only once it is on the screen.
        r = m.run("cp A.TXT B.TXT", answers=[(r"Overwrite\? Yes, No, All, Cancel", "y")])
        check.output(r, ["Copying FS0:\\A.TXT -> FS0:\\B.TXT",
                         "Destination file already exists.  Overwrite? Yes, No, All, Cancel y",
                         "- [ok]"], status=0)

        # The legacy area: a signature at its very end, read back through memory.
        m.write_legacy_signature(b"$$ZAN-", 0xFFFFA)
        check.bytes_equal(m.read_memory(0xFFFF8, 8), b"\x00\x00$$ZAN-", "signature at 0xFFFFA")

        # A firmware variable written raw, shown by the shell, then deleted.
        value = meinfo_setup_bytes(12, 0, 64, 1551)
        m.setvar("MeInfoSetup", MEINFO_SETUP_GUID, value)
        r = m.run(f"setvar MeInfoSetup -guid {MEINFO_SETUP_GUID}")
        check.output(r, [f"{MEINFO_SETUP_GUID} - MeInfoSetup - 0016 Bytes",
                         " ".join(f"{b:02X}" for b in value)], status=0)
        m.setvar("MeInfoSetup", MEINFO_SETUP_GUID, None)
        check.true(m.run(f"setvar MeInfoSetup -guid {MEINFO_SETUP_GUID}").status != 0, "variable deleted")

        # A reset typed at the prompt is followed into the next boot (startup.nsh skipped this time).
        m.startup = "skip"
        m.send_line("reset")
        m.boot()
        check.equal(m.boots, 3, "boots after the typed reset")
        # The signature survives the reset, as on a real board; a new one replaces it; None removes it.
        check.bytes_equal(m.read_memory(0xFFFF8, 8), b"\x00\x00$$ZAN-", "signature after the reset")
        m.write_legacy_signature("$$VEK-", 0xF8003)
        check.bytes_equal(m.read_memory(0xFFFF8, 8), bytes(8), "old signature wiped")
        check.bytes_equal(m.read_memory(0xF8000, 10), b"\x00\x00\x00$$VEK-\x00", "signature at 0xF8003")
        m.write_legacy_signature(None)
        check.bytes_equal(m.read_memory(0xF8000, 10), b"\xff" * 10, "legacy area unmapped")
        m.poweroff()
    check.equal(disk.read_file("B.TXT"), b"new\r\n", "B.TXT overwritten")
    check.equal(disk.read_text_ucs2("BOOTED.TXT"), "first start\r\n", "file written in boot 1")
    check.done()


def test_no_reboot_ends_qemu():
    check = Check()
    disk = DiskImage("harness_noreboot")
    with Machine(disk, name="harness_noreboot", no_reboot=True) as m:
        m.boot()
        m.send_line("reset")
        check.equal(m.wait_exit(), 0, "QEMU's exit status after a reset with -no-reboot")
        check.equal(m.boots, 1, "no second boot")
    check.done()
