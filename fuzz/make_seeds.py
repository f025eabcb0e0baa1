#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets (fuzz/corpus/<target>/). Run it again after a
change of the formats; libFuzzer grows its own corpus from these in the build directory."""
import os
import struct

here = os.path.dirname(os.path.abspath(__file__))


def frame(command, payload=b"", address=0x12):
    head = bytes([0xBC, address, command]) + struct.pack(">H", len(payload)) + payload
    return head + (sum(head) & 0xFFFFFF).to_bytes(3, "big")


def device_info(kind=4, major=2, minor=46, mode=1, base=0x10000):
    ids = struct.pack(">III", 0x5A500001, 0x00C0FFEE, 0x246)
    return bytes([mode]) + ids + b"ZPI-SIM".ljust(12, b"\0") + b"BENCH".ljust(12, b"\0") + \
        bytes([kind, 1, major, minor]) + struct.pack(">I", base)


def config_image(ping=180, a232=1152, b232=192):
    body = bytes([0x01, 0x02]) + struct.pack(">HHH", ping, a232, b232) + bytes([11, 11, 11, 11, 11, 120, 5, 11, 90, 5, 11]) + \
        struct.pack(">H", 4500) + bytes([5, 11, 6, 7, 11, 40]) + struct.pack(">H", 900) + bytes([5])
    head = bytes([0xCA, 0xFE, 0xF0, 0xDA]) + struct.pack(">H", len(body)) + body
    return (head + (sum(head) & 0xFFFFFF).to_bytes(3, "big")).ljust(2032, b"\xff")


def config_data(image, base=0x10000):
    out = []
    for offset in range(0, 2032, 500):
        chunk = image[offset:offset + 500]
        out.append(frame(7, struct.pack(">IH", base + offset, len(chunk)) + chunk))
    return out


def events(*chunks):
    """The dispatcher's input: each event is a length byte and at most 255 bytes."""
    out = b""
    for chunk in chunks:
        for i in range(0, len(chunk), 255):
            part = chunk[i:i + 255]
            out += bytes([len(part)]) + part
    return out


def write(target, name, data):
    folder = os.path.join(here, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


image = config_image()
write("frame", "ack", frame(2, b"\x00\x01"))
write("frame", "device_info", frame(4, device_info()))
write("frame", "config_data", config_data(image)[0])
write("frame", "read_request", frame(7, struct.pack(">IH", 0x10000, 500), 0x21))
write("frame", "two_frames", frame(2, b"\x00\x01") + frame(3))
write("config_image", "default", image)
write("config_image", "ventora", config_image(ping=60))
# The version check's input: a byte that picks the content type (0 none, 1 text/plain,
# 2 text/html, ...; see fuzz_version_token.cpp), then the reply.
token = b"#*$(002.046.066@@002.046.066)$*#"
write("version_token", "own", b"\x01" + token)
write("version_token", "newer", b"\x00x#*$(002.047.067@@002.047.067)$*#")
write("version_token", "page", b"\x02<html><head><style>p{color:#fff}</style></head><BODY class='a>b'>" + token + b"\n</body></html>")
write("version_token", "page_no_body", b"\x00<!DOCTYPE html>\n<html><head><title>x</title></head>\n" + token + b"</html>")
texts = [b"11", b"11", b"120", b"5", b"90", b"5", b"4500", b"5", b"6", b"7", b"40", b"900", b"5"]
write("remote_commands", "defaults", bytes([9, 4, 2]) + b"".join(bytes([len(t)]) + t for t in texts) + bytes([1, 0, 0, 1, 0] * 5) + bytes([1, 1, 1, 1]))
write("dispatcher", "identity_then_read", events(frame(4, device_info()), *config_data(image)))
write("dispatcher", "old_firmware", events(frame(4, device_info(minor=45)), frame(2, b"\x00\x01"), frame(2, b"\x07\x60")))
write("dispatcher", "invalid_config", events(frame(4, device_info()), *config_data(b"\x00" * 2032)))
write("dispatcher", "operating_mode", events(frame(4, device_info(mode=0)), frame(11)))
write("dispatcher", "noise", events(b"\xbc\x12\x02", b"\x55" * 9, frame(11, b"", 0x11)))
