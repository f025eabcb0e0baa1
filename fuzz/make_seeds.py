#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets (fuzz/corpus/<target>/). Run it again after a
change of the formats; libFuzzer grows its own corpus from these in the build directory."""
import json
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


def config_file(preset=False, **changes):
    """A configuration file as zpictl writes it: the fields in image order, then the choices."""
    numbers = dict(zip(["PING", "A232", "B232", "ACP", "ACN", "VMX", "TVMX", "VCH", "TVCH", "RPX", "TRPX", "TOSC",
                        "XOSC", "VBGL", "RBGL", "TBGL"],
                       [60, 115200, 19200, 11, 11, 100, 10, 80, 10, 4500, 5, 1, 7, 40, 900, 5] if preset else
                       [180, 115200, 19200, 11, 11, 120, 5, 90, 5, 4500, 5, 6, 7, 40, 900, 5]))
    # Per condition: buzzer and event at entry (and exit, and the buzzer during).
    choices = {}
    for group in ["ACP", "ACN"]:
        choices["BZ_" + group], choices["EV_" + group] = not preset, True
    for group in ["VMX", "VCH", "RPX", "OSC", "BGL"]:
        for name, default, value in [("BZ_%s_IN", True, False), ("BZ_%s_OUT", False, False), ("BZ_%s_WH", False, False),
                                     ("EV_%s_IN", True, True), ("EV_%s_OUT", False, True)]:
            choices[name % group] = value if preset else default
    fields = {"format": 1, **numbers, **choices, **changes}
    return (json.dumps(fields, indent=2, ensure_ascii=False) + "\n").encode()


def config_data(image, base=0x10000):
    out = []
    for offset in range(0, 2032, 500):
        chunk = image[offset:offset + 500]
        out.append(frame(7, struct.pack(">IH", base + offset, len(chunk)) + chunk))
    return out


def engine_steps(*steps):
    """The engine's input: receive events (a step byte 0, a two-byte length and the bytes) and
    single-byte steps: 5 tick, 6 upload, 7 read, 8 panel write (then its values), 9 jump,
    10 new connection, 11 port closed or opened again."""
    out = b""
    for step in steps:
        if isinstance(step, int):
            out += bytes([step])
        else:
            out += bytes([0]) + struct.pack(">H", len(step)) + step
    return out


def ack(index):
    return frame(2, struct.pack(">H", index))


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
answers = config_data(image)
write("engine", "identity_then_read", engine_steps(frame(4, device_info()), *[x for a in answers for x in (a, 5)]))
write("engine", "old_firmware", engine_steps(frame(4, device_info(minor=45)), ack(1), ack(2), 5, 5, 5, ack(3), ack(0x760)))
write("engine", "invalid_config", engine_steps(frame(4, device_info()), *config_data(b"\x00" * 2032), *[ack(i) for i in range(1, 45)]))
write("engine", "operating_mode", engine_steps(frame(4, device_info(mode=0)), frame(11)))
write("engine", "noise", engine_steps(b"\xbc\x12\x02", b"\x55" * 9, frame(11, b"", 0x11), frame(3), 5, 5))
write("engine", "panel_write_then_unplug", engine_steps(8, *([0] * 35), ack(1), 11, 5, 10, frame(4, device_info(kind=2))))
write("engine", "read_then_write", engine_steps(frame(4, device_info()), answers[0], 8, *([7] * 35), 5, 7, 5))
# Configuration files: accepted ones, each kind of refusal, and texts that are no configuration.
default_file = config_file()
write("config_file", "default", default_file)
write("config_file", "ventora", config_file(preset=True))
write("config_file", "compact_reordered", json.dumps(dict(reversed(json.loads(default_file).items())),
                                                     separators=(",", ":")).encode())
write("config_file", "crlf_bom", b"\xef\xbb\xbf" + default_file.replace(b"\n", b"\r\n"))
write("config_file", "out_of_bounds", config_file(RBGL=1001, TOSC=0, PING=7, A232=9600))
write("config_file", "wrong_types", config_file(VMX=-1, TVMX=1.5, VCH=None, RPX=[4500], BZ_ACP=1, EV_ACP="true"))
write("config_file", "during_with_exit", config_file(BZ_RPX_OUT=True, BZ_RPX_WH=True))
write("config_file", "unknown_and_twice", default_file.replace(b"{\n", b'{\n  "EXTRA": {"a": [1]},\n  "TBGL": 5,\n  "\\u00e7\\n": 0,\n', 1))
write("config_file", "format_2", config_file(format=2))
write("config_file", "missing_keys", b'{"format": 1, "PING": 180}')
write("config_file", "not_an_object", b'\n  [1, "a", null]\n')
write("config_file", "truncated", default_file[:200])
