#!/usr/bin/env python3
"""Seeds for the fuzz corpus from a linked firmware image: a compact ELF (the loadable
contents packed at 4-byte alignment instead of the linker's 64 KiB pages, the function
symbols kept) and Intel HEX files of parts of it.

    fuzz/make_seeds.py IMAGE.elf OUT-PREFIX [--no-symbols] [--hex-boot]
"""
import struct
import sys


def read_elf(path):
    f = open(path, "rb").read()
    assert f[:4] == b"\x7fELF" and f[4] == 1 and f[5] == 1, "an ELF32 little-endian file"
    entry, phoff, shoff = struct.unpack_from("<III", f, 24)
    phentsize, phnum, shentsize, shnum, shstrndx = struct.unpack_from("<HHHHH", f, 42)
    segments = []
    for i in range(phnum):
        ptype, off, vaddr, paddr, filesz, memsz, flags, align = struct.unpack_from("<8I", f, phoff + i * phentsize)
        if ptype == 1 and filesz:
            segments.append((vaddr, paddr, memsz, flags, f[off:off + filesz]))
    sections = [struct.unpack_from("<10I", f, shoff + i * shentsize) for i in range(shnum)]
    symbols = []
    for sh in sections:
        if sh[1] != 2:  # SHT_SYMTAB
            continue
        strtab = sections[sh[6]]
        for at in range(sh[4], sh[4] + sh[5], 16):
            name, value, size, info, other, shndx = struct.unpack_from("<IIIBBH", f, at)
            if info & 0xF == 2 and shndx:  # functions
                n = f[strtab[4] + name:f.index(b"\0", strtab[4] + name)]
                symbols.append((n, value, size, info))
    return entry, segments, symbols


def write_elf(entry, segments, symbols):
    phnum = len(segments)
    body = bytearray()
    at = 52 + 32 * phnum
    phdrs = b""
    for vaddr, paddr, memsz, flags, data in segments:
        phdrs += struct.pack("<8I", 1, at + len(body), vaddr, paddr, len(data), memsz, flags, 4)
        body += data
        body += b"\0" * (-len(body) % 4)
    sections = [struct.pack("<10I", *([0] * 10))]
    shstr = b"\0.text\0.symtab\0.strtab\0.shstrtab\0"
    first = 52 + 32 * phnum
    sections.append(struct.pack("<10I", 1, 1, 6, segments[0][0], first, len(segments[0][4]), 0, 0, 4, 0))
    if symbols:
        strtab = b"\0"
        syms = struct.pack("<IIIBBH", 0, 0, 0, 0, 0, 0)
        for name, value, size, info in symbols:
            syms += struct.pack("<IIIBBH", len(strtab), value, size, info, 0, 1)
            strtab += name + b"\0"
        symoff = at + len(body)
        body += syms
        stroff = at + len(body)
        body += strtab
        body += b"\0" * (-len(body) % 4)
        sections.append(struct.pack("<10I", 7, 2, 0, 0, symoff, len(syms), 3, 1, 4, 16))
        sections.append(struct.pack("<10I", 15, 3, 0, 0, stroff, len(strtab), 0, 0, 1, 0))
    else:
        shstr = b"\0.text\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0.shstrtab\0"
    shstroff = at + len(body)
    body += shstr
    body += b"\0" * (-len(body) % 4)
    sections.append(struct.pack("<10I", 23, 3, 0, 0, shstroff, len(shstr), 0, 0, 1, 0))
    shoff = at + len(body)
    header = b"\x7fELF" + bytes([1, 1, 1]) + b"\0" * 9
    header += struct.pack("<HHIIIIIHHHHHH", 2, 8, 1, entry, 52, shoff, 0x70001000, 52, 32, phnum, 40,
                          len(sections), len(sections) - 1)
    return header + phdrs + bytes(body) + b"".join(sections)


def hex_record(rtype, address, data):
    rec = bytes([len(data), (address >> 8) & 0xFF, address & 0xFF, rtype]) + data
    return ":" + (rec + bytes([-sum(rec) & 0xFF])).hex().upper() + "\n"


def write_hex(entry, segments):
    out, upper = "", None
    for _, paddr, _, _, data in segments:
        for i in range(0, len(data), 16):
            a = paddr + i
            if a >> 16 != upper:
                upper = a >> 16
                out += hex_record(4, 0, struct.pack(">H", upper))
            out += hex_record(0, a & 0xFFFF, data[i:i + 16])
    out += hex_record(5, 0, struct.pack(">I", entry))
    return out + hex_record(1, 0, b"")


def main():
    image, prefix = sys.argv[1], sys.argv[2]
    entry, segments, symbols = read_elf(image)
    open(prefix + ".elf", "wb").write(write_elf(entry, segments, [] if "--no-symbols" in sys.argv else symbols))
    if "--hex-boot" in sys.argv:  # the reset code and the configuration words only
        boot = [s for s in segments if s[1] in (0x1FC00000, 0x1FC02FF4)]
        open(prefix + "-boot.hex", "w").write(write_hex(entry, boot))


if __name__ == "__main__":
    main()
