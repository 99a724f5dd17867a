#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_protocol: whole phone answers for a few
download paths, so the fuzzer starts from replies that reach deep into the
protocol. Input layout: flags, first region length (3 bytes LE), second
region length (2 bytes LE), then the phone's bytes."""
import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
HANDSHAKE = bytes([0x58, 0x5C, 0xAA]) * 20
IMAGE_RECORD = b"7" * 32
MARKER = b"CVLbootloaderVC_"


def header(flags, first, second):
    return bytes([flags]) + struct.pack("<I", first)[:3] + struct.pack("<H", second)


def dump(blocks, size, marker_at):
    body = bytearray((i * 31 + 5) & 0xFF for i in range(blocks * size))
    if marker_at is not None:
        body[marker_at:marker_at + 32] = MARKER + IMAGE_RECORD[16:]
    return bytes([0x5A]) + struct.pack(">II", blocks, size) + bytes(body)


def transfer(block_replies):
    return bytes([0x5A, 0x5A]) + b"".join(block_replies) + bytes([0x5A])


ACCEPT = bytes([0x69])
ASK_AGAIN = bytes([0x33, 0x5A, 0x69])

seeds = {
    # Search, matching record, two regions of one block each.
    "search_update": header(1, 100, 50) + HANDSHAKE + bytes([0x5A]) + IMAGE_RECORD
    + bytes([0x5A, 0x5A]) + transfer([ACCEPT, ACCEPT]),
    # First run: the record comes from a two-block dump.
    "first_run_dump": header(3, 40000, 100) + HANDSHAKE + bytes([0x5A]) + b"\xff" * 32
    + dump(2, 2048, 0x100) + bytes([0x5A, 0x5A]) + transfer([ACCEPT, ACCEPT, ACCEPT]),
    # Blocks asked for again, then accepted; an empty second region.
    "ask_again": header(0, 70000, 0) + bytes([0x5A]) + IMAGE_RECORD + bytes([0x5A, 0x5A])
    + transfer([ASK_AGAIN + ACCEPT, ASK_AGAIN + ASK_AGAIN + ACCEPT, ACCEPT]),
    # A block asked for a fourth time.
    "abort": header(0, 10, 10) + bytes([0x5A]) + IMAGE_RECORD + bytes([0x5A, 0x5A])
    + bytes([0x5A, 0x5A]) + ASK_AGAIN * 3 + bytes([0x33]),
    # Refused block.
    "refused": header(0, 10, 10) + bytes([0x5A]) + IMAGE_RECORD + bytes([0x5A, 0x5A])
    + bytes([0x5A, 0x5A, 0x06]),
    # A dump header that overflows 32 bits.
    "dump_overflow": header(2, 1, 1) + bytes([0x5A]) + b"\x00" * 32 + bytes([0x5A])
    + struct.pack(">II", 0xFFFFFFFF, 0x800),
    # Wrong complement in the middle of the handshake.
    "handshake_wrong": header(1, 1, 1) + HANDSHAKE[:30] + bytes([0x58, 0x5C, 0xAB]),
}

os.makedirs(HERE, exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(HERE, name), "wb") as out:
        out.write(data)
