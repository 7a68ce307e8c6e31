#!/usr/bin/env python3
"""Bit files of the firmware image set: generate stand-in images, check and embed them.

  bitfile.py generate MANIFEST OUTDIR
      writes one bit file per manifest row (OUTDIR/<prefix>.bit): the header as the row
      gives it, then a bitstream that opens with FF FF FF FF AA 99 55 66 and goes on with
      deterministic pseudo-random bytes in which no word equals its neighbour.

  bitfile.py convert MANIFEST OUTDIR FILE:VERSION ...
      checks each bit file against the bit-file layout and writes OUTDIR/images.S (the
      bytes, embedded with .incbin) and OUTDIR/image_set.cpp (the image table and the
      package identity). A file that does not fit stops with a message naming it.
"""
import os
import random
import struct
import sys

OPENING = bytes([0xFF, 0xFF, 0xFF, 0xFF, 0xAA, 0x99, 0x55, 0x66])
FIELDS = ["a", "b", "c", "d"]  # design name, part name, date, time
REGION_SIZE = 0x400000


class Fault(Exception):
    pass


def read_manifest(path):
    package, rows = None, []
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            cells = [c.strip() for c in line.split("|")]
            if cells[0] == "package":
                package = {"string": cells[1], "version": cells[2]}
                continue
            row, prefix, map_index, design, part, date, time, version, size, header, stream = cells
            rows.append({"row": int(row), "prefix": prefix, "map": int(map_index),
                         "fields": [design, part, date, time], "version": version,
                         "size": int(size), "header": int(header), "bitstream": int(stream)})
    if package is None or len(rows) != 4:
        raise Fault(f"{path}: needs a package line and four image rows")
    return package, rows


def header_bytes(fields, bitstream_length):
    out = struct.pack(">H", 9) + bytes([0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x00])
    out += struct.pack(">H", 1)
    for letter, text in zip(FIELDS, fields):
        value = text.encode("ascii") + b"\0"
        out += letter.encode("ascii") + struct.pack(">H", len(value)) + value
    return out + b"e" + struct.pack(">I", bitstream_length)


def generate(manifest, outdir):
    _, rows = read_manifest(manifest)
    os.makedirs(outdir, exist_ok=True)
    for r in rows:
        header = header_bytes(r["fields"], r["bitstream"])
        if len(header) != r["header"] or r["header"] + r["bitstream"] != r["size"]:
            raise Fault(f"{manifest}: row {r['row']}: header of {len(header)} bytes, "
                        f"the row says {r['header']} + {r['bitstream']} = {r['size']}")
        stream = bytearray(OPENING + random.Random(r["row"] + 1).randbytes(r["bitstream"] - 8))
        image = bytearray(header) + stream
        # No word of the region equals its neighbour inside the bitstream, so that a shifted or
        # skipped word cannot pass the read-back.
        first = (len(header) + len(OPENING) + 3) // 4 + 1
        words = memoryview(image)[: len(image) // 4 * 4].cast("I")
        for i in range(first, len(words)):
            if words[i] == words[i - 1]:
                words[i] ^= 0x01000000
        words.release()
        path = os.path.join(outdir, r["prefix"] + ".bit")
        with open(path + ".new", "wb") as f:
            f.write(image)
        os.replace(path + ".new", path)


def check(path, data):
    """Checks one bit file; returns nothing or raises Fault naming what is wrong."""
    def need(condition, what):
        if not condition:
            raise Fault(f"{path}: {what}")

    need(len(data) >= 13, "too short for a bit-file header")
    need(struct.unpack(">H", data[0:2])[0] == 9, "does not open with the length 9")
    need(struct.unpack(">H", data[11:13])[0] == 1, "the word after the nine fixed bytes is not 1")
    pos = 13
    for letter in FIELDS:
        need(pos + 3 <= len(data), f"ends before field '{letter}'")
        need(data[pos:pos + 1] == letter.encode(), f"field '{letter}' expected at byte {pos}")
        length = struct.unpack(">H", data[pos + 1:pos + 3])[0]
        need(length >= 1 and pos + 3 + length <= len(data), f"field '{letter}' has a bad length")
        value = data[pos + 3:pos + 3 + length]
        need(value[-1:] == b"\0" and b"\0" not in value[:-1],
             f"field '{letter}' is not one terminated text")
        pos += 3 + length
    need(pos + 5 <= len(data) and data[pos:pos + 1] == b"e", f"field 'e' expected at byte {pos}")
    stream_length = struct.unpack(">I", data[pos + 1:pos + 5])[0]
    header = pos + 5
    need(header + stream_length == len(data),
         f"size {len(data)} is not the header {header} plus the 'e' length {stream_length}")
    need(data[header:header + 8] == OPENING, "the bitstream does not open with FF FF FF FF AA 99 55 66")
    need(len(data) <= REGION_SIZE - 64, "larger than a flash region")


def c_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def convert(manifest, outdir, inputs):
    package, rows = read_manifest(manifest)
    if len(inputs) != 4:
        raise Fault("convert takes four FILE:VERSION arguments, rows 0 to 3")
    images = []
    for argument in inputs:
        path, _, version = argument.rpartition(":")
        if not path or not version:
            raise Fault(f"{argument}: expected FILE:VERSION")
        with open(path, "rb") as f:
            data = f.read()
        check(path, data)
        images.append((os.path.abspath(path), version, len(data)))
    major, minor, patch, fix = (int(x) for x in package["version"].split("."))
    word = fix << 24 | major << 16 | minor << 8 | patch
    os.makedirs(outdir, exist_ok=True)
    asm = ["/* Generated by bitfile.py: the bytes of the four firmware images. */",
           "#if defined(_WIN32)",
           '        .section .rdata,"dr"',
           "#else",
           '        .section .rodata',
           "#endif",
           "/* C names take the target's label prefix: an underscore on 32-bit Windows, none elsewhere. */",
           "#define SYMBOL_JOIN(prefix, name) prefix##name",
           "#define SYMBOL_WITH(prefix, name) SYMBOL_JOIN(prefix, name)",
           "#define SYMBOL(name) SYMBOL_WITH(__USER_LABEL_PREFIX__, name)"]
    for i, (path, _, _) in enumerate(images):
        asm += [f"        .globl SYMBOL(vok_firmware_image{i})", "        .balign 16",
                f"SYMBOL(vok_firmware_image{i}):", f'        .incbin "{path}"']
    asm += ["#if defined(__ELF__)", '        .section .note.GNU-stack,"",%progbits', "#endif", ""]
    table = ["// Generated by bitfile.py: the firmware image set.",
             '#include "image_set.h"', "",
             'extern "C" {']
    table += [f"extern const unsigned char vok_firmware_image{i}[];" for i in range(4)]
    table += ["}", "", "namespace vok::firmware {", "",
              f"const char package_string[] = {c_string(package['string'])};",
              f"const std::uint32_t package_version = 0x{word:08X};", "",
              "const imageentry image_set[4] = {"]
    for i, (_, version, size) in enumerate(images):
        table.append(f"    {{vok_firmware_image{i}, {c_string(version)}, {size}}},")
    table += ["};", "", "}  // namespace vok::firmware", ""]
    write_if_changed(os.path.join(outdir, "images.S"), "\n".join(asm))
    write_if_changed(os.path.join(outdir, "image_set.cpp"), "\n".join(table))


def write_if_changed(path, text):
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            if f.read() == text:
                return
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def main(argv):
    try:
        if len(argv) == 4 and argv[1] == "generate":
            generate(argv[2], argv[3])
        elif len(argv) >= 4 and argv[1] == "convert":
            convert(argv[2], argv[3], argv[4:])
        else:
            print(__doc__, file=sys.stderr)
            return 2
    except (Fault, OSError) as e:
        print(f"convert script: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
