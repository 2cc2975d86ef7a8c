#!/usr/bin/env python3
"""Writes a small baseline JPEG picture, with nothing beyond Python itself.

    scripts/make_jpeg.py SEED [SIZE] > picture.jpg      # or --hex for "0x..." text

The picture is SIZE x SIZE pixels (a multiple of 8, default 96): a coloured
background and a round "face" in another colour, both chosen from SEED, so
each seed gives a different picture. Every 8x8 block is one flat colour: the
blocks carry only their average (DC) and no detail, which keeps the encoder a
few lines long while the file stays a valid JPEG any viewer opens.
"""
import colorsys
import random
import struct
import sys


def segment(marker, payload):
    return struct.pack(">BBH", 0xFF, marker, len(payload) + 2) + payload


class Bits:
    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.n = 0

    def put(self, code, length):
        for i in range(length - 1, -1, -1):
            self.acc = (self.acc << 1) | ((code >> i) & 1)
            self.n += 1
            if self.n == 8:
                self.out.append(self.acc)
                if self.acc == 0xFF:
                    self.out.append(0)  # byte stuffing
                self.acc = 0
                self.n = 0

    def flush(self):
        if self.n:
            self.put((1 << (8 - self.n)) - 1, 8 - self.n)  # pad with ones
        return bytes(self.out)


# DC categories 0-11 (the usual luminance DC table of the JPEG standard).
DC_BITS = [0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0]
DC_CODES = {}
code = 0
value = 0
for length, count in enumerate(DC_BITS, start=1):
    for _ in range(count):
        DC_CODES[value] = (code, length)
        code += 1
        value += 1
    code <<= 1
# AC: only "end of block" (code 0) is ever written; a second symbol keeps the
# table an ordinary one.
AC_BITS = [1, 1] + [0] * 14
AC_VALUES = [0x00, 0x01]
QUANT = 8


def encode(pixels, size):
    """pixels[y][x] = (r, g, b); returns the JPEG file's bytes."""
    header = segment(0xE0, b"JFIF\0\x01\x01\0\0\x01\0\x01\0\0")
    header += segment(0xDB, bytes([0]) + bytes([QUANT] * 64))
    header += segment(0xC0, struct.pack(">BHHB", 8, size, size, 3) +
                      bytes([1, 0x11, 0, 2, 0x11, 0, 3, 0x11, 0]))
    header += segment(0xC4, bytes([0x00] + DC_BITS + list(range(12))))
    header += segment(0xC4, bytes([0x10] + AC_BITS + AC_VALUES))
    header += segment(0xDA, bytes([3, 1, 0x00, 2, 0x00, 3, 0x00, 0, 63, 0]))
    bits = Bits()
    previous = [0, 0, 0]
    for by in range(0, size, 8):
        for bx in range(0, size, 8):
            r, g, b = (sum(pixels[by + y][bx + x][c] for y in range(8) for x in range(8)) / 64
                       for c in range(3))
            ycc = (0.299 * r + 0.587 * g + 0.114 * b,
                   128 - 0.168736 * r - 0.331264 * g + 0.5 * b,
                   128 + 0.5 * r - 0.418688 * g - 0.081312 * b)
            for c in range(3):
                # The DC coefficient is 8 x the block's level-shifted mean.
                dc = round((ycc[c] - 128) * 8 / QUANT)
                diff = dc - previous[c]
                previous[c] = dc
                category = abs(diff).bit_length()
                bits.put(*DC_CODES[category])
                if category:
                    bits.put(diff if diff > 0 else diff + (1 << category) - 1, category)
                bits.put(0, 1)  # end of block
    return b"\xFF\xD8" + header + bits.flush() + b"\xFF\xD9"


def picture(seed, size):
    rng = random.Random(seed)
    hue = rng.random()
    back = [round(255 * v) for v in colorsys.hsv_to_rgb(hue, 0.35, 0.9)]
    face = [round(255 * v) for v in colorsys.hsv_to_rgb((hue + 0.5) % 1, 0.6, 0.7)]
    cx, cy, radius = size / 2, size / 2, size * rng.uniform(0.25, 0.4)
    return [[face if (x - cx) ** 2 + (y - cy) ** 2 < radius ** 2 else back for x in range(size)]
            for y in range(size)]


def main():
    args = [a for a in sys.argv[1:] if a != "--hex"]
    seed = int(args[0]) if args else 1
    size = int(args[1]) if len(args) > 1 else 96
    data = encode(picture(seed, size), size - size % 8)
    if "--hex" in sys.argv:
        sys.stdout.write("0x" + data.hex().upper())
    else:
        sys.stdout.buffer.write(data)


if __name__ == "__main__":
    main()
