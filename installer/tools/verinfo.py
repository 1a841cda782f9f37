#!/usr/bin/env python3
"""Reads the version resource and the machine type of a Windows executable.

    verinfo.py FILE.exe            prints KEY=VALUE lines:
        Machine=i386|x86-64|...
        FixedFileVersion=a.b.c.d   (VS_FIXEDFILEINFO)
        FixedProductVersion=a.b.c.d
        <string key>=<value>       (every value of the first string table)

The release takes the version for the package names from the built program
itself, so the version resource stays the one place where it is written.
Exit status 1 when the file is no PE image or has no version resource.
"""
import struct
import sys

MACHINES = {0x14C: "i386", 0x8664: "x86-64", 0xAA64: "arm64"}
RT_VERSION = 16


def align4(n, base):
    return base + ((n - base + 3) & ~3)


def read_key(data, pos, end):
    """UTF-16 text up to its terminator; returns (text, position after it)."""
    out = []
    while pos + 1 < end:
        ch = struct.unpack_from("<H", data, pos)[0]
        pos += 2
        if ch == 0:
            break
        out.append(ch)
    return bytes(struct.pack("<%dH" % len(out), *out)).decode("utf-16-le"), pos


def parse_block(data, off, base):
    """One VERSIONINFO node: (key, value bytes, type, children, end)."""
    length, value_len, vtype = struct.unpack_from("<HHH", data, off)
    end = off + length
    key, pos = read_key(data, off + 6, end)
    pos = align4(pos, base)
    # Text values count characters, binary values count bytes; some resource
    # compilers count bytes for text too, so text is read to its terminator.
    if vtype == 1:
        value, _ = read_key(data, pos, min(end, pos + max(value_len * 2, 2) + 2))
        vbytes = value
        pos = pos + value_len * 2
    else:
        vbytes = data[pos:pos + value_len]
        pos = pos + value_len
    children = []
    pos = align4(pos, base)
    while pos + 6 <= end:
        child = parse_block(data, pos, base)
        if child[4] <= pos:
            break
        children.append(child)
        pos = align4(child[4], base)
    return key, vbytes, vtype, children, end


def find_version_resource(data, pe):
    """File offset of the first RT_VERSION resource, from the PE resource tree."""
    nsections = struct.unpack_from("<H", data, pe + 6)[0]
    opt_size = struct.unpack_from("<H", data, pe + 20)[0]
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    dirs = opt + (96 if magic == 0x10B else 112)
    rsrc_rva = struct.unpack_from("<I", data, dirs + 2 * 8)[0]
    if rsrc_rva == 0:
        return None
    sections = []
    for i in range(nsections):
        s = opt + opt_size + 40 * i
        vsize, vaddr, rsize, raddr = struct.unpack_from("<IIII", data, s + 8)
        sections.append((vaddr, max(vsize, rsize), raddr))

    def offset(rva):
        for vaddr, size, raddr in sections:
            if vaddr <= rva < vaddr + size:
                return rva - vaddr + raddr
        raise ValueError("RVA outside the sections")

    root = offset(rsrc_rva)

    def entries(dir_off):
        named, ids = struct.unpack_from("<HH", data, dir_off + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, dir_off + 16 + 8 * i)
            yield name, target

    for name, target in entries(root):
        if name != RT_VERSION or not target & 0x80000000:
            continue
        level2 = root + (target & 0x7FFFFFFF)
        for _, t2 in entries(level2):
            node = root + (t2 & 0x7FFFFFFF)
            if t2 & 0x80000000:  # language level
                for _, t3 in entries(node):
                    node = root + (t3 & 0x7FFFFFFF)
                    break
            data_rva = struct.unpack_from("<I", data, node)[0]
            return offset(data_rva)
    return None


def version_text(ms, ls):
    return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    data = open(sys.argv[1], "rb").read()
    if data[:2] != b"MZ":
        sys.exit("verinfo: not a PE file: " + sys.argv[1])
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        sys.exit("verinfo: not a PE file: " + sys.argv[1])
    machine = struct.unpack_from("<H", data, pe + 4)[0]
    print("Machine=" + MACHINES.get(machine, hex(machine)))

    base = find_version_resource(data, pe)
    if base is None:
        sys.exit("verinfo: no version resource in " + sys.argv[1])
    key, fixed, _, children, _ = parse_block(data, base, base)
    if len(fixed) < 52 or struct.unpack_from("<I", fixed, 0)[0] != 0xFEEF04BD:
        sys.exit("verinfo: damaged version resource in " + sys.argv[1])
    fms, fls, pms, pls = struct.unpack_from("<IIII", fixed, 8)
    print("FixedFileVersion=" + version_text(fms, fls))
    print("FixedProductVersion=" + version_text(pms, pls))
    for ckey, _, _, tables, _ in children:
        if ckey != "StringFileInfo" or not tables:
            continue
        for skey, svalue, _, _, _ in tables[0][3]:
            if isinstance(svalue, bytes):
                svalue = svalue.decode("utf-16-le", "replace").rstrip("\0")
            print("%s=%s" % (skey, svalue))
        break


if __name__ == "__main__":
    main()
