#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (tests/fuzz/corpus/<target>/).

The seeds are the host tests' cases in each target's input format, so that
fuzzing starts from inputs that already reach deep into each parser. Run it
again after changing an input format; the files are small and checked in.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def u16(text):
    return text.encode("utf-16-le")


# ---- image locator: raw image bytes ---------------------------------------------
def cpd(name, count=1):
    return b"$CPD" + struct.pack("<I", count) + b"\x01\x01\x01\x01" + name


def mn2(major, minor, hotfix, build):
    return b"$MN2\0\0\0\0" + struct.pack("<4H", major, minor, hotfix, build)


write("image_locator", "ftpr-manifest", cpd(b"FTPR") + b"\0" * 16 + mn2(12, 0, 64, 1551))
write("image_locator", "others-first",
      b"\xff" * 70 + cpd(b"RBEP") + b"\xff" * 40 + cpd(b"FTPR") + b"\xff" * 100 +
      mn2(12, 0, 64, 1551) + b"\xff" * 30 + cpd(b"NFTP") + b"\xff" * 20)
write("image_locator", "manifest-before-ftpr",
      mn2(1, 2, 3, 4) + cpd(b"FTPR") + b"\0" * 40)
write("image_locator", "manifest-after-end",
      cpd(b"FTPR") + b"\0" * 20 + cpd(b"NEXT") + mn2(1, 2, 3, 4))
write("image_locator", "count-not-ending",
      cpd(b"FTPR") + b"\0" * 20 + b"$CPD\x01\x00\x01\x00" + b"\0" * 8 + mn2(3, 2, 1, 0))
write("image_locator", "ftpr-at-end", b"\0" * 60 + cpd(b"FTPR")[:15])
write("image_locator", "major-zero", cpd(b"FTPR") + mn2(0, 1, 2, 3))
write("image_locator", "manifest-cut", cpd(b"FTPR") + b"\0" * 8 + mn2(9, 9, 9, 9)[:12])
write("image_locator", "block-boundaries",
      b"\x24" * 61 + cpd(b"FTPR") + b"\x32" * 63 + mn2(7, 7, 7, 7) + b"\x24\x43\x50" * 30)

# ---- version text: the text, one byte per character ------------------------------
for i, text in enumerate([
        "12.0.64.1551", "012.00.0064.1551", "1..2.3", "1.2.3.", "...", "12.1234.5.6",
        "12.0.1234.5678", "1.2.3", "1.2.3.4.5", "....", "", " 1.2.3.4", "1.2.3.4 ",
        "a1.2.3.4", "1.2.3.4a", "-1.2.3.4", "1,2,3,4", "12345.0.0.1", "9999.9999.9999.9999"]):
    write("version_text", "text-%02d" % i, text.encode())
# A character whose low byte is a digit.
write("version_text", "wide-digit", b"1.2.3.\xfe\x31\x01")

# ---- tool output: set-up byte, then the output file --------------------------------
BOM = b"\xff\xfe"
outputs = {
    "plain": "Intel(R) MEInfo\r\nFW Version: 12.0.64.1551\r\n",
    "spaces": "FW Version:   12.0.64.1551\r\nH\r\n",
    "trailing-word": "FW Version: 12.0.64.1551 H\r\n",
    "na-then-later": "FW Version: n/a\r\nOther: x\r\nBuild 11.8.50.3425\r\n",
    "short": "FW Version: 12.0.64\r\nEnd\r\n",
    "lower-case": "fw version: 12.0.64.1551\r\n",
    "no-label": "Nothing here\r\n",
    "labels-no-digits": "FW Version" * 20,
    "too-long": "FW Version: " + "1." * 20 + "\r\n",
}
for name, text in outputs.items():
    write("tool_output", name, b"\x00" + BOM + u16(text))
write("tool_output", "empty", b"\x00")
write("tool_output", "odd-byte", b"\x00" + BOM + u16("FW Version: 1.2.3.4") + b"\x41")
write("tool_output", "tool-missing", b"\x01" + BOM + u16("FW Version: 1.2.3.4"))
write("tool_output", "small-pool", b"\x02" + BOM + u16("FW Version: 1.2.3.4" * 5))
write("tool_output", "read-fails", b"\x04" + BOM + u16("FW Version: 1.2.3.4"))

# ---- MeInfoSetup: set-up byte, then the variable -----------------------------------
def setup_var(fields, size=22, first=0):
    data = bytes([first]) + struct.pack("<4I", *fields) + b"\x11\x22\x33\x44\x55"
    return data[:size] + b"\0" * max(0, size - len(data))


write("setup_variable", "valid", b"\x00" + setup_var((12, 0, 64, 1551)))
write("setup_variable", "valid-verbose", b"\x01" + setup_var((12, 0, 64, 1551)))
write("setup_variable", "build-9998", b"\x00" + setup_var((1, 2, 3, 9998)))
write("setup_variable", "build-9999", b"\x00" + setup_var((1, 2, 3, 9999)))
write("setup_variable", "minor-65536", b"\x00" + setup_var((1, 65536, 3, 4)))
write("setup_variable", "major-zero", b"\x00" + setup_var((0, 1, 2, 3)))
write("setup_variable", "seventeen", b"\x00" + setup_var((5, 6, 7, 8), 17))
write("setup_variable", "sixteen", b"\x00" + setup_var((5, 6, 7, 8), 16))
write("setup_variable", "too-large", b"\x00" + setup_var((5, 6, 7, 8), 23))
write("setup_variable", "missing", b"\x02")

# ---- command line: set-up byte, then the words separated by 0 bytes ----------------
lines = [
    [], ["-ver"], ["-MBMEVER", "-VER"], ["-XYZ", "-VER"], ["-H"], ["-COLDRST"],
    ["-ECOVRPIN"], ["-ECOVRPIN", "-off"], ["-ECOVRPIN", "-ON", "-OFF"], ["-ECOVRPIN", "-H"],
    ["-CHKMEVER"], ["-CHKMEVER", "-N"], ["-CHKMEVER", "-X", "1.2.3.4"],
    ["-chkmever", "-f", "image.bin"], ["-CHKMEVER", "-N", "12.0.64.1551", "-RB02"],
    ["-CHKMEVER", "-N", "12.0.64.1552", "-RB02"],
    ["-CHKMEVER", "-F", "Q420TM07.BIN", "-RB01", "-RB01"],
    ["-CHKMEVER", "-F", "IMAGE.BIN", "-RB02", "extra", "words"],
    ["-CHKTXEVER", "-F", "Q420TM07.BIN", "-RB01"], ["-MBTXEVER", "-RB01"],
    ["-RB01", "-MBMEVER"], ["-MBMEVER", "-CHKTXEVER"], ["-MBTXEVER", "-CHKTXEVER"],
    ["-MBMEVER", "-ECOVRAUTO"], ["-FILEMEVER"], ["-FILEMEVER", "a", "b"], ["-FILEMEVER", "-N"],
    ["-FILETXEVER", "IMAGE.BIN"], ["-ECOVRAUTO"], ["-MBMEVER", "-RB02"], ["-CHKMEVER", "-N", "-H"],
]
for i, words in enumerate(lines):
    body = b"\x00".join(w.encode() for w in words)
    write("command_line", "line-%02d" % i, b"\x00" + body)
    write("command_line", "run-%02d" % i, b"\x01" + body)

# ---- HECI: set-up bytes, then one entry per read ------------------------------------
MKHI = bytes.fromhex("15676a8ebc9a434088ef9e39c6f63e0f")


def msg(data, control=0):
    if len(data) > 255:
        return bytes([control | 8]) + struct.pack("<H", len(data)) + data
    return bytes([control, len(data)]) + data


def props(address, guid, status=0, fixed=0, max_len=512, version=1):
    return (bytes([0x85, address, status, 0]) + guid +
            bytes([version, 1, fixed, 0]) + struct.pack("<I", max_len))


ENUM = msg(b"\x84\0\0\0" + b"\xff" * 32)
CONNECT = msg(b"\x86\x07\x01\x00")
CREDIT = msg(b"\x08\x07\x01\x00\0\0\0\0")
DISCONNECT = msg(b"\x87\x07\x01\x00\0\0\0\0")


def reply(result=0, count=1, version=(12, 0, 64, 1551), records=1):
    record = b"\0" * 12 + struct.pack("<4H", *version) + b"\0" * 68
    return bytes([0xFF, 0x9C, 0, result]) + struct.pack("<I", count) + record * records


def query(reply_bytes, address=7, credit_first=False):
    walk = b"".join(msg(props(a, b"\x11" * 16)) for a in range(address))
    body = ENUM + walk + msg(props(address, MKHI)) + CONNECT + CREDIT
    if credit_first:
        body += CREDIT + msg(reply_bytes)
    else:
        body += msg(reply_bytes) + CREDIT
    return body + DISCONNECT


NONE = b"\x00\xff"  # scenario 0, no failing send
write("heci", "version", NONE + query(reply()))
write("heci", "credit-first", NONE + query(reply(), credit_first=True))
write("heci", "result-81", NONE + query(reply(result=0x81)))
write("heci", "count-zero", NONE + query(reply(count=0)))
write("heci", "count-two", NONE + query(reply(count=2, records=2)))
write("heci", "short-reply", NONE + query(reply()[:40]))
write("heci", "claimed-length", NONE + ENUM + msg(props(1, MKHI)) + CONNECT + CREDIT +
      msg(reply(), control=4) + CREDIT + DISCONNECT)
write("heci", "fixed-address", NONE + ENUM + msg(props(3, MKHI, fixed=9)) + msg(reply()))
write("heci", "enum-timeouts", NONE + b"\x02\x02" + ENUM + msg(props(1, MKHI)) + CONNECT +
      CREDIT + msg(reply()) + CREDIT + DISCONNECT)
write("heci", "enum-three-timeouts", NONE + b"\x02\x02\x02")
write("heci", "connect-status-2", NONE + ENUM + msg(props(1, MKHI)) + msg(b"\x86\x01\x01\x02") +
      CREDIT + msg(reply()) + CREDIT + DISCONNECT)
write("heci", "connect-refused", NONE + ENUM + msg(props(1, MKHI)) + msg(b"\x86\x01\x01\x01"))
write("heci", "late-reply", NONE + ENUM + msg(props(1, MKHI)) + CONNECT + CREDIT + CREDIT +
      b"\x02" + msg(reply()) + DISCONNECT)
write("heci", "small-max-length", NONE + ENUM + msg(props(1, MKHI, max_len=13)) + CONNECT +
      CREDIT + msg(reply()[:13]) + CREDIT + DISCONNECT)
write("heci", "no-protocol", b"\x01\xff")
write("heci", "reset-fails", b"\x02\xff")
write("heci", "send-fails", b"\x00\x03" + query(reply()))
# Scenario 1: kind, request length, reply room (16-bit), then the bus.
write("heci", "transact-kind-21", b"\x04\xff" + bytes([21, 8]) + struct.pack("<H", 200) +
      ENUM + msg(props(1, MKHI, version=2)) + CONNECT + CREDIT + DISCONNECT +
      ENUM + msg(props(1, bytes.fromhex("1c0417ddea09174ba2715b989867ec65"))) + CONNECT + CREDIT +
      msg(reply()) + CREDIT + DISCONNECT)
write("heci", "transact-small-room", b"\x04\xff" + bytes([20, 8]) + struct.pack("<H", 16) +
      ENUM + msg(props(1, MKHI)) + CONNECT + CREDIT + msg(reply()) + CREDIT + DISCONNECT)
# Scenario 2: receive room (16-bit), then the bus.
write("heci", "receive", b"\x08\xff" + struct.pack("<H", 64) + ENUM + msg(props(1, MKHI)) +
      CONNECT + CREDIT + msg(b"\x08\x01\x01\x00\0\0\0\0") + msg(b"hello") + DISCONNECT)
write("heci", "reconnect", b"\x08\xff" + struct.pack("<H", 65) + ENUM + msg(props(1, MKHI)) +
      CONNECT + CREDIT + DISCONNECT + ENUM + msg(props(1, MKHI)) + CONNECT + CREDIT +
      msg(b"reply") + CREDIT + DISCONNECT)

# ---- automatic update: set-up byte, then the current directory ---------------------
dirs = ["FS0:\\UPDATE", "FS0:\\", "FS0:", "UPDATE", "FS12:\\A\\B\\C",
        "FS0:\\" + "D" * 66, "FS0:\\" + "D" * 67, "ABCDEFGHIJKLMNOP:\\X", "ABCDEFGHIJKLMNO:\\X",
        "FS0:\\WITH SPACE", "FS0:\\A:B"]
for i, d in enumerate(dirs):
    for setup, tag in ((0x00, "first"), (0x01, "final"), (0x02, "held"), (0x03, "both"),
                       (0x04, "declined"), (0x08, "no-ec")):
        write("auto_update", "%s-%02d" % (tag, i), bytes([setup]) + d.encode())
write("auto_update", "no-directory", b"\x10")
write("auto_update", "wide-character", b"\x00FS0:\\\xfe\x41\x01")

# ---- board signature: the legacy area's bytes ----------------------------------------
write("board_signature", "at-end", b"\xff\xff$$ZAN-")
write("board_signature", "at-start", b"$$VEK-\xff")
write("board_signature", "cut", b"$$ZAN")
write("board_signature", "near-misses", b"$$ZA$$VE$$ZAN$VEK-$$ZAN_")

# ---- SMBIOS: the structure table's bytes -------------------------------------------------
def smbios(stype, body, strings=()):
    return bytes([stype, 4 + len(body)]) + b"\x34\x12" + body + b"".join(t + b"\0" for t in strings) + b"\0" * (
        1 if strings else 2)


SYSTEM = smbios(1, b"\x01\x02\x03\x04" + bytes(range(16, 32)), [b"ZAN", b"Q420", b"1.0", b"SN0042"])
BIOS = smbios(0, b"\x01\x02\x00\xf0\x03\x00", [b"ZAN", b"Q420 1.07"])
for name, table in (("whole", BIOS + SYSTEM + smbios(127, b"")), ("no-strings", smbios(2, b"\0\0") + SYSTEM),
                    ("version-2.0", smbios(1, b"\x01\x02\x00\x03", [b"A", b"B", b"C"])), ("cut", BIOS + SYSTEM[:-1])):
    write("smbios", name, table)
