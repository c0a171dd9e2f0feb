#!/usr/bin/env python3
"""Regenerates resources/firmware.bin byte for byte.

The image is 12288 bytes: pseudo-random code bytes from a fixed-seed xorshift generator,
a version header at 0x1105, and zero padding at the end, as a real EEPROM image has.
"""
import pathlib
import sys

LENGTH = 0x3000
CODE_END = 0x2E40  # everything after this is zero padding
HEADER_AT = 0x1105
MARKER = bytes([0xFF, 0xAB, 0xCD, 0xEF])
HEADER = bytes([0x01, 0x00, 0x10, 0x01, 0x07, 0x23, 0x13, 0x54]) + b"Q7R1(OPT) "


def xorshift32(state):
    while True:
        state ^= (state << 13) & 0xFFFFFFFF
        state ^= state >> 17
        state ^= (state << 5) & 0xFFFFFFFF
        yield state & 0xFF


def build():
    rng = xorshift32(0x51A7E5)
    image = bytearray(next(rng) for _ in range(CODE_END)) + bytearray(LENGTH - CODE_END)
    # A real marker must be the first one: break every accidental FF AB CD EF.
    for i in range(len(image) - 3):
        if image[i:i + 4] == MARKER:
            image[i + 3] = 0xEE
    record = MARKER + HEADER
    image[HEADER_AT:HEADER_AT + len(record)] = record
    assert image.find(MARKER) == HEADER_AT
    assert len(image) == LENGTH
    return bytes(image)


if __name__ == "__main__":
    out = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else
                       pathlib.Path(__file__).resolve().parent.parent / "resources" / "firmware.bin")
    out.write_bytes(build())
    print(f"wrote {out} ({LENGTH} bytes)")
