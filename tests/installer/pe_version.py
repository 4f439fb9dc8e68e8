#!/usr/bin/env python3
"""Prints the version strings of a Windows executable, one "Key=Value" a line.

Usage: pe_version.py FILE

Walks the PE headers to the resource section, takes the first RT_VERSION
resource and reads the StringFileInfo table of its VS_VERSIONINFO. Exits 1
with a message when the file has no readable version resource. Every offset is
checked against the file's length before it is used.
"""
import struct
import sys

RT_VERSION = 16


class BadFile(Exception):
    pass


def unpack(fmt, data, offset):
    size = struct.calcsize(fmt)
    if offset < 0 or offset + size > len(data):
        raise BadFile(f"read of {size} bytes at {offset} is outside the file")
    return struct.unpack_from(fmt, data, offset)


def resource_section(data):
    (pe,) = unpack("<I", data, 0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        raise BadFile("no PE signature")
    sections, = unpack("<H", data, pe + 6)
    optional_size, = unpack("<H", data, pe + 20)
    optional = pe + 24
    magic, = unpack("<H", data, optional)
    directories = optional + (96 if magic == 0x10B else 112)
    resource_rva, _ = unpack("<II", data, directories + 2 * 8)
    table = optional + optional_size
    for i in range(sections):
        _, _, virtual, raw_size, raw = unpack("<8sIIII", data, table + 40 * i)
        if virtual <= resource_rva < virtual + max(raw_size, 1):
            return raw + (resource_rva - virtual), virtual - raw
    raise BadFile("no resource section")


def first_entry(data, base, directory, want_id=None):
    named, ids = unpack("<HH", data, directory + 12)
    for i in range(named + ids):
        name, target = unpack("<II", data, directory + 16 + 8 * i)
        if want_id is None or (not name & 0x80000000 and name == want_id):
            return target
    raise BadFile("no version resource")


def version_resource(data):
    base, rva_to_raw = resource_section(data)
    level = first_entry(data, base, base, RT_VERSION)
    for _ in range(2):  # name, then language
        if not level & 0x80000000:
            raise BadFile("malformed resource tree")
        level = first_entry(data, base, base + (level & 0x7FFFFFFF))
    rva, size, _, _ = unpack("<IIII", data, base + level)
    start = rva - rva_to_raw
    if start < 0 or start + size > len(data):
        raise BadFile("version resource outside the file")
    return data[start:start + size]


def utf16z(block, offset, end):
    stop = offset
    while stop + 1 < end and block[stop:stop + 2] != b"\0\0":
        stop += 2
    return block[offset:stop].decode("utf-16-le", "replace"), stop + 2


def align(n):
    return (n + 3) & ~3


def walk(block, offset, end, out, depth=0):
    """Reads the node at offset; string leaves three levels down are values."""
    length, value_length, kind = unpack("<HHH", block, offset)
    node_end = min(offset + length, end)
    if length < 6:
        raise BadFile("malformed version node")
    key, after = utf16z(block, offset + 6, node_end)
    children = align(after)
    if depth == 3 and kind == 1:
        value, _ = utf16z(block, children, min(children + 2 * value_length, node_end))
        out[key] = value
        return node_end
    if depth == 0:
        children = align(children + value_length)  # skip VS_FIXEDFILEINFO
    if depth >= 3 or (depth == 1 and key != "StringFileInfo"):
        return node_end
    while children + 6 <= node_end:
        children = align(walk(block, children, node_end, out, depth + 1))
    return node_end


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        with open(sys.argv[1], "rb") as f:
            data = f.read()
        block = version_resource(data)
        strings = {}
        walk(block, 0, len(block), strings)
    except (OSError, BadFile) as error:
        print(f"pe_version: {sys.argv[1]}: {error}", file=sys.stderr)
        return 1
    for key, value in strings.items():
        print(f"{key}={value}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
