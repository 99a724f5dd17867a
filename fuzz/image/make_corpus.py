#!/usr/bin/env python3
"""Writes the image loader's seed corpus: a few tiny image files, sound and
broken, into fuzz/image/corpus/."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus")


def image(version, first, second, first_data, second_data, header_length=None, version_length=None):
    fields = 25 + len(version)
    h = fields if header_length is None else header_length
    l = len(version) if version_length is None else version_length
    head = struct.pack(">HH", h, l) + version + b"\x00"
    head += struct.pack(">II", *first) + b"\x00" * 4 + struct.pack(">II", *second)
    if 4 <= h < 0x8000:  # fill the gap or let the data overlap the fields
        head = head.ljust(h, b"\xff")[:h]
    return head + first_data + second_data


def main():
    os.makedirs(OUT, exist_ok=True)
    seeds = {
        "sound": image(b"V1.00", (0, 7), (0x100, 0x103), bytes(range(8)), b"abcd"),
        "sound_32_byte_version": image(b"CVL" + b"x" * 29, (0x1000, 0x1000), (0x2000, 0x2001),
                                       b"\x5a", b"\x01\x02"),
        "gap_0x90": image(b"AB", (0, 3), (4, 5), b"1234", b"56", header_length=0x90),
        "header_length_bit15": image(b"AB", (0, 3), (4, 5), b"1234", b"56", header_length=0x801b),
        "version_length_bit15": image(b"AB", (0, 3), (4, 5), b"1234", b"56", version_length=0x8002),
        "backwards_region": image(b"AB", (9, 3), (4, 5), b"1234", b"56"),
        "huge_region": image(b"AB", (0, 0xFFFFFFF0), (4, 5), b"1234", b"56"),
        "truncated_header": image(b"V1.00", (0, 7), (0x100, 0x103), b"", b"")[:14],
    }
    for name, data in seeds.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
