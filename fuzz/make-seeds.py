#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/ (small, valid or
nearly valid inputs that start each target deep in its format). Run it again after a format
changes; the files it writes are committed."""
import hashlib
import io
import pathlib
import struct
import zipfile
import zlib

ROOT = pathlib.Path(__file__).resolve().parent
CORPUS = ROOT / "corpus"
PACKAGE = ROOT.parent / "firmware" / "builtin-package.zip"


def write(target, name, data):
    folder = CORPUS / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(bytes(data))


# --- block bootloader frames ------------------------------------------------------------------

def crc8_block(data):
    crc = 0xFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xE0 if crc & 1 else crc >> 1
    return crc ^ 0xFF


def crc16_x25(data):
    crc = 0xFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0x8408 if crc & 1 else crc >> 1
    return crc ^ 0xFFFF


def short_frame(header, data):
    frame = bytes([header, len(data)]) + bytes(data)
    return frame + bytes([crc8_block(frame)])


def long_frame(data):
    frame = bytes([0x78]) + struct.pack("<H", len(data)) + bytes(data)
    return frame + struct.pack("<H", crc16_x25(frame))


def power_on_report(flags=0x01, text=b"QOR-BL"):
    return short_frame(0x08, bytes([flags, 0]) + struct.pack("<HHHBB", 26156, 18, 35, 1, 4) + text)


def block_seeds():
    accepted = long_frame([10])
    assert accepted == bytes.fromhex("7801000AC5B6")
    write("block_frames", "transfer", power_on_report() + accepted * 5)
    write("block_frames", "short-frames-between",
          power_on_report() + short_frame(0x10, b"x") + accepted + short_frame(0x20, b"") +
          accepted * 4)
    write("block_frames", "refused-block", power_on_report() + accepted + long_frame([11]))
    write("block_frames", "unknown-status", power_on_report() + long_frame([12, 1, 2]))
    write("block_frames", "report-without-flag", power_on_report(flags=0))
    write("block_frames", "report-10-bytes", short_frame(0x08, [1, 0, 0x2C, 0x66, 18, 0, 35]))
    bad = bytearray(power_on_report())
    bad[-1] ^= 0xFF
    write("block_frames", "report-bad-crc", bad)


# --- Nordic DFU -------------------------------------------------------------------------------

def slip(payload):
    out = bytearray()
    for b in payload:
        out += {0xC0: b"\xDB\xDC", 0xDB: b"\xDB\xDD"}.get(b, bytes([b]))
    return bytes(out) + b"\xC0"


def response(op, result=1, payload=b""):
    return slip(bytes([0x60, op, result]) + payload)


def pieces(answers):
    out = bytearray()
    for a in answers:
        assert len(a) < 256
        out += bytes([len(a)]) + a
    return bytes(out)


def dfu_seeds():
    # The package of the target: a 24-byte init packet and a 300-byte image.
    dat = bytes([0x11] * 24)
    image = bytes((i * 7) & 0xFF for i in range(300))
    u32 = lambda *v: struct.pack("<" + "I" * len(v), *v)
    setup = [response(0x09, 1, b"\x01"), response(0x02), response(0x07, 1, struct.pack("<H", 131))]
    init = [response(0x06, 1, u32(512, 0, 0)), response(0x01),
            response(0x03, 1, u32(len(dat), zlib.crc32(dat)))]
    firmware = [response(0x06, 1, u32(4096, 0, 0)), response(0x01),
                response(0x03, 1, u32(len(image), zlib.crc32(image))), response(0x04)]
    write("dfu_responses", "transfer", pieces(setup + init + [response(0x04)] + firmware))
    write("dfu_responses", "init-refused",
          pieces(setup + init + [response(0x04, 0x0B, b"\x05")]))
    write("dfu_responses", "checksum-mismatch",
          pieces(setup + init[:2] + [response(0x03, 1, u32(len(dat), 0))] * 3))
    write("dfu_responses", "silent", b"")


def slip_seeds():
    write("slip", "packets", b"\x40\x03" + b"\xC0\x01\x02\xDB\xDC\x03\xC0\x60\x09\x01\x05\xC0")
    write("slip", "escapes", b"\x08\x01" + b"\xDB\xDD\xDB\xDC\xC0\xC0\xC0")
    write("slip", "bad-escape", b"\x10\x05" + b"\x01\xDB\x02\xC0\x03\x04\xC0")
    write("slip", "oversized", b"\x00\x10" + bytes(range(1, 40)) + b"\xC0\x07\xC0")


# --- the package ------------------------------------------------------------------------------

def varint(v):
    out = bytearray()
    while True:
        b = v & 0x7F
        v >>= 7
        out.append(b | (0x80 if v else 0))
        if not v:
            return bytes(out)


def field(number, wire, value):
    key = varint(number << 3 | wire)
    if wire == 0:
        return key + varint(value)
    return key + varint(len(value)) + value


def init_packet(image, signed):
    digest = hashlib.sha256(image).digest()[::-1]
    init = (field(1, 0, 20500) + field(2, 0, 52) + field(3, 2, varint(0xB6)) + field(4, 0, 0) +
            field(5, 0, 0) + field(6, 0, 0) + field(7, 0, len(image)) +
            field(8, 2, field(1, 0, 3) + field(2, 2, digest)) + field(9, 0, 0) +
            field(10, 2, field(1, 0, 0) + field(2, 2, b"")))
    command = field(1, 0, 1) + field(2, 2, init)
    if not signed:
        return field(1, 2, command)
    signed_command = field(1, 2, command) + field(2, 0, 0) + field(3, 2, bytes(range(64)))
    return field(2, 2, signed_command)


MANIFEST = (b'{\n    "manifest": {\n        "application": {\n            "bin_file": "qor-ble.bin",'
            b'\n            "dat_file": "qor-ble.dat"\n        }\n    }\n}')


def zip_of(members, method):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", compression=method) as archive:
        for name, data in members:
            archive.writestr(zipfile.ZipInfo(name, (2024, 1, 1, 0, 0, 0)), data,
                             compress_type=method)
    return buffer.getvalue()


def package_seeds():
    with zipfile.ZipFile(PACKAGE) as builtin:
        real_dat = builtin.read("qor-ble.dat")
        assert builtin.read("manifest.json") == MANIFEST
    image = bytes((i * 13 + 5) & 0xFF for i in range(256))
    dat = init_packet(image, signed=False)
    members = [("manifest.json", MANIFEST), ("qor-ble.dat", dat), ("qor-ble.bin", image)]
    write("package_zip", "stored", zip_of(members, zipfile.ZIP_STORED))
    write("package_zip", "deflated", zip_of(members, zipfile.ZIP_DEFLATED))
    write("package_zip", "builtin-init-packet",
          zip_of([("manifest.json", MANIFEST), ("qor-ble.dat", real_dat),
                  ("qor-ble.bin", image)], zipfile.ZIP_STORED))

    def split(manifest, init, bin_):
        return (struct.pack("<H", len(manifest)) + manifest + struct.pack("<H", len(init)) + init +
                bin_)
    write("package_members", "valid", split(MANIFEST, dat, image))
    write("package_members", "signed", split(MANIFEST, init_packet(image, True), image))
    write("package_members", "builtin-init-packet", split(MANIFEST, real_dat, image))
    write("package_members", "two-images",
          split(b'{"manifest":{"bootloader":{"bin_file":"qor-ble.bin","dat_file":"qor-ble.dat"},'
                b'"application":{"bin_file":"qor-ble.bin","dat_file":"qor-ble.dat"}}}', dat,
                image))

    write("init_packet", "builtin", real_dat)
    write("init_packet", "unsigned", dat)
    write("init_packet", "signed", init_packet(image, True))


# --- text inputs ------------------------------------------------------------------------------

def text_seeds():
    example = ["bootloader=2", "bootloader version=1", "class=26156", "versionH=2", "versionL=7",
               "platform=18", "print=35", "date=20.01.2020"]
    write("descriptor_file", "example", ("\r\n".join(example) + "\r\n").encode())
    write("descriptor_file", "hex-and-signs",
          "bootloader=3\nbootloader version=$10\nclass=0x662C\nversionH=+2\nversionL= 7\n"
          "platform=-1\nprint=X23\ndate=a=b\n".encode())
    write("descriptor_file", "byte-order-mark", b"\xEF\xBB\xBF" + "\n".join(example).encode())
    write("descriptor_file", "six-lines", "\n".join(example[:6]).encode())

    for name, line in [("progress", "0/72092"), ("done", "72092/72092"),
                       ("start", "Start programming."), ("blank", "1 2"),
                       ("quoted", '"3"/"4"'), ("hex", "$10/0x20"), ("three", "1/2/3"),
                       ("signs", "-5/ +6"), ("trailing-slash", "7/"),
                       ("error", "Error: No ping response after opening COM port")]:
        write("progress_line", name, line.encode())

    write("startup_options", "service", b"\x01f:\x00F:+\x00cc:-\x00mf:+")
    write("startup_options", "normal", b"\x00mf:\x00mf:-\x00mf:+x\x00f:")
    write("cli_options", "update", b"--port\x00/dev/ttyUSB0\x00--yes\x00--max-restarts\x003")
    write("cli_options", "info", b"--port\x00COM3\x00--read-info-only\x00--no-class-check"
                                 b"\x00--descriptor\x00file.txt")
    write("cli_options", "listings", b"--firmware\x00--list-ports\x00--help\x00--version")


if __name__ == "__main__":
    block_seeds()
    dfu_seeds()
    slip_seeds()
    package_seeds()
    text_seeds()
