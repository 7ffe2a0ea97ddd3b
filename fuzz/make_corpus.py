#!/usr/bin/env python3
"""Writes the seed corpus of the resource-file fuzzer.

The files are laid out here, independently of the C++ writer, so that the
reader is also checked against a second implementation of the format.
Records are little-endian, as the machines this runs on.
"""
import os
import struct
import sys


def resource_file(resources, file_attrs=0):
    """resources: list of (type bytes, id, name or None, data bytes)."""
    data = b""
    types = []
    for rtype, rid, name, blob in resources:
        if rtype not in types:
            types.append(rtype)
    refs = {t: [] for t in types}
    names = b""
    for rtype, rid, name, blob in resources:
        name_off = 0xFFFF
        if name is not None:
            name_off = len(names)
            names += bytes([len(name)]) + name
        refs[rtype].append(struct.pack(">hHB", rid, name_off, 0) + len(data).to_bytes(3, "big") + b"\0" * 4)
        data += struct.pack(">I", len(blob)) + blob
    type_list = struct.pack(">H", (len(types) - 1) & 0xFFFF)
    ref_lists = b""
    ref_at = 2 + 8 * len(types)
    for t in types:
        type_list += t + struct.pack(">HH", len(refs[t]) - 1, ref_at + len(ref_lists))
        ref_lists += b"".join(refs[t])
    name_list_off = 28 + len(type_list) + len(ref_lists)
    map_len = name_list_off + len(names)
    header = struct.pack(">IIII", 256, 256 + len(data), len(data), map_len)
    mapping = header + b"\0" * 6 + struct.pack(">HHH", file_attrs, 28, name_list_off) + type_list + ref_lists + names
    return header + b"\0" * 240 + data + mapping


def config_record(version=3, size=394, sliders=(100, 100, 100, 0, 0, 0)):
    rec = struct.pack("<II", size, version)
    rec += struct.pack("<4d", 0.0, 1.0, 0.0, 1.0) * 2                # startRel, endRel
    rec += struct.pack("<3H", 0, 0, 0) + struct.pack("<3H", 65535, 65535, 65535) + struct.pack("<3H", 0, 0, 0) * 4
    rec += struct.pack("<6h", *sliders)
    rec += struct.pack("<3H", 65535, 0, 0) + struct.pack("<3H", 0, 0, 0)  # frame start, end colours
    rec += struct.pack("<hBBh", 1, 0, 0, 1)                          # mediaType, keepProps, pad, method
    text = b"Config save for Tralvex iMovie plug-in"
    rec += bytes([len(text)]) + text + b"\0" * (255 - len(text))
    assert len(rec) == 394
    return rec


def main(folder):
    name = b"Config Settings"
    valid = resource_file([(b"Pref", 1, name, config_record(sliders=(150, -20, 7, 0, 0, 0)))])
    files = {
        "valid-prefs": valid,
        "empty-resource-file": resource_file([]),
        "several-types": resource_file([
            (b"Pref", 1, name, config_record()),
            (b"STR#", 128, None, b"\0\2\3Red\5Green"),
            (b"Pref", 2, b"spare", b"xyz"),
            (b"TEXT", -5, None, b""),
        ]),
        "version-2": resource_file([(b"Pref", 1, name, config_record(version=2))]),
        "size-396": resource_file([(b"Pref", 1, name, config_record(size=396) + b"\0\0")]),
        "truncated": valid[:500],
    }
    os.makedirs(folder, exist_ok=True)
    for leaf, blob in files.items():
        with open(os.path.join(folder, leaf), "wb") as f:
            f.write(blob)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "resfile-corpus"))
