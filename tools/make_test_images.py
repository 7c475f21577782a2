#!/usr/bin/env python3
"""Writes the project's own test firmware images to res/firmware/, deterministically.

These are not controller firmware: they are patterned bytes shaped to exercise the three
transfer protocols (blank chunks, zero chunks, varied data, large byte sums).
"""
import os
import sys


def generator(seed):
    state = seed & 0xFFFFFFFF
    while True:  # xorshift32
        state ^= (state << 13) & 0xFFFFFFFF
        state ^= state >> 17
        state ^= (state << 5) & 0xFFFFFFFF
        yield state & 0xFF


def varied(length, seed):
    g = generator(seed)
    return bytearray(next(g) for _ in range(length))


def mode1():
    image = varied(32768, 0x1A2B3C4D)
    # Blank 32-byte chunks inside the programmed region 0x0A00..0x7FFF, single and in runs.
    for chunk in (0x0A00, 0x0B20, 0x1000, 0x1020, 0x1040, 0x2FE0, 0x4000, 0x7F00):
        image[chunk:chunk + 32] = b"\xff" * 32
    # A whole blank 512-byte block too.
    image[0x5200:0x5400] = b"\xff" * 512
    # Chunks that are blank but for one byte are still sent.
    image[0x3000:0x3020] = b"\xff" * 31 + b"\x00"
    image[32766] = 0x5A  # the last byte that is ever programmed
    image[32767] = 0xC3  # never sent
    return image


def mode2():
    image = varied(32768, 0x5EED0002)
    for index in (3, 4, 100, 300, 548):
        image[index * 56:index * 56 + 56] = b"\xff" * 56
    for index in (5, 200, 201, 547):
        image[index * 56:index * 56 + 56] = b"\x00" * 56
    return image


def mode3():
    image = varied(195933, 0x0BADF00D)
    # Bias towards large bytes so that the byte sum is well above 0xFFFFFF.
    for i in range(0, len(image), 7):
        image[i] |= 0x80
    image[58 * 10:58 * 11] = b"\xff" * 58
    image[58 * 20:58 * 21] = b"\x00" * 58
    assert sum(image) > 0xFFFFFF
    return image


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "res", "firmware")
    out = sys.argv[1] if len(sys.argv) > 1 else root
    os.makedirs(out, exist_ok=True)
    for name, data in (("mode1.bin", mode1()), ("mode2.bin", mode2()), ("mode3.bin", mode3())):
        with open(os.path.join(out, name), "wb") as f:
            f.write(bytes(data))


if __name__ == "__main__":
    main()
