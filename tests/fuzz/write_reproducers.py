#!/usr/bin/env python3
"""Writes the minimised reproducers of the renderer's file readers into
tests/fuzz/corpus/<target>/, byte for byte from their descriptions here.

  python3 tests/fuzz/write_reproducers.py

Input forms (see tests/fuzz/RenderFuzz.cpp):
  shaderpackage: a mode byte (bit 0: a packed package file, else the
                 package's content), then the bytes;
  texture:       a mode byte (0: the D3DX calls on a file; 2: the compressed
                 handler, then a u16 ".jpg" length, the ".jpg", the ".png");
  image:         the file alone.
"""
import os
import struct
import zlib

CORPUS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")

BODY_MAGIC = 0x42533344  # our compiled bodies start with it, then their size


def package_content(entries, count=None):
    """The package's content: u32 count, then per entry u16 name length,
    name, u32 data size, data."""
    out = struct.pack("<I", len(entries) if count is None else count)
    for name, data in entries:
        out += struct.pack("<H", len(name)) + name + struct.pack("<I", len(data)) + data
    return out


def packed_record(content):
    """One packed stream record: u8 1, u32 packed size, u32 unpacked size,
    the zlib stream."""
    packed = zlib.compress(content, 9)
    return struct.pack("<BII", 1, len(packed), len(content)) + packed


def png_chunk(kind, data, length=None):
    size = len(data) if length is None else length
    return struct.pack(">I", size) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)
    print("%s/%s: %d bytes" % (target, name, len(data)))


def main():
    # A body whose own size field claims more than its entry holds: the
    # constant table and the device read the claimed size.
    past = struct.pack("<II", BODY_MAGIC, 0x100)
    write("shaderpackage", "body-claims-past-its-entry",
          b"\0" + package_content([(b"vs_2_0VS_SHADOWD", past)]))
    # The same with about 4 GB claimed, as a whole package file.
    huge = struct.pack("<II", BODY_MAGIC, 0xFFFFFFF8) + b"\0" * 8
    write("shaderpackage", "body-claims-4gb",
          b"\1" + packed_record(package_content([(b"ps_2_0PS_OPS_A1", huge)])))
    # A body shorter than the two words every body starts with.
    write("shaderpackage", "body-shorter-than-its-size-field",
          b"\0" + package_content([(b"vs_2_0VS_OPS1", struct.pack("<I", BODY_MAGIC))]))
    # 100,000 entries claimed, the second damaged (a name of 65,535 bytes),
    # zeros behind it so that the claim fits the data: the entry table
    # must not be allocated for the claim.
    content = package_content([(b"a", b"")], count=100000) + struct.pack("<H", 0xFFFF)
    content += b"\0" * (100000 * 6 - len(content) + 4)
    write("shaderpackage", "entry-table-for-the-claimed-count", b"\1" + packed_record(content))
    # 4,000,000 entries of empty names and no data, each six bytes: the
    # claim fits the unpacked bytes, but no entry can be looked up, and a
    # table made for them all would take 672 MB.
    write("shaderpackage", "four-million-empty-entries",
          b"\1" + packed_record(struct.pack("<I", 4000000) + b"\0" * (6 * 4000000)))

    # A run-length TGA header (type 10) of 16384 x 16384 at 32 bits and two
    # bytes of data: the header query must not decode, the decode must not
    # allocate more than the data can encode.
    tga = bytes([0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0]) + struct.pack("<HHBB", 16384, 16384, 32, 8) + b"\x7f\0"
    write("texture", "tga-rle-16384-square-in-2-bytes", b"\0" + tga)

    # A PNG whose text chunk claims 1.5 GB within a 54-byte file.
    ihdr = png_chunk(b"IHDR", struct.pack(">IIBBBBB", 4, 4, 8, 6, 0, 0, 0))
    text = struct.pack(">I", 0x60000000) + b"tEXt" + b"Comment\0abcde"
    png = b"\x89PNG\r\n\x1a\n" + ihdr + text
    assert len(png) == 54
    write("image", "png-chunk-claims-1.5gb", png)
    write("texture", "png-mask-chunk-claims-1.5gb", b"\2\0\0" + png)


if __name__ == "__main__":
    main()
