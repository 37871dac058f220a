#!/usr/bin/env python3
"""Copies an archive and gives it a comment: with-comment.py IN OUT COMMENT_FILE

The comment is stored as a "CMT" sub-block (stored method) right after the main header;
its bytes are taken as they are (the ANSI code page of the module's system). The rest of
the archive is copied unchanged.
"""
import struct
import sys
import zlib

SIGNATURE = b"Kez!\x1a\x07\x00"


def comment_block(text: bytes) -> bytes:
    name = b"CMT"
    body = struct.pack(
        "<BHHIIBIIBBHI",
        0x7A,  # sub-block
        0x8000,  # data follows the header
        32 + len(name),
        len(text),  # packed size
        len(text),  # unpacked size
        2,  # origin system
        zlib.crc32(text) & 0xFFFFFFFF,
        0x50221883,  # DOS date and time
        29,  # method version
        0x30,  # stored
        len(name),
        0,  # attributes: ANSI text
    ) + name
    crc = zlib.crc32(body) & 0xFFFF
    return struct.pack("<H", crc) + body + text


def main() -> None:
    source, target, comment_file = sys.argv[1:4]
    data = open(source, "rb").read()
    start = data.index(SIGNATURE)
    main_at = start + len(SIGNATURE)
    (main_size,) = struct.unpack_from("<H", data, main_at + 5)
    after_main = main_at + main_size
    comment = open(comment_file, "rb").read()
    with open(target, "wb") as out:
        out.write(data[:after_main] + comment_block(comment) + data[after_main:])


if __name__ == "__main__":
    main()
